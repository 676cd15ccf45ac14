// Upload file: a 307-byte header, the data, and a 4-byte footer with the
// CRC-32 of everything before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

inline constexpr std::size_t UPLOAD_HEADER_SIZE = 307;
inline constexpr std::size_t UPLOAD_FOOTER_SIZE = 4;
inline constexpr std::size_t UPLOAD_FRAME_SIZE = UPLOAD_HEADER_SIZE + UPLOAD_FOOTER_SIZE;

// Header field offsets (all little-endian).
inline constexpr std::size_t UPLOAD_OFFSET_SIZE_HDR = 0;
inline constexpr std::size_t UPLOAD_OFFSET_REVISION_NR = 2;
inline constexpr std::size_t UPLOAD_OFFSET_TYPE_MASK = 4;
inline constexpr std::size_t UPLOAD_OFFSET_SIZE = 6;
inline constexpr std::size_t UPLOAD_OFFSET_DATE = 10;
inline constexpr std::size_t UPLOAD_OFFSET_TIME = 14;
inline constexpr std::size_t UPLOAD_OFFSET_INFO = 18;
inline constexpr std::size_t UPLOAD_INFO_SIZE = 289;

// Reasons why a loaded file is not a valid upload file, in the order tested.
typedef enum
{
    EV_UPLOAD_FILE_VALID = 0,
    EV_UPLOAD_FILE_TOO_SHORT,    // fewer than 311 bytes
    EV_UPLOAD_FILE_BAD_REVISION, // revision_nr is not 1
    EV_UPLOAD_FILE_BAD_HDR_SIZE, // size_hdr is not 307
    EV_UPLOAD_FILE_BAD_SIZE,     // size is not the file length minus 311
    EV_UPLOAD_FILE_BAD_CHECKSUM  // CRC-32 of all but the last 4 bytes differs
} ET_UPLOAD_FILE;

// Loads a whole file into a new heap buffer (released with std::free).
//   path     I  file name as typed
//   pnFile   O  file length
// Returns the buffer, or null when the file cannot be opened, sized, allocated
// or read in full. An empty file loads as a non-null buffer of length 0.
unsigned char* upload_file_load(const char* path, std::size_t* pnFile);

// Checks header, size and checksum in that order.
ET_UPLOAD_FILE upload_file_validate(const unsigned char* file, std::size_t nFile);

// Prints the header and footer fields of a valid file.
void upload_file_list(std::FILE* out, const unsigned char* file, std::size_t nFile);

// Little-endian field readers.
uint16_t upload_get_u16(const unsigned char* p);
uint32_t upload_get_u32(const unsigned char* p);
