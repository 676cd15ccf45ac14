// Page command encoder of rastertoqel: CUPS page header and dot lines in,
// printer command bytes out.  No I/O happens here; every routine appends to a
// caller-owned byte stream so that the job flow decides when bytes are written.
#pragma once

#include <cups/raster.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// The enumerated fields of a page header (Duplex, AdvanceMedia, CutMedia)
// come from the raster stream and may hold any 32-bit value; they are read
// and written as plain numbers, never as values of their enumeration.
template <typename T> inline unsigned header_value(const T& field)
{
    static_assert(sizeof(T) == sizeof(unsigned));
    unsigned value;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

template <typename T> inline void set_header_value(T& field, unsigned value)
{
    static_assert(sizeof(T) == sizeof(unsigned));
    std::memcpy(&field, &value, sizeof value);
}

// The byte stream that collects printer commands until the job flow writes it.
using TS_QEL_PAGE_STREAM = std::vector<unsigned char>;

// Every printer command except the form feed starts with these two bytes.
inline constexpr unsigned char QEL_CMD_ESC = 0x1B;
inline constexpr unsigned char QEL_CMD_PREFIX = 0xF0;

inline constexpr unsigned char QEL_CMD_PRINT_SPEED = 0x01;
inline constexpr unsigned char QEL_CMD_UNCOMPRESSED = 0x02;
inline constexpr unsigned char QEL_CMD_COMPRESSED_RLE8 = 0x03;
inline constexpr unsigned char QEL_CMD_REPEAT_LINE = 0x04;
inline constexpr unsigned char QEL_CMD_PRINT_DENSITY = 0x05;
inline constexpr unsigned char QEL_CMD_CUT = 0x06;
inline constexpr unsigned char QEL_CMD_PATH_SELECTION = 0x0D;
inline constexpr unsigned char QEL_CMD_FORM_FEED = 0x0C;

// Size of the scratch area that set_graphics_dot_line builds a command in;
// larger than any RLE8 result for a line of n bytes.
constexpr uint64_t graphics_target_size(uint64_t n)
{
    return 2 * n + n / 64 + 5;
}

// Bytes a command buffer must hold for one raster line of a page: one graphics
// command (2 n + 4) plus the repeat commands a page of `height` identical
// lines can leave pending (5 bytes per 255 lines).
constexpr uint64_t command_buffer_size(uint64_t n, uint64_t height)
{
    return 2 * n + 4 + 5 * ((height + 254) / 255);
}

// Two options reach the filter through header fields that a page made
// without the kit's PPD leaves at 0, so such a page prints as it always did:
//  - cupsInteger[0] = 1: the blank dot lines above the page's content are
//    dropped too (the top trim);
//  - cupsInteger[1] = 1 with a non-zero CutMedia: the paper is cut once, at
//    the end of the job, instead of after every copy.
inline bool header_trims_top(const cups_page_header2_t& header)
{
    return header.cupsInteger[0] == 1;
}
inline bool header_cuts_after_job(const cups_page_header2_t& header)
{
    return header.cupsInteger[1] == 1 && header_value(header.CutMedia) != 0;
}

// Density byte d for a cupsCompression value; 0 means "send no density command".
unsigned char density_for_compression(unsigned compression);

// Paper path byte p for a MediaPosition value.
unsigned char path_for_media_position(unsigned media_position);

// Page-start settings: speed (unless the low byte of cupsRowFeed is 0xFF),
// density (unless its byte is 0) and paper path (always).
void start_page(const cups_page_header2_t& header, // I - page header
                TS_QEL_PAGE_STREAM& stream);       // IO - commands are appended

// Number of dot lines to print: cupsHeight less AdvanceDistance, less the
// trailing blank lines when Duplex = 1.  `image_buffer` holds `page_height`
// lines of `page_width_bytes` bytes.
uint32_t prepare_page(const cups_page_header2_t& header, // I - page header
                      const unsigned char* image_buffer, // I - page image
                      uint32_t page_width_bytes,         // I - bytes per dot line
                      uint32_t page_height);             // I - dot lines in the image

// Number of lines to skip at the top of the first nr_printing_lines lines:
// the leading blank lines when the page asks for the top trim, else 0.  A
// page without a set dot skips all of them.
uint32_t first_printing_line(const cups_page_header2_t& header, // I - page header
                             const unsigned char* image_buffer, // I - page image
                             uint32_t page_width_bytes,         // I - bytes per dot line
                             uint32_t nr_printing_lines);       // I - from prepare_page

// Appends the graphics command(s) of one dot line at cmd_buffer + *size_buffer
// (plain or RLE8, cut into 255-byte pieces) and returns the number of bytes
// appended; *size_buffer is not changed.  The buffer must have room for
// 2 * dot_line_size + 4 bytes after *size_buffer.  Returns 0 for a null buffer,
// size pointer or line, or a line of 0 bytes.
uint32_t set_graphics_dot_line(unsigned char* cmd_buffer,        // O - command buffer
                               const uint32_t* size_buffer,      // I - bytes already in it
                               const unsigned char* ub_dot_line, // I - the dot line
                               uint32_t dot_line_size);          // I - bytes in the line

// Room encode_dot_line needs behind its output pointer for a line of n bytes:
// the RLE8 scratch area of set_graphics_dot_line plus one command header.
constexpr uint64_t dot_line_room(uint64_t n)
{
    return graphics_target_size(n) + 4;
}

// The same command(s) as set_graphics_dot_line, built in place: the RLE8 data
// is scanned straight into `out` behind room for its header, so a line whose
// data fits one piece is never copied again.  `out` must have
// dot_line_room(dot_line_size) bytes.  Returns the bytes written (0 for a
// null pointer or an empty line).
uint32_t encode_dot_line(unsigned char* out,               // O - room for the commands
                         const unsigned char* ub_dot_line, // I - the dot line
                         uint32_t dot_line_size);          // I - bytes in the line

// Appends repeat commands for `duplicate_counter` pending identical lines
// (1B F0 04 01 k, k <= 255 each) and returns the bytes appended (0 for a null
// buffer or a zero count).
uint32_t set_repeat_dot_line(unsigned char* cmd_buffer,   // O - command buffer
                             const uint32_t* size_buffer, // I - bytes already in it
                             uint32_t duplicate_counter); // I - identical lines pending

// Moves the first size_buffer bytes of the command buffer to the stream.
void output_lines(const unsigned char* cmd_buffer, // I - command buffer
                  uint32_t size_buffer,            // I - bytes to move
                  TS_QEL_PAGE_STREAM& stream);     // IO - commands are appended

// Longest page end: form feed and cut command.
inline constexpr size_t QEL_PAGE_END_MAX = 6;

// Writes the page end of one copy into `out` (QEL_PAGE_END_MAX bytes of room)
// and returns its length.
uint32_t write_page_end(const cups_page_header2_t& header, unsigned char* out);

// The same page end with the cut decided by the caller (c = 2 when f_cut).
uint32_t write_page_end_cut(const cups_page_header2_t& header, bool f_cut, unsigned char* out);

// Page end of one copy: form feed when AdvanceMedia = 1, then the cut command.
void end_page(const cups_page_header2_t& header, // I - page header
              TS_QEL_PAGE_STREAM& stream);       // IO - commands are appended

// State of one copy of a page while its dot lines are encoded.  A copy can be
// encoded in several calls so that the caller may write the stream in pieces
// and stop between two dot lines.
struct TS_QEL_COPY_ENCODER
{
    const cups_page_header2_t* header = nullptr;
    const unsigned char* image_buffer = nullptr;
    uint32_t page_width_bytes = 0;
    uint32_t nr_printing_lines = 0;
    uint32_t current_line = 0;
    uint32_t duplicate_line_counter = 0;
    bool f_has_last_line = false;
    bool f_finished = false;
    std::vector<unsigned char> dot_last_line;
    std::vector<unsigned char> cmd_buffer;
};

// Prepares the encoding of one copy of the first nr_printing_lines lines of
// the page image.
void copy_begin(TS_QEL_COPY_ENCODER& copy,         // O - copy state
                const cups_page_header2_t& header, // I - page header
                const unsigned char* image_buffer, // I - page image
                uint32_t nr_printing_lines);       // I - from prepare_page

// Encodes dot lines of the copy until at least `min_bytes` were appended or
// the copy is complete, in which case the pending repeat commands and the page
// end are appended too.  Returns true once the copy is complete.
bool copy_encode(TS_QEL_COPY_ENCODER& copy,  // IO - copy state
                 TS_QEL_PAGE_STREAM& stream, // IO - commands are appended
                 size_t min_bytes);          // I - stop after this many bytes

// Ends a copy that is given up between two dot lines: only the page end is
// appended (pending repeats are dropped).  Does nothing for a finished copy.
void copy_abandon(TS_QEL_COPY_ENCODER& copy, TS_QEL_PAGE_STREAM& stream);

// The whole command stream of one copy (dot lines and page end).
void encode_page_copy(const cups_page_header2_t& header, const unsigned char* image_buffer,
                      uint32_t nr_printing_lines, TS_QEL_PAGE_STREAM& stream);
