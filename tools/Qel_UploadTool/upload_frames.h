// Data-exchange upload frames: 1B FF, a type byte and a size byte, then the
// payload. Pure builders and checks, apart from the port.
#pragma once

#include <cstdint>

inline constexpr unsigned UPLOAD_START_REQUEST_SIZE = 12; // header and 8-byte payload
inline constexpr unsigned UPLOAD_END_REQUEST_SIZE = 6;    // header and CRC-16
inline constexpr unsigned UPLOAD_BLOCK_MAX = 255;

// Response types of the printer.
inline constexpr unsigned char UPLOAD_START_RESPONSE_TYPE = 0x21;
inline constexpr unsigned char UPLOAD_END_RESPONSE_TYPE = 0x25;

// Start request 1B FF 20 08 with 00 00, the type mask and the data size.
void upload_build_start_request(unsigned char out[UPLOAD_START_REQUEST_SIZE],
                                unsigned short wTypeMask, uint32_t dwSize);

// Block header 1B FF 22 n.
void upload_build_block_header(unsigned char out[4], unsigned char n);

// End request 1B FF 24 02 with the CRC-16 of the data, low byte first.
void upload_build_end_request(unsigned char out[UPLOAD_END_REQUEST_SIZE], unsigned short wCrc);

// Size of the next block: the rest when it is at most 254 bytes, else 255.
unsigned char upload_next_block_size(uint32_t dwSize, uint32_t dwSent);

// 1 when a progress dot is due: more than a sixteenth of the data has passed
// since the last dot.
int upload_progress_due(uint32_t dwSent, uint32_t dwLastDot, uint32_t dwSize);
