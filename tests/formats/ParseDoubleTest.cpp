// The number reader of the ECG text files: atof of the C locale on a range of
// characters. Short plain decimals take a quick path of their own; these
// cases sit on both sides of its limits (15 digits, an exponent or a letter
// after the digits). Expected values are the compiler's reading of the same
// literals. (The numbers fuzzer compares the reader with strtod at length.)
#include "formats/EcgFiles.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>

namespace {

using hsim::ParseDouble;

double Parse(const std::string& text)
{
    return ParseDouble(text.data(), text.data() + text.size());
}

// Plain decimals on both sides of the quick path's limits, the forms atof
// reads besides them, and atoi.
TEST(ParseDoubleTest, FormsAtofReads)
{
    const struct {
        const char* text;
        double value;
    } rows[] = {{"1.234", 1.234}, {"-0.045\n", -0.045}, {"5.", 5.0}, {".5", 0.5}, {"1.2.3", 1.2}, {"12abc", 12.0},
                {"1234567890123456", 1234567890123456.0}, {"2.5E-1", 0.25}, {".", 0.0}, {" \t+1.5e1x", 15.0}, {"0x1p3", 8.0}, {"-0X.8", -0.5}, {"0x10", 16.0}, {"7x", 7.0}, {"abc", 0.0},
                {"+-1", 0.0}, {"0x", 0.0}, {"1e999", HUGE_VAL}, {"-1e-999", 0.0}, {"-inf", -HUGE_VAL}, {"3,5", 3.0},
                {"1.5e+x", 1.5}, {"123456789012345", 123456789012345.0}, {"9007199254740993", 9007199254740992.0},
                {"0.1234567890123456789", 0.1234567890123456789}, {"0.000000000000000001", 1e-18},
                {"0xinf", 0.0}, {"0x1p+-5", 1.0}, {"0x1ep-2000", 0.0}, {"1e-5000e5", 0.0}};
    for (const auto& r : rows)
        EXPECT_EQ(Parse(r.text), r.value) << r.text;
    EXPECT_TRUE(std::isnan(Parse("nan")));
    EXPECT_TRUE(std::signbit(Parse("-0.000")));
    const struct {
        const char* text;
        int value;
    } ints[] = {{" 12abc", 12}, {"-7", -7}, {"99999999999", INT_MAX}, {"-99999999999", INT_MIN}, {"x1", 0}};
    for (const auto& r : ints)
        EXPECT_EQ(hsim::ParseInt(r.text, r.text + strlen(r.text)), r.value) << r.text;
}

}  // namespace
