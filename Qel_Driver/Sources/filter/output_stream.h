// Buffered writer of the printer command stream to standard output.  Unlike
// stdio it retries interrupted writes, so a signal never turns into a lost
// byte, and it remembers the first real write failure.
#pragma once

#include <cstddef>

// Starts writing to `fd` (standard output) with an empty buffer.
void output_open(int fd);

// Buffers `size` bytes, writing the buffer out whenever it fills.  Returns
// false once any write has failed; nothing more is written after a failure.
bool output_write(const unsigned char* data, size_t size);

// Writes everything buffered.  Returns false when a write failed.
bool output_flush();

// errno of the first failed write, 0 when none failed.
int output_error();
