// UTF-8 decoding into 16-bit code points (the Basic Multilingual Plane).
// One-, two- and three-byte sequences are decoded; everything else, four-byte
// sequences included, is undecodable and yields the replacement code 0x22E0.
// Overlong forms are accepted as they come.
#include "runtime/Utilities.h"

#include <cstdint>

namespace {

constexpr int kUndecodable = 0x22E0;

bool IsContinuation(unsigned char byte)
{
    return (byte & 0xC0U) == 0x80U;
}

// Appends the UTF-8 encoding of one code point; false when it is not a
// Unicode scalar value or does not fit.
bool AppendUtf8(uint32_t c, char* out, size_t capacity, size_t& used)
{
    unsigned char bytes[4];
    size_t n = 0;
    if (c < 0x80) {
        bytes[n++] = static_cast<unsigned char>(c);
    } else if (c < 0x800) {
        bytes[n++] = static_cast<unsigned char>(0xC0 | (c >> 6));
        bytes[n++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        if (c >= 0xD800 && c <= 0xDFFF) {
            return false;  // a surrogate is not a character
        }
        bytes[n++] = static_cast<unsigned char>(0xE0 | (c >> 12));
        bytes[n++] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        bytes[n++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else if (c <= 0x10FFFF) {
        bytes[n++] = static_cast<unsigned char>(0xF0 | (c >> 18));
        bytes[n++] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
        bytes[n++] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        bytes[n++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else {
        return false;
    }
    bool fits = used + n < capacity;  // room for the NUL stays
    if (fits) {
        for (size_t k = 0; k < n; ++k) {
            out[used++] = static_cast<char>(bytes[k]);
        }
    }
    return fits;
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

bool WidePathToUtf8(const wchar_t* path, char* out, size_t capacity)
{
    static_assert(sizeof(wchar_t) == 4, "wide characters are UTF-32 code units");
    size_t used = 0;
    bool ok = true;
    // wchar_t is signed on some targets: a negative unit becomes a value above
    // U+10FFFF and is refused.
    for (const wchar_t* w = path; ok && *w != L'\0'; ++w) {
        ok = AppendUtf8(static_cast<uint32_t>(*w), out, capacity, used);
    }
    out[used] = '\0';
    return ok;
}
