// Trimming, tokenising, case-insensitive comparison and formatting.
#include "hsim.hpp"

#include "runtime/Utilities.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

using namespace std::string_view_literals;
using Texts = std::vector<std::string>;

TEST(StringTrimTest, RemovesCLocaleWhiteSpaceFromEachSide)
{
    // Both sides, the left, the right. 0xA0 is a no-break space in Latin-1 but
    // no white space in the C locale.
    const struct { const char* text; Texts trimmed; } kTexts[] = {
        {"  /dev/ttyACM0\n", {"/dev/ttyACM0", "/dev/ttyACM0\n", "  /dev/ttyACM0"}},
        {"     ", {"", "", ""}}, {"", {"", "", ""}},
        {" \ta b\t \r\n", {"a b", "a b\t \r\n", " \ta b"}},
        {"\v\f\r\n\t a b \n", {"a b", "a b \n", "\v\f\r\n\t a b"}},
        {"\xA0x\xA0", {"\xA0x\xA0", "\xA0x\xA0", "\xA0x\xA0"}}};
    for (const auto& c : kTexts) {
        std::string both = c.text, left = c.text, right = c.text;
        StringTrim(both.data());
        StringTrimLeft(left.data());
        StringTrimRight(right.data());
        EXPECT_EQ(Texts({both.c_str(), left.c_str(), right.c_str()}), c.trimmed)
            << '"' << c.text << '"';
    }
    StringTrim(nullptr);
    StringTrimLeft(nullptr);
    StringTrimRight(nullptr);
}

TEST(StringTokenTest, AppendsTheNonEmptyTokensBetweenAnyDelimiters)
{
    // No delimiter at all gives the whole text.
    const struct { const char* text; const char* delimiters; Texts out; } kTexts[] = {
        {",,a,,b;c;", ",;", {"kept", "a", "b", "c"}}, {"1.2.3", "", {"kept", "1.2.3"}},
        {"", ".", {"kept"}}, {"...", ".", {"kept"}}, {nullptr, ".", {"kept"}},
        {"a.b", nullptr, {"kept"}}};
    for (const auto& c : kTexts) {
        Texts out{"kept"};
        StringToken(c.text, c.delimiters, out);
        EXPECT_EQ(out, c.out) << "case " << &c - kTexts;
    }
}

TEST(ParseBySpaceTest, TerminatesTokensInPlaceUpToTheLimit)
{
    // `after` is the whole text afterwards: the first token beyond the limit
    // is terminated but not stored, and the scan ends there.
    const struct { std::string_view text; int max; Texts tokens; std::string_view after; }
        kTexts[] = {{" a\tb  c d", 2, {"a", "b"}, " a\0b\0 c\0d"sv},
                    {"\r\none two\tsix\n", 8, {"one", "two", "six"}, "\r\none\0two\0six\0"sv},
                    {" \t\r\n ", 4, {}, " \t\r\n "}, {"", 4, {}, ""}, {"a b", 0, {}, "a\0b"sv}};
    for (const auto& c : kTexts) {
        std::string text(c.text);
        char* tokens[10] = {}; // room for a faulty count past the limit
        const int count = parseBySpace(text.data(), tokens, c.max);
        EXPECT_EQ(Texts(tokens, tokens + count), c.tokens) << c.text;
        EXPECT_EQ(tokens[count], nullptr) << c.text;
        EXPECT_EQ(std::string_view(text), c.after) << c.text;
    }
    char text[] = "a b";
    char* tokens[4] = {};
    EXPECT_EQ(parseBySpace(nullptr, tokens, 4), 0);
    EXPECT_EQ(parseBySpace(text, nullptr, 4), 0);
    EXPECT_STREQ(text, "a b");
}

TEST(StrCaseCmpTest, ComparesFoldedAsciiLettersAsUnsignedBytes)
{
    // '_' (0x5F) lies between 'Z' and 'a' (0x61); bytes above 0x7F are not folded.
    const char* text = "abc";
    const struct { const char* a; const char* b; int result; } kPairs[] = {
        {nullptr, nullptr, 0}, {text, text, 0}, {nullptr, "abc", -1}, {"abc", nullptr, 1},
        {"", "", 0}, {"MaR", "mAr", 0}, {"ABC", "abd", 'c' - 'd'}, {"ab", "ABC", -'c'},
        {"abc", "AB", 'c'}, {"_", "A", -2}, {"\xE9", "\xC9", 0x20}, {"\xE9", "a", 0xE9 - 'a'},
        {"Zz", "zZ", 0}};
    for (const auto& c : kPairs)
        EXPECT_EQ(_strcasecmp(c.a, c.b), c.result) << "case " << &c - kPairs;
}

TEST(StringFormatTest, FormatsIntoABufferThatGrows)
{
    // "%s" starts with 4 bytes: 3 characters and the terminator fit, 4 do not.
    // No wide character outside ASCII can be written in the C locale: the
    // encoding error gives the empty text rather than a buffer growing forever.
    const std::string longText(5000, 'x');
    const std::pair<std::string, std::string> kFormatted[] = {
        {StringFormat("%d-%s-%.2f", 42, "abc", 1.5), "42-abc-1.50"},
        {StringFormat("%s", "abc"), "abc"}, {StringFormat("%s", "abcd"), "abcd"},
        {StringFormat("<%s>", longText.c_str()), "<" + longText + ">"},
        {StringFormat("%ls", L"\u00e9"), ""}};
    for (const auto& [formatted, expected] : kFormatted)
        EXPECT_EQ(formatted, expected);
}
