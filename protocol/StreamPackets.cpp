#include "protocol/StreamPackets.h"

#include "protocol/Commands.h"
#include "protocol/SampleWords.h"

#include <cstring>

namespace hsim {

// The sequence field reads 0xFF00, which no counted transfer carries.
int SendStopPacket()
{
    unsigned char buffer[kTransferBytes];
    memset(buffer, 0, sizeof buffer);
    const uint16_t zero = ECG_DC_VoltageToDAC(0.0);
    for (int p = 0; p < kTransferPackets; ++p) {
        unsigned char* packet = buffer + p * kPacketBytes;
        PutPacketHeader(packet, 0xFF00);
        for (int i = 0; i < kSamplesPerPacket; ++i)
            PutSample(packet, i, zero, 0);
    }
    return Exchange({buffer, kTransferBytes}) == Status::Ok ? kTransferBytes : 0;
}

}  // namespace hsim
