// checksums.cpp - CRC-32/ISO-HDLC (upload files) and CRC-16/IBM-SDLC (config block, frames).
#include "Qel_Tb.h"
#include "checksums.h"

static_assert(dwCrc32Table[1] == 0x77073096u, "reflected CRC-32 table");
static_assert(dwCrc32Table[255] == 0x2D02EF8Du, "reflected CRC-32 table");

extern "C" uint32_t qel_tb_calc_crc32(const unsigned char* data, uint32_t dwData)
{
    if (data == nullptr)
        return 0xFFFFFFFFu;
    uint32_t dwCrc = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < dwData; ++i)
        dwCrc = (dwCrc >> 8) ^ dwCrc32Table[(dwCrc ^ data[i]) & 0xFFu];
    return ~dwCrc;
}

extern "C" unsigned short qel_tb_calc_crc16(const unsigned char* data, uint32_t dwData)
{
    if (data == nullptr)
        return 0xFFFF;
    // Polynomial 0x1021 in reflected form, processed bit by bit.
    unsigned int crc = 0xFFFF;
    for (uint32_t i = 0; i < dwData; ++i)
    {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? (crc >> 1) ^ 0x8408u : crc >> 1;
    }
    return static_cast<unsigned short>(crc ^ 0xFFFFu);
}
