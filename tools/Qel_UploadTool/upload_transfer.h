// Data-exchange upload: start request, data blocks, end request with CRC-16.
#pragma once

#include <cstdint>

// Transfer modes. Both put the same bytes on the wire.
inline constexpr int UPLOAD_MODE_BUFFERED = 0; // frames collected, one write per >5120 bytes
inline constexpr int UPLOAD_MODE_PACED = 1;    // one write per header and block, 10 ms apart

// Uploads data, reading each response as a 4-byte header and then its status
// byte (printer-class nodes, serial lines).
//   printer   I  open printer handle
//   wTypeMask I  what the data holds, passed to the printer unchanged
//   data      I  the data bytes
//   size      I  number of data bytes
//   mode      I  UPLOAD_MODE_PACED (non-zero) or UPLOAD_MODE_BUFFERED
//   silent    I  non-zero: no progress dots
// Returns null on success, else a fixed message. Nothing is sent after a failure.
const char* lo_upload_data(intptr_t printer, unsigned short wTypeMask, unsigned char* data,
                           unsigned int size, int mode, int silent);

// As lo_upload_data, but reads each response with its status byte in one
// 5-byte read (usbfs devices, whose reads are all or nothing).
const char* lo_upload_data_new(intptr_t printer, unsigned short wTypeMask, unsigned char* data,
                               unsigned int size, int mode, int silent);
