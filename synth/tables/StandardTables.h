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

extern const int32_t IEC227W[kIEC227Patterns * kIEC227Stride];
extern const double IEC227WL[kIEC227Patterns];  // seconds: sample count / 720
extern const int32_t IEC251W[kIEC251Patterns * kIEC251Samples];
extern const int32_t ANE20000[kANE20000Leads * kANE20000Samples];
extern const double rravg[kIEC247Patterns];
extern const double rrdev[kIEC247Patterns];
extern const double hrvfreq[kIEC247Patterns];
