// command_boundary.h - where the printer's command parser stands in a stream
// the host has written, and the harmless bytes that bring it back to a
// command boundary.
//
// The printer reads one command after the other and never resynchronises: a
// job that stops inside a command (a cancelled job, a killed backend, a
// failed write) leaves the printer waiting for the rest, and the next job's
// first bytes are taken as that rest. The tracker follows the bytes as they
// are written, so the writer always knows which command the printer will be
// inside once everything written has arrived, and how to finish it.
//
// Commands it knows (the printer's page command stream and the status
// inquiry that may sit between pages):
//   1B F0 cmd len operand[len]   page commands: 01 speed, 02 plain dot data,
//                                03 RLE8 dot data, 04 repeat line, 05 density,
//                                06 page end (cut), 0D paper path
//   0C                           form feed
//   1D 61 n1 n2                  inquiry
//   00                           synchronisation byte between pages
// A dot line longer than 255 bytes comes in 255-byte pieces; a 255-byte piece
// is continued by a directly following piece of the same kind. RLE8 groups
// (control 01..7F + that many bytes; control 80..FF + one byte) may cross the
// piece boundaries of one line but not the end of the line.
//
// Pure: no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qel
{

// Where the parser stands.
enum class ParserAt
{
    Boundary,    // between commands
    Escape,      // after 1B
    Prefix,      // after 1B F0
    CommandByte, // after 1B F0 cmd: the operand length is missing
    Operand,     // inside the operand bytes
    Inquiry,     // inside 1D 61 n1 n2
    Unknown,     // the stream held bytes the printer does not take as a command
};

struct CommandBoundary
{
    ParserAt at = ParserAt::Boundary;
    uint8_t command = 0;          // the page command byte (after 1B F0), when known
    uint8_t operand_size = 0;     // its operand length, when known
    uint8_t operand_seen = 0;     // operand bytes already written
    uint8_t inquiry_seen = 0;     // Inquiry: bytes of 1D 61 n1 n2 written
    bool page_open = false;       // page commands since the last page end
    uint8_t line_kind = 0;        // 02 / 03: a dot line continues after a 255-byte piece
    uint8_t rle_owed = 0;         // RLE8: bytes the current group still needs
    bool rle_control_next = true; // RLE8: the next data byte is a control byte
    uint64_t bytes = 0;           // bytes fed in all
    uint64_t pages_ended = 0;     // page end commands completed

    // True between commands, outside a dot line that still owes RLE8 bytes.
    bool on_boundary() const;
    // Operand bytes still missing of the command being written (0 when the
    // operand length is not known yet or outside a command).
    unsigned operand_missing() const;
};

// Follows `bytes` written after `state`.
void boundary_feed(CommandBoundary& state, std::span<const uint8_t> bytes);

// The bytes that complete the unfinished command with blank dot data or the
// smallest valid operand (speed 1, density 0, paper path 00 04, repeat 1,
// page end 0), finish a dot line that still owes RLE8 bytes, and then end an
// open page without a cut (1B F0 06 01 00). Empty when the parser stands on
// a boundary outside a page, and for Unknown (nothing is known to help).
std::vector<uint8_t> boundary_filler(const CommandBoundary& state);

// A short description for log lines: "on a command boundary", "inside 1B F0
// 02 (plain dot data), 40 operand bytes missing", ...
std::string describe_boundary(const CommandBoundary& state);

// One text line that keeps the state (for a state file), and back; nullopt for
// a line that is not one.
std::string boundary_to_text(const CommandBoundary& state);
std::optional<CommandBoundary> boundary_from_text(const std::string& text);

} // namespace qel
