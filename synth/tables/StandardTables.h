// Built-in standard test data and the rhythm tables of the IEC 60601-2-47
// patterns. Samples are microvolts.
#pragma once

#include <cstdint>

constexpr int kIEC227Patterns = 10;
constexpr int kIEC227Stride = 66000;   // entries per pattern, zero after its length
constexpr int kIEC227Rate = 720;       // samples per second
constexpr int kIEC251Patterns = 16;
constexpr int kIEC251Samples = 1000;   // 1 s at 1000 per second
constexpr int kANE20000Leads = 9;
constexpr int kANE20000Samples = 1000; // 1 s at 1000 per second
constexpr int kIEC247Patterns = 5;
constexpr int kIEC247Rate = 1000;      // samples per second

// Sample counts of the ten IEC227W patterns (the records' lengths); each
// fits its row: kIEC227Stride is the longest plus padding.
inline constexpr int32_t kIEC227Counts[kIEC227Patterns] = {43081, 43142, 43144, 34511, 65211,
                                                           65214, 65207, 65238, 65239, 65237};
static_assert([] {
    for (int32_t count : kIEC227Counts)
        if (count < 1 || count > kIEC227Stride)
            return false;
    return true;
}(), "every IEC227W pattern fits its row");

// Samples of an IEC 60601-2-47 pattern: one hour for pattern 4, 60 s for the
// others.
constexpr int32_t IEC247PatternLength(int pattern)
{
    return pattern == 4 ? 3600000 : 60000;
}

extern const int32_t IEC227W[kIEC227Patterns * kIEC227Stride];
extern const double IEC227WL[kIEC227Patterns];  // seconds: sample count / 720
extern const int32_t IEC251W[kIEC251Patterns * kIEC251Samples];
extern const int32_t ANE20000[kANE20000Leads * kANE20000Samples];
extern const double rravg[kIEC247Patterns];
extern const double rrdev[kIEC247Patterns];
extern const double hrvfreq[kIEC247Patterns];
