// CRC-16/IBM-SDLC, the checksum the printer uses for its configuration block and uploads.
#include "virtual_printer.h"

namespace qel_vp
{

std::uint16_t crc16(std::span<const std::uint8_t> data)
{
    std::uint16_t reg = 0xFFFF;
    for (std::uint8_t byte : data)
    {
        reg ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1) ? static_cast<std::uint16_t>((reg >> 1) ^ 0x8408) : reg >> 1;
    }
    return static_cast<std::uint16_t>(reg ^ 0xFFFF);
}

} // namespace qel_vp
