// Streaming transfers: 3200 bytes, 50 packets of 64 bytes, 14 samples each.
// Packet: 01 01 00 00 00 0E, the 16-bit sequence number, then per sample the
// DC word and the AC word, all big-endian.
#include "device/Streaming.h"

#include "device/SampleEncoding.h"
#include "hsim.h"
#include "link/Globals.h"
#include "link/Port.h"

#include <cstring>

namespace {
constexpr int kTransferSize = 3200;
constexpr int kPacketSize = 64;
constexpr int kPackets = 50;
constexpr int kSamplesPerPacket = 14;
}  // namespace

// Holds both outputs at 0 mV for one transfer. The sequence field reads
// 0xFF00, which no counted transfer carries.
extern "C" int SendStopPacket(void)
{
    CAutoCriticalSection lock(g_CriticalSection);
    unsigned char buffer[kTransferSize];
    memset(buffer, 0, sizeof buffer);
    uint16_t zero = ECG_DC_VoltageToDAC(0.0);
    for (int p = 0; p < kPackets; ++p) {
        unsigned char* packet = buffer + p * kPacketSize;
        packet[0] = 1;
        packet[1] = 1;
        packet[5] = kSamplesPerPacket;
        packet[6] = 0xFF;
        for (int i = 0; i < kSamplesPerPacket; ++i) {
            packet[8 + 4 * i] = (unsigned char)(zero >> 8);
            packet[9 + 4 * i] = (unsigned char)(zero & 0xFF);
        }
    }
    return WriteData(buffer, kTransferSize, 1);
}

// Output cannot start yet: the transfer of computed samples comes with the
// start of streaming. Should a data request arrive all the same, the output
// is held at 0 mV rather than left to starve.
void _SendNextPacket()
{
    SendStopPacket();
}
