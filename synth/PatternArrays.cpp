// Whole-pattern access to the standard tables, and the IEC 60601-2-47
// patterns, which are synthesised rather than recorded: a beat template placed
// on a sinusoidally modulated RR grid (patterns 1..4) or a pulse train
// (pattern 0), all at 1000 samples per second in millivolts.
//
// The template and the five pattern caches are built on first use and kept
// for the life of the process. They are reached both from the function
// generator on the poll thread and from application threads, so each is built
// exactly once: the template under std::call_once, each cache slot under its
// own mutex with double-checked publication (a failed allocation leaves the
// slot empty, and a later call tries again).
#include "synth/Patterns.h"
#include "synth/tables/StandardTables.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

constexpr int kTemplateSamples = 360;       // 360 ms
constexpr int kPatternRate = kIEC247Rate;
constexpr double kTwoPi = 6.2831853;

// The built tables, the same for every simulator of the process: each is
// built once, on first use, and kept until the process ends.
struct Tables {
    // The beat template ECG227 (mV, one sample per millisecond).
    double ecg227[kTemplateSamples];
    std::once_flag ecg227Once;
    // The IEC 60601-2-47 patterns 0..4.
    std::atomic<double*> patterns[kIEC247Patterns] = {};
    std::mutex patternBuild[kIEC247Patterns];
    std::atomic<bool> allBuilt{false};  // set once init() has filled every cache
};
Tables s_Tables;

void BuildECG227()
{
    for (int i = 0; i < kTemplateSamples; ++i) {
        double v = 0.0;
        if (i < 10) {
            v = 0.0;
        } else if (i < 53) {
            v = 0.875 * (i - 10) / 43;  // upstroke to 0.875 mV at 53 ms
        } else if (i < 103) {
            v = 0.875 - (i - 53) / 50.0;  // downstroke to -0.105 mV
        } else if (i < 110) {
            v = 0.125 * (i - 103) / 7 - 0.125;  // back from -0.125 mV to the baseline
        } else if (i < 180) {
            v = 0.0;
        } else {
            v = 0.2 * std::sin((i - 180) * kTwoPi / 360);  // half-sine T wave, 0.2 mV at 270 ms
        }
        s_Tables.ecg227[i] = v;
    }
}

// The pattern number a C caller passed. The enumeration's value is read
// through its bytes: a C caller may pass any int, which a C++ load of the
// enumeration need not preserve.
int PatternIndex(IEC247_PATTERN pattern)
{
    static_assert(sizeof(IEC247_PATTERN) == sizeof(int));
    int index = 0;
    std::memcpy(&index, &pattern, sizeof index);
    return index;
}

bool IsPattern(int index)
{
    return index >= 0 && index < kIEC247Patterns;
}

// Pattern 0: a triangle of 100 ms base and 1.0 mV peak at 50 ms, once per second.
void FillPulseTrain(double* samples, int n)
{
    for (int b = 0; b < n; b += kPatternRate) {
        for (int k = 0; k < kPatternRate && b + k < n; ++k) {
            double v = 0.0;
            if (k < 50) {
                v = k / 50.0;
            } else if (k < 100) {
                v = (50 - k) / 50.0 + 1;
            }
            samples[b + k] = v;
        }
    }
}

// Patterns 1..4: beat k starts at t_k ms; the RR interval that follows it is
// rravg + rrdev * sin(2 pi hrvfreq t_k / 1000) seconds, truncated to whole
// milliseconds. The first beat starts at sample 0. Written as a per-sample
// walk: every position that is not a beat start and is not covered by a
// template is 0.
void FillBeatTrain(double* samples, int n, int p)
{
    const double* beat = getECG227Array();
    int i = 0;  // write position
    int m = 0;  // start of the next beat
    while (i < n) {
        if (i != m) {
            samples[i] = 0.0;
            ++i;
        } else {
            m = static_cast<int32_t>(m + rravg[p] * 1000 +
                                     rrdev[p] * 1000 * std::sin(hrvfreq[p] * kTwoPi * m / 1000));
            for (int k = 0; k < kTemplateSamples && i < n; ++k) {
                samples[i] = beat[k];
                ++i;
            }
        }
    }
}

}  // namespace

const int* GetSpecialWave227Array(int index, int* length, int* rate)
{
    const int* result = nullptr;
    if (length != nullptr && rate != nullptr) {
        *length = 0;
        *rate = 0;
        if (index >= 0 && index < kIEC227Patterns) {
            result = IEC227W + index * kIEC227Stride;
            *length = kIEC227Counts[index];
            *rate = kIEC227Rate;
        }
    }
    return result;
}

const int* GetSpecialWave251Array(int index, int* length, int* rate)
{
    const int* result = nullptr;
    if (length != nullptr && rate != nullptr) {
        *length = 0;
        *rate = 0;
        if (index >= 0 && index < kIEC251Patterns) {
            result = IEC251W + index * kIEC251Samples;
            *length = kIEC251Samples;
            *rate = kIEC251Samples;  // one second per pattern
        }
    }
    return result;
}

const double* GetSpecialWave247Array(int index, int* length, int* rate)
{
    const double* result = nullptr;
    if (length != nullptr && rate != nullptr) {
        *length = 0;
        *rate = 0;
        if (IsPattern(index)) {
            result = getIEC47RawArray(static_cast<IEC247_PATTERN>(index));
            if (result != nullptr) {
                *length = IEC247PatternLength(index);
                *rate = kPatternRate;
            }
        }
    }
    return result;
}

const double* getECG227Array(void)
{
    std::call_once(s_Tables.ecg227Once, BuildECG227);
    return s_Tables.ecg227;
}

double* getArray(IEC247_PATTERN pattern)
{
    double* samples = nullptr;
    const int p = PatternIndex(pattern);
    if (IsPattern(p)) {
        const int n = IEC247PatternLength(p);
        samples = static_cast<double*>(std::malloc(sizeof(double) * n));
        if (samples != nullptr) {
            if (p == 0) {
                FillPulseTrain(samples, n);
            } else {
                FillBeatTrain(samples, n, p);
            }
        }
    }
    return samples;
}

const double* getIEC47RawArray(IEC247_PATTERN pattern)
{
    double* samples = nullptr;
    const int p = PatternIndex(pattern);
    if (IsPattern(p)) {
        std::atomic<double*>& slot = s_Tables.patterns[p];
        samples = slot.load(std::memory_order_acquire);
        if (samples == nullptr) {
            std::lock_guard<std::mutex> guard(s_Tables.patternBuild[p]);
            samples = slot.load(std::memory_order_relaxed);
            if (samples == nullptr) {
                samples = getArray(static_cast<IEC247_PATTERN>(p));
                slot.store(samples, std::memory_order_release);
            }
        }
    }
    return samples;
}

const double* getRRavgArray(void)
{
    return rravg;
}

const double* getRRdevArray(void)
{
    return rrdev;
}

const double* getHRVfreqArray(void)
{
    return hrvfreq;
}

void init(void)
{
    bool filled = true;
    for (int p = 0; p < kIEC247Patterns; ++p) {
        if (getIEC47RawArray(static_cast<IEC247_PATTERN>(p)) == nullptr) {
            filled = false;
        }
    }
    if (filled) {
        s_Tables.allBuilt.store(true, std::memory_order_relaxed);
    }
}
