// Little-endian numbers as the printer's records and its configuration block carry them. Every
// reader goes byte by byte: the records are packed and a 4-byte number may start at an odd
// offset. The hexadecimal digits come from the toolbox (hex_digits.h).
#ifndef QEL_PD_BYTE_ORDER_H
#define QEL_PD_BYTE_ORDER_H

#include "hex_digits.h"

#include <cstddef>
#include <cstdint>

/* Unsigned little-endian number of nWidth bytes (1 to 4). */
constexpr uint32_t qel_pd_get_le(const unsigned char* pub, size_t nWidth)
{
    uint32_t dwValue = 0;
    for (size_t i = nWidth; i > 0; i--)
        dwValue = (dwValue << 8) | pub[i - 1];
    return dwValue;
}

/* Signed little-endian number of nWidth bytes (1 to 4), two's complement. */
constexpr int32_t qel_pd_get_le_signed(const unsigned char* pub, size_t nWidth)
{
    uint32_t dwValue = qel_pd_get_le(pub, nWidth);
    if (nWidth >= 4)
        return static_cast<int32_t>(dwValue);
    uint32_t dwSign = 1u << (8 * nWidth - 1);
    return static_cast<int32_t>(dwValue ^ dwSign) - static_cast<int32_t>(dwSign);
}

#endif
