#include "protocol/BlockUpload.h"

#include "protocol/Commands.h"
#include "protocol/StreamPackets.h"
#include "runtime/Platform.h"

#include <cmath>
#include <cstring>

namespace hsim {

namespace {

constexpr unsigned char kFamily = 0xEA;
constexpr unsigned char kWrite = 0xFF;
constexpr unsigned char kRead = 0x00;
constexpr unsigned char kKindControl = 0x00;
constexpr unsigned char kKindInfo = 0x01;
constexpr unsigned char kKindChunk = 0x04;
constexpr unsigned char kKindRom = 0x07;
constexpr int kRates[] = {40000, 20000, 10000, 8000, 5000, 4000, 2000, 1000, 500, 400, 200, 100, 50};
constexpr int kFallbackRate = 1000;
constexpr double kMaxPeriodSamples = 2000.0;
constexpr unsigned int kMaxChunkIndex = 0xFFFF;

// The low 16 bits of a value truncated toward zero; 0 for what no integer holds.
unsigned int Low16(double v)
{
    if (!std::isfinite(v) || std::fabs(v) >= 9.0e18)
        return 0;
    return static_cast<unsigned int>(static_cast<uint64_t>(static_cast<int64_t>(v)) & 0xFFFF);
}

void Header(unsigned char* message, unsigned char direction, unsigned char kind)
{
    message[0] = kFamily;
    message[1] = direction;
    message[2] = kind;
}

// A message whose answer is read but not examined.
Status Send(const unsigned char* message, int length)
{
    unsigned char answer[kDeviceBlockSize];
    return Exchange({message, length, answer, kDeviceBlockSize});
}

}  // namespace

int GetSampleRateByFrequency(double f)
{
    for (int rate : kRates) {
        if (rate * (1.0 / f) <= kMaxPeriodSamples)
            return rate;
    }
    return kFallbackRate;
}

int GetPixelNumberByFrequency(double f)
{
    const double n = (1.0 / f) * GetSampleRateByFrequency(f);
    return std::isfinite(n) && n < 2147483647.0 ? static_cast<int>(n) : 0;
}

void BuildWaveformInfo(const WaveformInfo& info, unsigned char* message)
{
    memset(message, 0, kDeviceBlockSize);
    Header(message, kWrite, kKindInfo);
    PutBe16(message + 6, static_cast<unsigned int>(GetPixelNumberByFrequency(info.frequency)) & 0xFFFF);
    PutBe16(message + 8, Low16(info.frequency / 0.01));
    message[10] = static_cast<unsigned char>(info.function & 0xFF);
    message[11] = static_cast<unsigned char>(Low16(info.pulseWidthMs) >> 8);
    PutBe16(message + 36, static_cast<unsigned int>(info.noiseCode) & 0xFFFF);
    PutBe16(message + 38, Low16(info.noiseAmplitude / 0.01));
    PutBe16(message + 40, Low16(info.pacingAmplitude));
    PutBe16(message + 42, Low16(info.pacingDurationMs));
    PutBe16(message + 44, info.pacingRate & 0xFFFF);
}

Status WriteWaveformInfo(const WaveformInfo& info)
{
    unsigned char message[kDeviceBlockSize];
    BuildWaveformInfo(info, message);
    return Send(message, kDeviceBlockSize);
}

Status WriteWaveformRawData(const unsigned char* data, unsigned int length, int* chunksDone)
{
    const unsigned int samples = length / 4;
    if (chunksDone != nullptr)
        *chunksDone = 0;
    if ((data == nullptr && samples > 0) || (samples > 0 && samples - 1 > kMaxChunkIndex))
        return Status::BadArgument;
    for (unsigned int index = 0; index < samples; index += kChunkSamples) {
        unsigned char chunk[kDeviceBlockSize] = {kFamily, kWrite, kKindChunk};
        PutBe16(chunk + 6, index);
        // The last chunk of a length that is not a multiple of 56 is
        // zero-filled past the data, which is never read beyond.
        const unsigned int from = 4 * index;
        memcpy(chunk + 8, data + from, std::min<unsigned int>(kChunkBytes, length - from));
        unsigned char answer[kDeviceBlockSize];
        const Status status = Exchange({chunk, kDeviceBlockSize, answer, kDeviceBlockSize});
        if (status != Status::Ok)
            return status;
        unsigned char echo[kDeviceBlockSize];
        memcpy(echo, chunk, kDeviceBlockSize);
        echo[3] = 0xFF;
        if (memcmp(echo, answer, kDeviceBlockSize) != 0)
            return NoteRefusal(chunk, kDeviceBlockSize);
        if (chunksDone != nullptr)
            ++*chunksDone;
    }
    return Status::Ok;
}

Status GetDeviceControlSetting(double f, unsigned char* setting, unsigned char outputSwitch)
{
    unsigned char block[kDeviceBlockSize];
    const Status status = ReadControlBlock(block);
    if (status != Status::Ok)
        return status;
    const int rate = GetSampleRateByFrequency(f);
    const double perPeriod = rate / f;
    const double whole = std::isfinite(perPeriod) && std::fabs(perPeriod) < 2147483647.0 ? std::trunc(perPeriod) : 0.0;
    memset(setting, 0, kDeviceBlockSize);
    Header(setting, kWrite, kKindControl);
    setting[4] = outputSwitch;
    PutBe16(setting + 8, static_cast<unsigned int>(rate));
    PutBe16(setting + 10, Low16((perPeriod - whole) * 1000.0));
    setting[12] = 0x04;
    memcpy(setting + 32, block + 32, 32);
    return Status::Ok;
}

Status WriteControlSetting(const unsigned char* setting)
{
    return Send(setting, kDeviceBlockSize);
}

Status OutputSignal(double f)
{
    unsigned char setting[kDeviceBlockSize];
    const Status status = GetDeviceControlSetting(f, setting, 1);
    return status == Status::Ok ? WriteControlSetting(setting) : status;
}

Status StopOutput()
{
    const unsigned char message[5] = {kFamily, kWrite, kKindControl, 0, 0};
    return Send(message, sizeof message);
}

Status DoReadFromROM(int slot, unsigned char& status, bool& ready)
{
    const unsigned char query[6] = {kFamily, kRead, kKindRom, 0, static_cast<unsigned char>(slot & 0xFF), 0};
    unsigned char answer[kDeviceBlockSize];
    ready = false;
    const Status result = Exchange({query, sizeof query, answer, kDeviceBlockSize});
    if (result == Status::Ok) {
        status = answer[5];
        ready = answer[0] == kFamily && answer[3] == 0xFF;
    }
    return result;
}

Status WriteToROM(int slot, int* polls)
{
    const unsigned char save[5] = {kFamily, kWrite, kKindRom, 0, static_cast<unsigned char>(slot & 0xFF)};
    if (polls != nullptr)
        *polls = 0;
    Status status = Send(save, sizeof save);
    for (int poll = 0; status == Status::Ok && poll < kRomPolls; ++poll) {
        unsigned char romStatus = 0;
        bool ready = false;
        status = DoReadFromROM(slot, romStatus, ready);
        if (polls != nullptr)
            *polls = poll + 1;
        if (status == Status::Ok && ready)
            return Status::Ok;
        if (status == Status::Ok)
            SleepEx(kRomPollPauseMs);
    }
    return status == Status::Ok ? NoteRefusal(save, sizeof save) : status;
}

}  // namespace hsim
