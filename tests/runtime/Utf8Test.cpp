// UTF-8 decoding into 16-bit code points.
#include "hsim.h"

#include <gtest/gtest.h>

#include <string>

constexpr int kBad = 0x22E0; // an undecodable character

TEST(Utf8CharTest, DecodesOneToThreeByteFormsAndNothingElse)
{
    // The terminator is a character too; overlong forms are decoded as they
    // come; four-byte forms, stray continuation bytes and broken sequences
    // (also those cut short by the terminator) are undecodable.
    const struct { const char* bytes; int code; int length; } kChars[] = {
        {"A", 0x41, 1},               {"", 0, 1},                   {"\xC3\xA9", 0xE9, 2},
        {"\xE2\x82\xAC", 0x20AC, 3},   {"\xEF\xBF\xBF", 0xFFFF, 3},   {"\xC0\x80", 0, 2},
        {"\xF0\x9F\x98\x80", kBad, 0}, {"\x80", kBad, 0},             {"\xC3\x41", kBad, 0},
        {"\xC3", kBad, 0},            {"\xE2\x82", kBad, 0},         {"\xE2\x82\x41", kBad, 0},
        {"\xE2\x41\x80", kBad, 0},     {"\xFF", kBad, 0},             {nullptr, kBad, 0}};
    for (const auto& c : kChars) {
        int length = -1;
        EXPECT_EQ(UTF8ToUnicodeChar(c.bytes, &length), c.code) << "case " << &c - kChars;
        EXPECT_EQ(length, c.length) << "case " << &c - kChars;
    }
    EXPECT_EQ(UTF8ToUnicodeChar("\xC3\xA9", nullptr), 0xE9); // the length is optional
}

TEST(Utf8BufTest, DecodesUpToTheTerminatorOrTheFirstUndecodableCharacter)
{
    // What is written, the terminator included; the element after it is left alone.
    const struct { const char* bytes; std::wstring written; } kTexts[] = {
        {"a\xC3\xA9\xE2\x82\xAC" "b", std::wstring(L"a\u00E9\u20ACb", 5)},
        {"a\x80" "bc", std::wstring(L"a\u22E0", 3)},
        {"", std::wstring(1, L'\0')},
        {nullptr, std::wstring(1, L'\0')}};
    for (const auto& c : kTexts) {
        std::wstring out(8, L'#');
        UTF8ToUnicodeBuf(c.bytes, out.data());
        EXPECT_EQ(out.substr(0, c.written.size() + 1), c.written + L'#') << "case " << &c - kTexts;
    }
    UTF8ToUnicodeBuf("abc", nullptr); // refused, nothing written
}
