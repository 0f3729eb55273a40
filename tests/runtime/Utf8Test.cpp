// UTF-8 decoding into 16-bit code points.
#include "hsim.h"

#include <gtest/gtest.h>

namespace {

constexpr int kUndecodable = 0x22E0;

int Decode(const char* bytes, int* length)
{
    *length = -1;
    return UTF8ToUnicodeChar(bytes, length);
}

TEST(Utf8CharTest, OneTwoAndThreeByteForms)
{
    int length = 0;
    EXPECT_EQ(Decode("A", &length), 0x41);
    EXPECT_EQ(length, 1);
    EXPECT_EQ(Decode("", &length), 0); // the terminator is a character too
    EXPECT_EQ(length, 1);
    // e acute: (0xC3 & 0x1F) x 64 + (0xA9 & 0x3F) = 3 x 64 + 41 = 233.
    EXPECT_EQ(Decode("\xC3\xA9", &length), 0xE9);
    EXPECT_EQ(length, 2);
    // Euro sign: 2 x 4096 + 2 x 64 + 44 = 8364.
    EXPECT_EQ(Decode("\xE2\x82\xAC", &length), 0x20AC);
    EXPECT_EQ(length, 3);
    // Highest three-byte code.
    EXPECT_EQ(Decode("\xEF\xBF\xBF", &length), 0xFFFF);
    EXPECT_EQ(length, 3);
    // Overlong forms are decoded as they come.
    EXPECT_EQ(Decode("\xC0\x80", &length), 0);
    EXPECT_EQ(length, 2);
}

TEST(Utf8CharTest, UndecodableInput)
{
    int length = 0;
    // Four-byte sequence (a code outside 16 bits).
    EXPECT_EQ(Decode("\xF0\x9F\x98\x80", &length), kUndecodable);
    EXPECT_EQ(length, 0);
    // Stray continuation byte.
    EXPECT_EQ(Decode("\x80", &length), kUndecodable);
    EXPECT_EQ(length, 0);
    // Broken sequences, including ones cut short by the terminator.
    EXPECT_EQ(Decode("\xC3\x41", &length), kUndecodable);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(Decode("\xC3", &length), kUndecodable);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(Decode("\xE2\x82", &length), kUndecodable);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(Decode("\xE2\x82\x41", &length), kUndecodable);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(Decode("\xFF", &length), kUndecodable);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(Decode(nullptr, &length), kUndecodable);
    EXPECT_EQ(length, 0);
    // The length is optional.
    EXPECT_EQ(UTF8ToUnicodeChar("\xC3\xA9", nullptr), 0xE9);
}

TEST(Utf8BufTest, DecodesUpToTheTerminator)
{
    wchar_t out[8];
    for (wchar_t& c : out) {
        c = L'#';
    }
    UTF8ToUnicodeBuf("a\xC3\xA9\xE2\x82\xAC" "b", out);
    EXPECT_EQ(out[0], L'a');
    EXPECT_EQ(out[1], static_cast<wchar_t>(0xE9));
    EXPECT_EQ(out[2], static_cast<wchar_t>(0x20AC));
    EXPECT_EQ(out[3], L'b');
    EXPECT_EQ(out[4], L'\0');
    EXPECT_EQ(out[5], L'#');
}

TEST(Utf8BufTest, UndecodableCharacterEndsTheConversion)
{
    wchar_t out[8];
    for (wchar_t& c : out) {
        c = L'#';
    }
    UTF8ToUnicodeBuf("a\x80" "bc", out);
    EXPECT_EQ(out[0], L'a');
    EXPECT_EQ(out[1], static_cast<wchar_t>(kUndecodable));
    EXPECT_EQ(out[2], L'\0');
    EXPECT_EQ(out[3], L'#');
}

TEST(Utf8BufTest, EmptyNullAndNoOutput)
{
    wchar_t out[2] = {L'#', L'#'};
    UTF8ToUnicodeBuf("", out);
    EXPECT_EQ(out[0], L'\0');
    EXPECT_EQ(out[1], L'#');
    out[0] = L'#';
    UTF8ToUnicodeBuf(nullptr, out);
    EXPECT_EQ(out[0], L'\0');
    UTF8ToUnicodeBuf("abc", nullptr); // refused, nothing written
}

} // namespace
