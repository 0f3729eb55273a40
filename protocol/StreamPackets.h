// The layout of a streaming transfer: 3200 bytes, 50 packets of 64 bytes.
// A packet is 01 01 00 00 00 0E, the 16-bit sequence number, then per sample
// (14 of them) the DC word and the AC word, all big-endian; every other byte
// is 0.
#pragma once

#include <cstdint>

namespace hsim {

constexpr int kTransferBytes = 3200;
constexpr int kTransferPackets = 50;
constexpr int kPacketBytes = 64;
constexpr int kSamplesPerPacket = 14;
constexpr int kSamplesPerTransfer = kTransferPackets * kSamplesPerPacket;
// The streaming rate, samples per second: the only rate there is.
constexpr int kStreamingRate = 40000;

inline void PutBe16(unsigned char* p, unsigned int word)
{
    p[0] = static_cast<unsigned char>((word >> 8) & 0xFF);
    p[1] = static_cast<unsigned char>(word & 0xFF);
}

// Writes a packet's header with its sequence field.
inline void PutPacketHeader(unsigned char* packet, unsigned int sequence)
{
    packet[0] = 1;
    packet[1] = 1;
    packet[5] = kSamplesPerPacket;
    PutBe16(packet + 6, sequence);
}

// Writes sample i's words into a packet.
inline void PutSample(unsigned char* packet, int i, uint16_t dcWord, int16_t acWord)
{
    PutBe16(packet + 8 + 4 * i, dcWord);
    PutBe16(packet + 10 + 4 * i, static_cast<uint16_t>(acWord));
}

}  // namespace hsim
