// SHA-256 (FIPS 180-4), for the checksum of a scenario file in its report.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace hsimctl {

class Sha256 {
public:
    Sha256();
    void Update(const void* data, size_t size);
    void Update(std::string_view text) { Update(text.data(), text.size()); }
    // The digest; the object is spent afterwards.
    std::array<uint8_t, 32> Finish();
    // The digest as 64 lower-case hexadecimal digits.
    std::string FinishHex();

private:
    void Block(const uint8_t* block);

    std::array<uint32_t, 8> m_State;
    std::array<uint8_t, 64> m_Buffer{};
    size_t m_Buffered = 0;
    uint64_t m_Length = 0;  // bytes
};

// The digest of a file as hexadecimal digits; empty when it cannot be read.
std::string Sha256OfFile(const std::string& path);

}  // namespace hsimctl
