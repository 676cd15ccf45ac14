// Printer page commands: the page-start settings, the graphics dot line
// (plain or RLE8, cut into 255-byte pieces), the repeat command and the page
// end.  Plain values in, bytes out; no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Printer commands collect in a caller-owned byte stream.
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

// Page-start settings as the printer takes them.
struct TS_QEL_PAGE_SETTINGS
{
    unsigned char speed = 0xFF;   // speed byte; 0xFF sends no speed command
    unsigned char density = 0x00; // density byte (signed, -100 to 100); 0 sends none
    unsigned char path = 4;       // paper path byte
};

// Density byte of a density step (0, 5, ..., 100 without 50; 255 for the
// printer's own setting, which sends no command).  Any other step gives 0xFF.
unsigned char density_for_step(unsigned step);

// Paper path byte of a paper position: 1 -> 1, 2 -> 2, 3 -> 0, else 4.
unsigned char path_for_position(unsigned position);

// Appends the page-start settings: speed and density unless they are left to
// the printer, then the paper path.
void append_page_start(const TS_QEL_PAGE_SETTINGS& settings, TS_QEL_PAGE_STREAM& stream);

// How a dot line's RLE8 data is cut into groups.  The printer takes literal
// groups (control 01..7F, then that many bytes) and run groups (control
// 80 | k, then the byte repeated k times); the groups of one line form one
// stream that its 255-byte pieces may cut anywhere, even inside a group.
enum class Rle8Parse : unsigned char
{
    // A run starts at the first pair of equal neighbours within 127 bytes;
    // the bytes before it are a literal group.  The filter's byte stream.
    FirstPair,
    // The fewest RLE8 bytes the printer's groups can carry the line in: one
    // dynamic program over the line, linear in its width.
    Shortest,
};

// Size of the scratch area an RLE8 encoding of a line of n bytes may use;
// larger than any RLE8 result.
constexpr uint64_t graphics_target_size(uint64_t n)
{
    return 2 * n + n / 64 + 5;
}

// Room encode_dot_line needs behind its output pointer for a line of n bytes:
// the RLE8 scratch area plus one command header.
constexpr uint64_t dot_line_room(uint64_t n)
{
    return graphics_target_size(n) + 4;
}

// The graphics command(s) of one dot line: RLE8 (groups as `parse` cuts
// them) when its data is shorter than the line, else plain; either cut into
// 255-byte pieces with a last piece of the remainder (written even when
// empty; with the shortest parse also behind data of exactly 255 bytes, which
// the printer would otherwise join with the next line's piece).  The RLE8 data is built straight in
// `out` behind room for its header (the shortest parse keeps its choices at the far end of the same
// room), so `out` must have dot_line_room(dot_line_size) bytes.  Returns the
// bytes written (0 for a null pointer or an empty line).
uint32_t encode_dot_line(unsigned char* out,               // O - room for the commands
                         const unsigned char* ub_dot_line, // I - the dot line
                         uint32_t dot_line_size,           // I - bytes in the line
                         Rle8Parse parse = Rle8Parse::FirstPair);

// Appends repeat commands for `count` lines equal to the last one sent
// (1B F0 04 01 k, k <= 255 each); nothing for 0.
void append_repeat_lines(uint64_t count, TS_QEL_PAGE_STREAM& stream);

// Longest page end: form feed and cut command.
inline constexpr size_t QEL_PAGE_END_MAX = 6;

// Writes a page end into `out` (QEL_PAGE_END_MAX bytes of room): the form feed
// when asked for, then the cut command (c = 2 with the cut, else 0).
// Returns its length.
uint32_t write_page_end(bool f_form_feed, bool f_cut, unsigned char* out);
