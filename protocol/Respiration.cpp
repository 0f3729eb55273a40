// Respiration settings (0xEA 0xFF 0x01, 19 bytes): breathing frequency,
// variation, inhale/exhale ratio, baseline impedance step and apnea, for the
// simulator's respiration impedance hardware. The device needs 5 ms before it
// answers; an answer with byte 3 = 0xFF accepts the settings, and only then
// does the host copy change.
#include "protocol/Commands.h"
#include "protocol/LinkContext.h"

namespace hsim {


RespirationHardware& CurrentRespiration()
{
    return CurrentLink().respiration;
}

namespace {

constexpr int kSettingsSize = 19;
constexpr int kOhmsPerStep = 500;

Status SendSettings(int frequency, int variation, int ratio, int baseline, bool apnea)
{
    unsigned char message[kSettingsSize] = {0xEA, 0xFF, 0x01};
    unsigned char answer[kDeviceBlockSize];
    message[8] = (unsigned char)(frequency & 0xFF);
    message[9] = (unsigned char)(variation & 0xFF);
    message[10] = (unsigned char)(ratio & 0xFF);
    message[11] = (unsigned char)(baseline & 0xFF);
    message[12] = apnea ? 1 : 0;
    Message exchange{message, kSettingsSize, answer, kDeviceBlockSize};
    exchange.pauseMs = 5;
    exchange.acceptByte = 3;
    return Exchange(exchange);
}

}  // namespace

Status SetApnea(bool apnea)
{
    const RespirationHardware& r = CurrentLink().respiration;
    Status status = SendSettings(r.nRespirationFrequency, r.nRespirationVariation, r.nRespirationRatio,
                                 r.nRespirationBaseline, apnea);
    if (status == Status::Ok)
        CurrentLink().respiration.bRespirationApneaEnabled = apnea;
    return status;
}

Status SetRespiration(int variation, int frequency, int ratio, int baseline, int apneaTime)
{
    Status status = SendSettings(frequency, variation, ratio, baseline, false);
    if (status == Status::Ok) {
        RespirationHardware& r = CurrentLink().respiration;
        r.nRespirationResistance = (baseline + 1) * kOhmsPerStep;
        r.nRespirationApneaTime = apneaTime;
        r.nRespirationFrequency = (unsigned char)(frequency & 0xFF);
        r.nRespirationVariation = (unsigned char)(variation & 0xFF);
        r.nRespirationRatio = (unsigned char)(ratio & 0xFF);
        r.nRespirationBaseline = (unsigned char)(baseline & 0xFF);
    }
    return status;
}

void SwitchRespiration(bool on)
{
    CurrentLink().respiration.RespirationEnabled = on;
}

void EnableApneaByTime(int seconds)
{
    RespirationHardware& r = CurrentLink().respiration;
    const bool wanted = (seconds % 60) > (60 - r.nRespirationApneaTime);
    if (wanted != r.bRespirationApneaEnabled) {
        // Noted before the exchange: a device that refuses is not asked again
        // with every transfer.
        r.bRespirationApneaEnabled = wanted;
        SetApnea(wanted);
    }
}

void ClearRespirationSettings()
{
    RespirationHardware& r = CurrentLink().respiration;
    r.nRespirationResistance = 0;
    r.nRespirationApneaTime = 0;
    r.nRespirationFrequency = 0;
    r.nRespirationVariation = 0;
    r.nRespirationRatio = 0;
    r.nRespirationBaseline = 0;
}

}  // namespace hsim
