// command_coder.h - conversions between coded command text and raw bytes, free of I/O.
#ifndef QEL_TB_COMMAND_CODER_H
#define QEL_TB_COMMAND_CODER_H

#include <cstddef>

// Converts coded text to raw bytes; raw must hold n bytes (never more are
// produced).  Returns the number of bytes produced.
std::size_t Lo_CmdDecode(const unsigned char* text, std::size_t n, unsigned char* raw);

// Writes "[XX XX ... XX]" and a terminating zero for n >= 1 raw bytes into
// coded (3 * n + 2 bytes).  Returns the characters written, the zero included.
std::size_t Lo_CmdEncode(const unsigned char* raw, std::size_t n, unsigned char* coded);

#endif
