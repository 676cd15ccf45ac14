// Configuration block of the printer: its line form on standard input and output, the checks a
// block must pass before it is uploaded, its field listing and decode, and the exchanges that
// download and upload it and reset the printer.
#ifndef QEL_PD_CONFIG_BLOCK_H
#define QEL_PD_CONFIG_BLOCK_H

#include "inquiry_records.h"
#include "printer_exchange.h"

#include <cstddef>
#include <cstdio>
#include <vector>

// The block is 255 bytes on the wire, on standard input and on standard output.
inline constexpr unsigned short QEL_PD_CONFIG_BLOCK_SIZE = 255;

// Offsets of the fields the block checks look at (all little-endian).
inline constexpr std::size_t QEL_PD_CONFIG_OFFSET_REVISION = 0;
inline constexpr std::size_t QEL_PD_CONFIG_OFFSET_SIZE_OF_BLOCK = 2;
inline constexpr std::size_t QEL_PD_CONFIG_OFFSET_CHECKSUM = 253;

// Outcome of examining one input line.
typedef enum
{
    EV_QEL_PD_CONFIG_LINE_ACCEPTED = 0, // the line carried a block that passed every check
    EV_QEL_PD_CONFIG_LINE_NOT_BLOCK,    // no key text, too short, bad digits or no "]"
    EV_QEL_PD_CONFIG_LINE_BAD_REVISION, // revision_number is not 1
    EV_QEL_PD_CONFIG_LINE_BAD_SIZE,     // size_of_block is not 255
    EV_QEL_PD_CONFIG_LINE_BAD_CHECKSUM  // CRC-16 over bytes 0..252 does not match
} ET_QEL_PD_CONFIG_LINE;

// Examines one line of input (without or with its line end).
//   line     I  the characters of the line; need not be NUL-terminated
//   length   I  number of characters in line
//   block    O  255 bytes; written only when the result is EV_QEL_PD_CONFIG_LINE_ACCEPTED
ET_QEL_PD_CONFIG_LINE qel_pd_config_line_parse(const char* line, std::size_t length,
                                               unsigned char block[QEL_PD_CONFIG_BLOCK_SIZE]);

// Reads the stream to its end and keeps the block of the last accepted line.
//   in       I  input stream (standard input in the tool)
//   block    O  255 bytes; holds the last accepted block when the result is 1
// Returns 1 when at least one line was accepted, else 0 (block unchanged).
int qel_pd_config_input_read(std::FILE* in, unsigned char block[QEL_PD_CONFIG_BLOCK_SIZE]);

// Prints the block line: the key, " = ", "[", 510 upper-case digits, "]\n" (the form that
// qel_pd_config_input_read accepts, also the content of a downloaded block saved as a file).
void qel_pd_config_line_print(std::FILE* out, const unsigned char block[QEL_PD_CONFIG_BLOCK_SIZE]);

// The listed fields of the block in block order ("configuration_data.revision_number" to
// "configuration_data.checksum"), each with its value text: decimal numbers, a quoted text with
// unprintable bytes as "\xHH", or hex groups; settings of three elements show their first two.
std::vector<TS_QEL_PD_FIELD_VALUE>
qel_pd_config_decode(const unsigned char block[QEL_PD_CONFIG_BLOCK_SIZE]);

// Prints the field listing of the block, one data line per listed field ("%-50.50s = " name,
// value, "\n"), flushing after each.
void qel_pd_config_list(std::FILE* out, const unsigned char block[QEL_PD_CONFIG_BLOCK_SIZE]);

// ---- Exchanges (NULL on success, else a fixed message) ---------------------------------------

// Downloads the block: request 1B FF 46 00, answer 1B FF 47 <size> and size bytes.
//   block    O  filled with the block bytes (only complete on success)
//   size     I  block size, always 255
const char* qel_pd_config_download(const TS_QEL_PD_TRANSPORT* psPort, unsigned char* block,
                                   unsigned short size);

// Uploads the block: 1B FF 26 <size> and the block, answer 1B FF 27 00 within 5 s.
const char* qel_pd_config_upload(const TS_QEL_PD_TRANSPORT* psPort, const unsigned char* block,
                                 unsigned short size);

// Sends the hard reset command 1B F2 03 00; nothing is read back.
const char* qel_pd_reset_printer(const TS_QEL_PD_TRANSPORT* psPort);

#endif
