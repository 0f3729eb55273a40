// The number reader of the ECG text files: atof of the C locale on a range of
// characters. Short plain decimals take a quick path of their own; these
// cases sit on both sides of its limits (15 digits, an exponent or a letter
// after the digits, a second point). Expected values are the compiler's
// reading of the same literals, and strtod of the C locale (this program
// never changes its locale) for the generated ones.
#include "synth/EcgFiles.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

using hsim::ParseDouble;

double Parse(const std::string& text)
{
    return ParseDouble(text.data(), text.data() + text.size());
}

bool SameBits(double a, double b)
{
    return memcmp(&a, &b, sizeof a) == 0;
}

// What strtod leaves out (it is checked against below): the forms atof
// reads besides decimals, the limits of the quick path, and atoi.
TEST(ParseDoubleTest, FormsBesidesPlainDecimals)
{
    const struct {
        const char* text;
        double value;
    } rows[] = {{" \t+1.5e1x", 15.0}, {"0x1p3", 8.0}, {"-0X.8", -0.5}, {"0x10", 16.0}, {"7x", 7.0}, {"abc", 0.0},
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

// Random decimals of 1 to 23 digits with random point, sign, leading blank and
// what follows, bit for bit against strtod.
TEST(ParseDoubleTest, AgreesWithStrtodOnGeneratedDecimals)
{
    std::mt19937_64 random(20240611);
    const char* const signs[] = {"", "", "-", "+"};
    const char* const tails[] = {"", "\n", "\r\n", ",", ",1.5", " ", "e2", "E-3", "e", "a", "Z", ".", ".7", ";"};
    int failures = 0;
    for (int i = 0; i < 200000 && failures < 10; ++i) {
        std::string text;
        if (random() % 8 == 0)
            text += " \t";
        text += signs[random() % 4];
        const int before = static_cast<int>(random() % 12);
        const int after = static_cast<int>(random() % 13) + (before == 0 ? 1 : 0);
        for (int d = 0; d < before; ++d)
            text += static_cast<char>('0' + random() % 10);
        if (after > 0 || random() % 2)
            text += '.';
        for (int d = 0; d < after; ++d)
            text += static_cast<char>('0' + random() % 10);
        text += tails[random() % (sizeof tails / sizeof tails[0])];
        const double expected = std::strtod(text.c_str(), nullptr);
        const double got = Parse(text);
        if (!SameBits(got, expected)) {
            ADD_FAILURE() << "\"" << text << "\": " << got << ", strtod " << expected;
            ++failures;
        }
    }
}

}  // namespace
