// Dates and times written as text, turned into the numbers yyyymmdd and
// hhmmss. The text is cut in place at fixed positions, so every position
// written or read is checked against the text's length first.
#include "runtime/Utilities.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int kDefaultDate = 20110101;
constexpr int kNoTime = 0;

constexpr char kMonthNames[12][4] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                     "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

bool ReadInt(const char* text, int* value)
{
    return sscanf(text, "%d", value) == 1;
}

// a x 10000 + b x 100 + c. Fields are not range-checked; the sum is formed
// wide and wraps into int instead of overflowing.
int Pack(int a, int b, int c)
{
    const long long packed = static_cast<long long>(a) * 10000LL + static_cast<long long>(b) * 100LL + c;
    return static_cast<int>(packed);
}

} // namespace

int iMMMtoMonth(char* name)
{
    int month = 0;
    for (int i = 0; name != nullptr && month == 0 && i < 12; ++i) {
        if (_strcasecmp(name, kMonthNames[i]) == 0) {
            month = i + 1;
        }
    }
    return month;
}

int parseDate(char* text, const char* format)
{
    int date = kDefaultDate;
    if (text != nullptr && format != nullptr) {
        const size_t length = strlen(text);
        int day = 0;
        int month = 0;
        int year = 0;
        if (strcmp(format, "dd-MMM-yyyy") == 0) {
            // Cuts at 2 and 6; the year starts at 7.
            if (length > 7) {
                text[2] = '\0';
                text[6] = '\0';
                month = iMMMtoMonth(text + 3);
                if (ReadInt(text, &day) && ReadInt(text + 7, &year) && month != 0) {
                    date = Pack(year, month, day);
                }
            }
        } else if (strcmp(format, "dd.MM.yy") == 0) {
            // Cuts at 2 and 5; the year starts at 6.
            if (length > 6) {
                text[2] = '\0';
                text[5] = '\0';
                if (ReadInt(text, &day) && ReadInt(text + 3, &month) && ReadInt(text + 6, &year)) {
                    // Two-digit years: 00..80 are 2000..2080, 81..99 are
                    // 1981..1999. Longer years are taken as written.
                    if (year >= 0 && year <= 99) {
                        year += year <= 80 ? 2000 : 1900;
                    }
                    date = Pack(year, month, day);
                }
            }
        }
    }
    return date;
}

int parseTime(char* text, const char* format)
{
    int time = kNoTime;
    if (text != nullptr && format != nullptr) {
        int hours = 0;
        int minutes = 0;
        int seconds = 0;
        if (strcmp(format, "H.mm.ss") == 0) {
            char* first = strchr(text, '.');
            char* second = first != nullptr ? strchr(first + 1, '.') : nullptr;
            if (second != nullptr) {
                *first = '\0';
                *second = '\0';
                if (ReadInt(text, &hours) && ReadInt(first + 1, &minutes) &&
                    ReadInt(second + 1, &seconds)) {
                    time = Pack(hours, minutes, seconds);
                }
            }
        } else if (strcmp(format, "HH.mm.ss") == 0) {
            // Cuts at 2 and 5; the seconds start at 6.
            if (strlen(text) > 6) {
                text[2] = '\0';
                text[5] = '\0';
                if (ReadInt(text, &hours) && ReadInt(text + 3, &minutes) &&
                    ReadInt(text + 6, &seconds)) {
                    time = Pack(hours, minutes, seconds);
                }
            }
        }
    }
    return time;
}
