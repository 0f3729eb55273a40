// Streaming transfers: 3200 bytes, 50 packets of 64 bytes, 14 samples each.
// Packet: 01 01 00 00 00 0E, the 16-bit sequence number, then per sample the
// DC word and the AC word, all big-endian.
#include "protocol/Commands.h"
#include "protocol/SampleWords.h"

#include <cstring>

namespace hsim {

namespace {
constexpr int kTransferSize = 3200;
constexpr int kPacketSize = 64;
constexpr int kPackets = 50;
constexpr int kSamplesPerPacket = 14;
}  // namespace

// The sequence field reads 0xFF00, which no counted transfer carries.
int SendStopPacket()
{
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
    return Exchange({buffer, kTransferSize}) == Status::Ok ? kTransferSize : 0;
}

}  // namespace hsim
