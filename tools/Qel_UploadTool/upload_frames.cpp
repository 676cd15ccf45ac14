// Data-exchange upload frames and the block and progress rules of the transfer.
#include "upload_frames.h"

void upload_build_start_request(unsigned char out[UPLOAD_START_REQUEST_SIZE],
                                unsigned short wTypeMask, uint32_t dwSize)
{
    const unsigned char frame[UPLOAD_START_REQUEST_SIZE] = {
        0x1B,
        0xFF,
        0x20,
        0x08,
        0x00,
        0x00,
        static_cast<unsigned char>(wTypeMask & 0xFF),
        static_cast<unsigned char>(wTypeMask >> 8),
        static_cast<unsigned char>(dwSize & 0xFF),
        static_cast<unsigned char>((dwSize >> 8) & 0xFF),
        static_cast<unsigned char>((dwSize >> 16) & 0xFF),
        static_cast<unsigned char>((dwSize >> 24) & 0xFF),
    };
    for (unsigned i = 0; i < UPLOAD_START_REQUEST_SIZE; ++i)
        out[i] = frame[i];
}

void upload_build_block_header(unsigned char out[4], unsigned char n)
{
    out[0] = 0x1B;
    out[1] = 0xFF;
    out[2] = 0x22;
    out[3] = n;
}

void upload_build_end_request(unsigned char out[UPLOAD_END_REQUEST_SIZE], unsigned short wCrc)
{
    out[0] = 0x1B;
    out[1] = 0xFF;
    out[2] = 0x24;
    out[3] = 0x02;
    out[4] = static_cast<unsigned char>(wCrc & 0xFF);
    out[5] = static_cast<unsigned char>(wCrc >> 8);
}

unsigned char upload_next_block_size(uint32_t dwSize, uint32_t dwSent)
{
    const uint32_t dwRest = dwSize - dwSent;
    return static_cast<unsigned char>(dwRest <= 254 ? dwRest : UPLOAD_BLOCK_MAX);
}

int upload_progress_due(uint32_t dwSent, uint32_t dwLastDot, uint32_t dwSize)
{
    return (dwSent - dwLastDot) > (dwSize / 16);
}
