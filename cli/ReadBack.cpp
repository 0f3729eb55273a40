#include "ReadBack.h"

#include "Settings.h"
#include "hsim.h"
#include "hsim_ext.h"

#include <cmath>
#include <cstdio>

namespace hsimctl {
namespace {

// A value with its unit, up to six significant digits: "75bpm", "0.1mV".
std::string Value(double value, const char* unit)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.6g%s", value == 0 ? 0.0 : value, unit);
    return text;
}

bool IsEcgBeat(int function) { return function == OUTPUT_ECG_STANDARD || function == OUTPUT_ECG_CUSTOM; }

// Functions 1..6 and 13: a period set by the rate and an amplitude.
bool IsGenerator(int function)
{
    return (function >= OUTPUT_SINE && function <= OUTPUT_EXPONENTIAL) || function == OUTPUT_BIPHASIC_EXPONENTIAL;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ReadBackSettings()
{
    std::vector<std::pair<std::string, std::string>> s;
    const int function = HSIMGetOutputFunction();
    s.emplace_back("function", FunctionName(function));
    if (IsEcgBeat(function))
        s.emplace_back("rate", Value(HSIMGetFrequency() * 60.0, "bpm"));
    else if (IsGenerator(function))
        s.emplace_back("rate", Value(HSIMGetFrequency(), "Hz"));
    if (IsEcgBeat(function) || IsGenerator(function))
        s.emplace_back("amplitude", Value(HSIMGetAmplitude(), "mV"));
    if (function == OUTPUT_RECTANGULAR_PULSE || function == OUTPUT_TRIANGULAR_PULSE)
        s.emplace_back("pulse-width", Value(HSIMGetPulseWidth(), "ms"));
    if (function == OUTPUT_ECG_CUSTOM) {
        s.emplace_back("qrs", Value(HSIMGetQRSDuration(), "ms"));
        s.emplace_back("p-wave", Value(HSIMGetPWave(), "mV"));
        s.emplace_back("p-width", Value(HSIMGetPDuration(), "ms"));
        s.emplace_back("pr", Value(HSIMGetPRInterval(), "ms"));
        s.emplace_back("qt", Value(HSIMGetQTInterval(), "ms"));
        s.emplace_back("t-wave", Value(HSIMGetTWave(), "mV"));
        s.emplace_back("st", Value(HSIMGetSTDeviation(), "mV"));
        s.emplace_back("st-weight", Value(HSIMGetSTSegment(), "ms"));
        s.emplace_back("t-weight", Value(HSIMGetTDuration(), "ms"));
    }
    if (function == OUTPUT_IEC_2_27)
        s.emplace_back("pattern-227", ChoiceName("pattern-227", GetSpecialWave227()));
    if (function == OUTPUT_IEC_2_51)
        s.emplace_back("pattern-251", std::to_string(GetSpecialWave251()));
    if (function == OUTPUT_IEC_2_47)
        s.emplace_back("pattern-247", ChoiceName("pattern-247", GetSpecialWave247()));
    if (function == OUTPUT_ANE20000)
        s.emplace_back("ane-lead", std::to_string(GetANE20000Lead()));

    // Test modes and overlays, when on.
    if (HSIMGetDynamicRangeTest())
        s.emplace_back("dynamic-range", std::string(FunctionName(function)) + ":" +
                                            Value(GetDynamicRangeTestAmp(), "mV") + ":" +
                                            Value(GetDynamicRangeTestFreq(), "Hz"));
    if (HSIMGetFrequencyScan())
        s.emplace_back("scan", Value(GetFreqScanSineStartFreq(), "Hz") + ":" + Value(GetFreqScanSineStopFreq(), "Hz") +
                                   ":" + std::to_string(GetFreqScanSineDuration()) + "s");
    else if (GetFreqScanECG())
        s.emplace_back("scan", "ecg");
    if (const int level = GetBaselineResetTest())
        s.emplace_back("baseline-reset", ChoiceName("baseline-reset", level));
    if (const int mode = GetECG2_27_NoiseFreq())
        s.emplace_back("noise", ChoiceName("noise", mode) + ":" + Value(GetECG2_27_NoiseAmp(), "mV"));
    if (GetECG2_27_AAMIDriftTest()) {
        s.emplace_back("drift", Value(GetECG2_27_AAMIDriftTestAmp(), "mV"));
        s.emplace_back("drift-rate", Value(GetECG2_27_AAMIDriftTestFreq(), "Hz"));
    }
    if (HSIMGetPacingAmplitude() != 0) {
        s.emplace_back("pacing", Value(HSIMGetPacingAmplitude(), "mV"));
        s.emplace_back("pacing-width", Value(HSIMGetPacingDuration(), "ms"));
        // Pulses follow the beats only while the beat rate is 10..360 per
        // minute; otherwise the fixed rate paces.
        const double beatsPerMinute = HSIMGetFrequency() * 60;
        const bool followsBeats = HSIMGetPacingRateSynchronized() && beatsPerMinute >= 10 && beatsPerMinute <= 360;
        s.emplace_back("pacing-rate", followsBeats ? std::string("sync") : Value(HSIMGetPacingRate(), "ppm"));
        if (HSIMGetPacingPulseMode() != 0)
            s.emplace_back("pacing-mode", std::to_string(HSIMGetPacingPulseMode()));
        if (HSIMGetOvershootAmplitude() != 0) {
            s.emplace_back("overshoot", Value(HSIMGetOvershootAmplitude(), "mV"));
            s.emplace_back("overshoot-tau", Value(HSIMGetOvershootTimeConstant(), "ms"));
        }
    }
    if (HSIMGetDCOffset() != 0)
        s.emplace_back("dc-offset", Value(HSIMGetDCOffset(), "mV"));
    return s;
}

std::string DescribeReadBack()
{
    std::string text;
    for (const auto& [name, value] : ReadBackSettings())
        text += text.empty() ? value : ", " + name + " " + value;
    return text;
}

std::vector<std::pair<std::string, std::string>> TableProvenance()
{
    std::vector<std::pair<std::string, std::string>> tables;
    const char* names[] = {"IEC227W", "IEC251W", "ANE20000"};
    for (int t = 0; t < 3; ++t) {
        const char* source = nullptr;
        const int published = HSIMGetTableProvenance(t, &source);
        tables.emplace_back(names[t], source ? source : published == 1 ? "published data" : "stand-in");
    }
    return tables;
}

std::string LibraryVersion()
{
    const int v = HSIMGetVersion();
    char text[48];
    std::snprintf(text, sizeof text, "libhsim %d.%d.%d.%d", (v >> 24) & 0xFF, (v >> 16) & 0xFF, (v >> 8) & 0xFF,
                  v & 0xFF);
    return text;
}

DeviceIdentity ReadDeviceIdentity()
{
    MODEL_INFORMATION info{};
    HSIMGetDeviceInformation(&info);
    uint32_t words[5] = {};
    HSIMGetHWInformation(words);
    DeviceIdentity d;
    char text[160];
    std::snprintf(text, sizeof text, "'%c%c', code bytes 0x%02X 0x%02X, numbers %d and %d", info.Character1,
                  info.Character2, info.Code1, info.Code2, info.Number1, info.Number2);
    d.identity = text;
    d.serialNumber = HSIMGetSerialNumber();
    std::snprintf(text, sizeof text, "%u %u %u %u %u", words[0], words[1], words[2], words[3], words[4]);
    d.hardware = text;
    return d;
}

}  // namespace hsimctl
