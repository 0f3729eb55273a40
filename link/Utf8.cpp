// UTF-8 decoding into 16-bit code points (the Basic Multilingual Plane).
// One-, two- and three-byte sequences are decoded; everything else, four-byte
// sequences included, is undecodable and yields the replacement code 0x22E0.
// Overlong forms are accepted as they come.
#include "hsim.h"

namespace {

constexpr int kUndecodable = 0x22E0;

bool IsContinuation(unsigned char byte)
{
    return (byte & 0xC0U) == 0x80U;
}

} // namespace

int UTF8ToUnicodeChar(const char* s, int* length)
{
    int code = kUndecodable;
    int used = 0;
    if (s != nullptr) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(s);
        const unsigned char first = bytes[0];
        // Each byte is looked at only after the one before it proved to be
        // part of the sequence, so a terminator is never read past.
        if (first < 0x80U) {
            code = first;
            used = 1;
        } else if ((first & 0xE0U) == 0xC0U) {
            if (IsContinuation(bytes[1])) {
                code = static_cast<int>((first & 0x1FU) << 6 | (bytes[1] & 0x3FU));
                used = 2;
            }
        } else if ((first & 0xF0U) == 0xE0U) {
            if (IsContinuation(bytes[1]) && IsContinuation(bytes[2])) {
                code = static_cast<int>((first & 0x0FU) << 12 | (bytes[1] & 0x3FU) << 6 |
                                        (bytes[2] & 0x3FU));
                used = 3;
            }
        }
    }
    if (length != nullptr) {
        *length = used;
    }
    return code;
}

void UTF8ToUnicodeBuf(const char* s, wchar_t* out)
{
    if (out != nullptr) {
        size_t n = 0;
        if (s != nullptr) {
            bool converting = true;
            while (converting && *s != '\0') {
                int used = 0;
                const int code = UTF8ToUnicodeChar(s, &used);
                out[n++] = static_cast<wchar_t>(code);
                if (used == 0) {
                    // The undecodable character is kept as 0x22E0 and ends
                    // the conversion.
                    converting = false;
                } else {
                    s += used;
                }
            }
        }
        out[n] = L'\0';
    }
}
