// Dotted version numbers: packing "a.b.c.d" into 32 bits, and comparing two
// dotted versions field by field.
#include "runtime/Utilities.h"

#include <cstdio>
#include <cstdlib>
#include <new>

int ConvertVersion(const char* text)
{
    int packed = 0;
    if (text != nullptr) {
        int a = 0;
        int b = 0;
        int c = 0;
        int d = 0;
        // Fields that are missing stay 0, so "2.1" is 2.1.0.0.
        sscanf(text, "%d.%d.%d.%d", &a, &b, &c, &d);
        // One byte per field, combined without masking: each field is meant
        // to lie within 0..255. Shifted as unsigned, so a field of 128 or more
        // in the top byte gives a negative result instead of overflowing.
        const unsigned int bits = static_cast<unsigned int>(a) << 24 |
                                  static_cast<unsigned int>(b) << 16 |
                                  static_cast<unsigned int>(c) << 8 | static_cast<unsigned int>(d);
        packed = static_cast<int>(bits);
    }
    return packed;
}

int CheckVersion(std::string a, std::string b)
{
    int result = 0;
    if (a != b) {
        try {
            std::vector<std::string> fieldsA;
            std::vector<std::string> fieldsB;
            StringToken(a.c_str(), ".", fieldsA);
            StringToken(b.c_str(), ".", fieldsB);
            if (fieldsA.size() != fieldsB.size()) {
                result = -2;
            } else {
                // Numerically, so 1.01 equals 1.1 and 1.10 is above 1.9.
                for (size_t i = 0; result == 0 && i < fieldsA.size(); ++i) {
                    const long x = strtol(fieldsA[i].c_str(), nullptr, 10);
                    const long y = strtol(fieldsB[i].c_str(), nullptr, 10);
                    if (x < y) {
                        result = -1;
                    } else if (x > y) {
                        result = 1;
                    }
                }
            }
        } catch (const std::bad_alloc&) {
            result = -2;
        }
    }
    return result;
}
