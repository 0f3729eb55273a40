// Trimming, tokenising, case-insensitive comparison and formatting.
#include "hsim.hpp"

#include "runtime/Utilities.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// ------------------------------------------------------------------- trim

TEST(StringTrimTest, TrimsADevicePathListingLine)
{
    char line[] = "  /dev/ttyACM0\n";
    StringTrim(line);
    EXPECT_STREQ(line, "/dev/ttyACM0");

    char blanks[] = "     ";
    StringTrim(blanks);
    EXPECT_STREQ(blanks, "");

    char empty[] = "";
    StringTrim(empty);
    EXPECT_STREQ(empty, "");

    StringTrim(nullptr);
    StringTrimLeft(nullptr);
    StringTrimRight(nullptr);
}

TEST(StringTrimTest, EachSideLeavesTheOtherAndTheInside)
{
    char right[] = " \ta b\t \r\n";
    StringTrimRight(right);
    EXPECT_STREQ(right, " \ta b");

    char left[] = "\v\f\r\n\t a b \n";
    StringTrimLeft(left);
    EXPECT_STREQ(left, "a b \n");

    char nothingToDo[] = "x";
    StringTrim(nothingToDo);
    EXPECT_STREQ(nothingToDo, "x");
}

TEST(StringTrimTest, OnlyCLocaleWhiteSpaceIsRemoved)
{
    // 0xA0 is a no-break space in Latin-1 but not white space in the C
    // locale; a byte above 0x7F must not be mistaken for it.
    char text[] = "\xA0x\xA0";
    StringTrim(text);
    EXPECT_STREQ(text, "\xA0x\xA0");
}

// ---------------------------------------------------------------- tokens

TEST(StringTokenTest, SplitsOnAnyDelimiterWithoutEmptyTokens)
{
    std::vector<std::string> out{"kept"};
    const char* text = ",,a,,b;c;";
    StringToken(text, ",;", out);
    const std::vector<std::string> expected{"kept", "a", "b", "c"};
    EXPECT_EQ(out, expected);
    EXPECT_STREQ(text, ",,a,,b;c;"); // the input is not written
}

TEST(StringTokenTest, NothingToSplit)
{
    std::vector<std::string> out;
    StringToken("", ".", out);
    StringToken("...", ".", out);
    StringToken(nullptr, ".", out);
    StringToken("a.b", nullptr, out);
    EXPECT_TRUE(out.empty());

    StringToken("1.2.3", "", out); // no delimiter: the whole text
    ASSERT_EQ(out.size(), 1U);
    EXPECT_EQ(out[0], "1.2.3");
}

TEST(ParseBySpaceTest, StopsAtTheLimit)
{
    char text[] = " a\tb  c d";
    char* tokens[2] = {nullptr, nullptr};
    EXPECT_EQ(parseBySpace(text, tokens, 2), 2);
    EXPECT_STREQ(tokens[0], "a");
    EXPECT_STREQ(tokens[1], "b");
    // The first token beyond the limit, "c", is terminated but not stored,
    // and the scan ends there: "d" is untouched.
    EXPECT_STREQ(text + 6, "c");
    EXPECT_STREQ(text + 8, "d");
}

TEST(ParseBySpaceTest, TokensPointIntoTheText)
{
    char text[] = "\r\nalpha beta\tgamma\n";
    char* tokens[8] = {};
    ASSERT_EQ(parseBySpace(text, tokens, 8), 3);
    EXPECT_EQ(tokens[0], text + 2);
    EXPECT_STREQ(tokens[0], "alpha");
    EXPECT_STREQ(tokens[1], "beta");
    EXPECT_STREQ(tokens[2], "gamma");
    EXPECT_EQ(tokens[3], nullptr);
}

TEST(ParseBySpaceTest, EmptyAndRefusedInput)
{
    char* tokens[4] = {};
    char blanks[] = " \t\r\n ";
    EXPECT_EQ(parseBySpace(blanks, tokens, 4), 0);
    char empty[] = "";
    EXPECT_EQ(parseBySpace(empty, tokens, 4), 0);
    EXPECT_EQ(parseBySpace(nullptr, tokens, 4), 0);
    char text[] = "a b";
    EXPECT_EQ(parseBySpace(text, nullptr, 4), 0);
    EXPECT_STREQ(text, "a b");
    // No room at all: the first token is terminated, nothing stored.
    EXPECT_EQ(parseBySpace(text, tokens, 0), 0);
    EXPECT_EQ(tokens[0], nullptr);
    EXPECT_STREQ(text, "a");
}

// ------------------------------------------------------- _strcasecmp

TEST(StrCaseCmpTest, NullHandling)
{
    const char* text = "abc";
    EXPECT_EQ(_strcasecmp(nullptr, nullptr), 0);
    EXPECT_EQ(_strcasecmp(text, text), 0);
    EXPECT_EQ(_strcasecmp(nullptr, "abc"), -1);
    EXPECT_EQ(_strcasecmp("abc", nullptr), 1);
}

TEST(StrCaseCmpTest, FoldsAsciiLettersBeforeComparing)
{
    EXPECT_EQ(_strcasecmp("MaR", "mAr"), 0);
    EXPECT_EQ(_strcasecmp("", ""), 0);
    // 'c' - 'd' after folding.
    EXPECT_EQ(_strcasecmp("ABC", "abd"), -1);
    // The shorter string ends first: 0 - 'c'.
    EXPECT_EQ(_strcasecmp("ab", "ABC"), -'c');
    EXPECT_EQ(_strcasecmp("abc", "AB"), 'c');
    // '_' (0x5F) lies between 'Z' and 'a': against folded 'A' it is
    // 0x5F - 0x61 = -2, not 0x5F - 0x41.
    EXPECT_EQ(_strcasecmp("_", "A"), -2);
    // Bytes above 0x7F are not folded and compare unsigned: 0xE9 - 0xC9.
    EXPECT_EQ(_strcasecmp("\xE9", "\xC9"), 0x20);
    EXPECT_GT(_strcasecmp("\xE9", "a"), 0);
}

// --------------------------------------------------------------- format

TEST(StringFormatTest, FormatsArguments)
{
    EXPECT_EQ(StringFormat("%d-%s-%.2f", 42, "abc", 1.5), "42-abc-1.50");
    EXPECT_EQ(StringFormat("100%%"), "100%");
    EXPECT_EQ(StringFormat(""), "");
    EXPECT_EQ(StringFormat("/dev/ttyACM%d", 3), "/dev/ttyACM3");
}

TEST(StringFormatTest, GrowsTheBufferWhenTheTextDoesNotFit)
{
    // "%s" starts with a 4-byte buffer: 3 characters fit with the
    // terminator, 4 need the second round.
    EXPECT_EQ(StringFormat("%s", "abc"), "abc");
    EXPECT_EQ(StringFormat("%s", "abcd"), "abcd");
    const std::string longText(5000, 'x');
    EXPECT_EQ(StringFormat("<%s>", longText.c_str()), "<" + longText + ">");
}

TEST(StringFormatTest, EncodingErrorGivesEmptyTextInsteadOfLoopingForever)
{
    // A wide character outside ASCII cannot be written in the C locale, so
    // the formatting itself fails whatever the buffer size.
    EXPECT_EQ(StringFormat("%ls", L"\u00e9"), "");
}

TEST(GenerateTempFilePathTest, IsTheCurrentDirectory)
{
    EXPECT_STREQ(GenerateTempFilePath("anything"), "./");
    EXPECT_STREQ(GenerateTempFilePath(nullptr), "./");
}

} // namespace
