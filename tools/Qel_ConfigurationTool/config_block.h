// Configuration block of the printer: the line form read from standard input
// and printed on standard output, and the checks a block must pass before it
// is uploaded.
#pragma once

#include <cstddef>
#include <cstdio>

// The block is 255 bytes on the wire, on standard input and on standard output.
inline constexpr unsigned short CONFIG_BLOCK_SIZE = 255;

// Offsets of the fields the tool itself looks at (all little-endian).
inline constexpr std::size_t CONFIG_OFFSET_REVISION = 0;
inline constexpr std::size_t CONFIG_OFFSET_SIZE_OF_BLOCK = 2;
inline constexpr std::size_t CONFIG_OFFSET_CHECKSUM = 253;

// Outcome of examining one input line.
typedef enum
{
    EV_CONFIG_LINE_ACCEPTED = 0, // the line carried a block that passed every check
    EV_CONFIG_LINE_NOT_BLOCK,    // no key text, too short, bad digits or no "]"
    EV_CONFIG_LINE_BAD_REVISION, // revision_number is not 1
    EV_CONFIG_LINE_BAD_SIZE,     // size_of_block is not 255
    EV_CONFIG_LINE_BAD_CHECKSUM  // CRC-16 over bytes 0..252 does not match
} ET_CONFIG_LINE;

// Examines one line of input (without or with its line end).
//   line     I  the characters of the line; need not be NUL-terminated
//   length   I  number of characters in line
//   block    O  255 bytes; written only when the result is EV_CONFIG_LINE_ACCEPTED
ET_CONFIG_LINE config_line_parse(const char* line, std::size_t length,
                                 unsigned char block[CONFIG_BLOCK_SIZE]);

// Reads the stream to its end and keeps the block of the last accepted line.
//   in       I  input stream (standard input in the tool)
//   block    O  255 bytes; holds the last accepted block when the result is 1
// Returns 1 when at least one line was accepted, else 0 (block unchanged).
int config_input_read(std::FILE* in, unsigned char block[CONFIG_BLOCK_SIZE]);

// Prints the block line: the key, " = ", "[", 510 upper-case digits, "]\n".
void config_block_line_print(std::FILE* out, const unsigned char block[CONFIG_BLOCK_SIZE]);

// Prints the field listing of the block, one data line per listed field.
void config_block_list(std::FILE* out, const unsigned char block[CONFIG_BLOCK_SIZE]);
