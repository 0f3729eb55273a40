// The number reader of the ECG text files: atof of the C locale on a range of
// characters. Short plain decimals take a quick path of their own; these
// cases sit on both sides of its limits (15 digits, an exponent or a letter
// after the digits, a second point). Expected values are the compiler's
// reading of the same literals, and strtod of the C locale (this program
// never changes its locale) for the generated ones.
#include "synth/EcgFiles.h"

#include <gtest/gtest.h>

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

TEST(ParseDoubleTest, PlainDecimalsAsInDataFiles)
{
    EXPECT_EQ(Parse("1.234"), 1.234);
    EXPECT_EQ(Parse("-0.045\n"), -0.045);
    EXPECT_EQ(Parse("2.500\r\n"), 2.5);
    EXPECT_EQ(Parse("  +12.5,3"), 12.5);
    EXPECT_EQ(Parse("0.1"), 0.1);
    EXPECT_EQ(Parse("5."), 5.0);
    EXPECT_EQ(Parse(".5"), 0.5);
    EXPECT_EQ(Parse("1.2.3"), 1.2);
    EXPECT_EQ(Parse("12abc"), 12.0);
    EXPECT_EQ(Parse("1;2"), 1.0);
    const double negativeZero = Parse("-0.000");
    EXPECT_EQ(negativeZero, 0.0);
    EXPECT_TRUE(std::signbit(negativeZero));
}

TEST(ParseDoubleTest, NoDigitsIsZero)
{
    EXPECT_TRUE(SameBits(Parse("."), 0.0));
    EXPECT_TRUE(SameBits(Parse(""), 0.0));
    EXPECT_EQ(Parse("-"), 0.0);
    EXPECT_TRUE(SameBits(Parse("+-1"), 0.0));
    EXPECT_TRUE(SameBits(Parse("..5"), 0.0));
}

TEST(ParseDoubleTest, WhatFollowsTheDigitsCanStillBelongToTheNumber)
{
    EXPECT_EQ(Parse("1e3"), 1000.0);
    EXPECT_EQ(Parse("2.5E-1"), 0.25);
    EXPECT_EQ(Parse("-1.5e+2,0"), -150.0);
    EXPECT_EQ(Parse("1.5e"), 1.5);     // an exponent without digits is not one
    EXPECT_EQ(Parse("1.5e+x"), 1.5);
    EXPECT_EQ(Parse("0x10"), 16.0);    // the 0 is the start of a hexadecimal number
    EXPECT_EQ(Parse("0x1p3"), 8.0);
    EXPECT_EQ(Parse("-0X.8"), -0.5);
    EXPECT_EQ(Parse("7x"), 7.0);
    EXPECT_TRUE(std::isinf(Parse("inf")));
    EXPECT_TRUE(std::isnan(Parse("nan")));
}

TEST(ParseDoubleTest, LongDigitStringsAreRoundedOnce)
{
    EXPECT_EQ(Parse("123456789012345"), 123456789012345.0);    // 15 digits
    EXPECT_EQ(Parse("0.12345678901234"), 0.12345678901234);    // 15 digits
    EXPECT_EQ(Parse("1234567890123456"), 1234567890123456.0);  // 16 digits
    EXPECT_EQ(Parse("9007199254740993"), 9007199254740992.0);  // 2^53 + 1: ties to even
    EXPECT_EQ(Parse("1234567890123456789"), 1234567890123456789.0);
    EXPECT_EQ(Parse("0.1234567890123456789"), 0.1234567890123456789);
    EXPECT_EQ(Parse("98765432109876.54321"), 98765432109876.54321);
    EXPECT_EQ(Parse("0.000000000000000001"), 1e-18);
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
