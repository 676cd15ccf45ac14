// checksums.h - the CRC-32 table construction, visible to white-box tests.
#ifndef QEL_TB_CHECKSUMS_H
#define QEL_TB_CHECKSUMS_H

#include <array>
#include <cstdint>

// The lowest cChar bits of dwCrc32Reflect in reverse order; higher bits dropped.
constexpr uint32_t Lo_Crc32Reflect(uint32_t dwCrc32Reflect, char cChar)
{
    uint32_t dwValue = 0;
    for (int i = 0; i < cChar; ++i)
    {
        if (dwCrc32Reflect & (1u << i))
            dwValue |= 1u << (cChar - 1 - i);
    }
    return dwValue;
}

// Reflected CRC-32 table built from the unreflected polynomial 0x04C11DB7.
constexpr std::array<uint32_t, 256> Lo_Crc32BuildTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i)
    {
        uint32_t r = Lo_Crc32Reflect(i, 8) << 24;
        for (int bit = 0; bit < 8; ++bit)
            r = (r << 1) ^ ((r & 0x80000000u) ? 0x04C11DB7u : 0u);
        table[i] = Lo_Crc32Reflect(r, 32);
    }
    return table;
}

inline constexpr std::array<uint32_t, 256> dwCrc32Table = Lo_Crc32BuildTable();

#endif
