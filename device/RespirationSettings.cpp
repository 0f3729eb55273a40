// Respiration settings (0xEA 0xFF 0x01, 19 bytes): breathing frequency,
// variation, inhale/exhale ratio, baseline impedance step and apnea, for the
// simulator's respiration impedance hardware. The device needs 5 ms before it
// answers; an answer with byte 3 = 0xFF accepts the settings, and only then
// does the host copy change.
#include "device/RespirationSettings.h"

#include "device/Commands.h"
#include "hsim.h"
#include "link/Globals.h"
#include "link/Port.h"
#include "synth/ChangeScheduler.h"
#include "synth/Respiration.h"

unsigned char g_nRespirationFrequency = 0;
unsigned char g_nRespirationVariation = 0;
unsigned char g_nRespirationRatio = 0;
unsigned char g_nRespirationBaseline = 0;
int g_nRespirationResistance = 0;
int g_nRespirationApneaTime = 0;
bool g_bRespirationApneaEnabled = false;
bool g_RespirationEnabled = false;

namespace {

constexpr int kSettingsSize = 19;
constexpr int kOhmsPerStep = 500;

bool SendSettings(int frequency, int variation, int ratio, int baseline, bool apnea)
{
    unsigned char message[kSettingsSize] = {0xEA, 0xFF, 0x01};
    unsigned char answer[kDeviceBlockSize];
    message[8] = (unsigned char)(frequency & 0xFF);
    message[9] = (unsigned char)(variation & 0xFF);
    message[10] = (unsigned char)(ratio & 0xFF);
    message[11] = (unsigned char)(baseline & 0xFF);
    message[12] = apnea ? 1 : 0;
    bool ok = WriteData(message, kSettingsSize, 1) == kSettingsSize;
    if (ok) {
        SleepEx(5);
        ok = ReadData(answer, kDeviceBlockSize) == kDeviceBlockSize && answer[3] == 0xFF;
    }
    return ok;
}

}  // namespace

extern "C" bool SetApnea(bool apnea)
{
    CAutoCriticalSection lock(g_CriticalSection);
    bool ok = SendSettings(g_nRespirationFrequency, g_nRespirationVariation, g_nRespirationRatio,
                           g_nRespirationBaseline, apnea);
    if (ok)
        g_bRespirationApneaEnabled = apnea;
    return ok;
}

extern "C" bool SetRespiration(int variation, int frequency, int ratio, int baseline, int apneaTime)
{
    CAutoCriticalSection lock(g_CriticalSection);
    bool ok = DeviceIsConnected() && SendSettings(frequency, variation, ratio, baseline, false);
    if (ok) {
        g_nRespirationResistance = (baseline + 1) * kOhmsPerStep;
        g_nRespirationApneaTime = apneaTime;
        g_nRespirationFrequency = (unsigned char)(frequency & 0xFF);
        g_nRespirationVariation = (unsigned char)(variation & 0xFF);
        g_nRespirationRatio = (unsigned char)(ratio & 0xFF);
        g_nRespirationBaseline = (unsigned char)(baseline & 0xFF);
    }
    return ok;
}

extern "C" bool EnableRespiration(bool on)
{
    CAutoCriticalSection lock(g_CriticalSection);
    bool ok = false;
    g_RespirationEnabled = on;
    if (!on) {
        g_nRespirationResistance = 0;
        g_nRespirationApneaTime = 0;
        g_nRespirationFrequency = 0;
        g_nRespirationVariation = 0;
        g_nRespirationRatio = 0;
        g_nRespirationBaseline = 0;
        _ResetRespireModulation();
    }
    if (DeviceIsConnected()) {
        _ChangeRequested();
        SetRelays(true);
        ok = true;
    }
    return ok;
}
