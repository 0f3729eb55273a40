// Identity probe, information query and keep-alive.
//
// Probe: the host writes 'U' 0 0 and the device answers 12 bytes with the
// magic "HSE" in bytes 4-6; bytes 5 and 6 double as the model characters,
// 7 and 8 are code bytes, 9 a number and 10-11 a 16-bit number sent most
// significant byte first.
// Information query: a 12-byte request for the 64-byte information block
// (hardware values in bytes 24-27), then 0xAA 0x03 for a 5-byte reply whose
// byte 3 is the last hardware word. The device needs 20 ms and 40 ms to
// prepare these answers.
// All of it runs with the simulator's lock held by the caller.
#include "protocol/Handshake.h"

#include "protocol/LinkContext.h"

#include "protocol/Exchange.h"

#include <cstring>


namespace {

constexpr unsigned int kKeepAliveTimeoutMs = 2000;
constexpr unsigned char kProbe[3] = {0x55, 0x00, 0x00};

bool HasMagic(const unsigned char* reply)
{
    return reply[4] == 'H' && reply[5] == 'S' && reply[6] == 'E';
}

// The probe and its 12-byte reply; the keep-alive waits longer for it.
bool Probe(unsigned char* reply, unsigned int timeoutMs)
{
    hsim::Message m{kProbe, 3, reply, 12};
    m.readTimeoutMs = timeoutMs;
    return hsim::Exchange(m) == hsim::Status::Ok && HasMagic(reply);
}

}  // namespace

bool IsTargetDevice()
{
    unsigned char reply[12] = {};
    bool ok = Probe(reply, 0);
    if (ok) {
        MODEL_INFORMATION info = {};
        info.Character1 = reply[5];
        info.Character2 = reply[6];
        info.Code1 = reply[7];
        info.Code2 = reply[8];
        info.Number2 = int32_t(reply[9]);
        info.Number1 = int32_t(reply[10]) * 256 + int32_t(reply[11]);
        hsim::CurrentLink().modelInfo = info;
        ok = GetHWInfo();
    }
    return ok;
}

bool GetHWInfo()
{
    static const unsigned char query[12] = {0x12, 0x55, 0xAA, 0x00, 0x00, 0x01,
                                            0x00, 0x20, 0x00, 0x00, 0x00, 0x00};
    static const unsigned char second[2] = {0xAA, 0x03};
    unsigned char block[64] = {};
    unsigned char reply[5] = {};
    hsim::Message blockQuery{query, 12, block, 64};
    blockQuery.pauseMs = 20;
    bool ok = hsim::Exchange(blockQuery) == hsim::Status::Ok;
    if (ok) {
        memcpy(hsim::CurrentLink().deviceHWInfo, block, sizeof block);
        hsim::CurrentLink().moduleHWInfo[0] = block[26];
        hsim::CurrentLink().moduleHWInfo[1] = block[27];
        hsim::CurrentLink().moduleHWInfo[3] = block[24];
        hsim::CurrentLink().moduleHWInfo[4] = block[25];
        hsim::Message wordQuery{second, 2, reply, 5};
        wordQuery.pauseMs = 40;
        ok = hsim::Exchange(wordQuery) == hsim::Status::Ok;
    }
    if (ok)
        hsim::CurrentLink().moduleHWInfo[2] = reply[3];
    return ok;
}

bool WatchDog()
{
    unsigned char reply[12] = {};
    return Probe(reply, kKeepAliveTimeoutMs);
}
