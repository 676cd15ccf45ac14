// Page command stream: parsing of single commands and assembly of dot lines into pages.
// Shared by the stand-alone decoder and the protocol engine.
#pragma once

#include "virtual_printer.h"

#include <utility>

namespace qel_vp
{

enum class ParseStatus
{
    Complete, // a whole command is at the start of the buffer
    NeedMore, // the buffer ends inside the command
    Invalid,  // the bytes are not a page command
};

// One page command: 1B F0 cmd len operand[len], or the form feed 0C (cmd 0x0C, no operand).
struct PageCommand
{
    std::uint8_t cmd = 0;
    std::span<const std::uint8_t> operand;
    std::size_t length = 0; // bytes of the whole command
};

// Looks at the command at the start of `buf` (which starts with 1B F0 or 0C).
ParseStatus parse_page_command(std::span<const std::uint8_t> buf, PageCommand& out,
                               std::string& why);

// Builds pages from commands. A dot line sent in pieces of 255 bytes continues while the
// next command is a piece of the same kind; any other command (or a shorter piece) ends it.
class PageAssembler
{
  public:
    // Applies one command found at stream offset `offset`; false with `error` set when the
    // command is malformed or out of place (error.offset points at the offending byte).
    bool apply(const PageCommand& command, std::size_t offset, DecodeError& error);
    // Ends the stream at `offset`: finishes a pending line; true when no page is left open.
    bool finish(std::size_t offset, DecodeError& error);
    // Pages completed since the last call.
    std::vector<Page> take_completed() { return std::exchange(completed_, {}); }
    // Something was received since the last page end.
    bool page_open() const { return page_open_; }
    const Page& current() const { return current_; }

  private:
    bool end_line(DecodeError& error);
    void start_page_if_needed(std::size_t offset);

    Page current_;
    bool page_open_ = false;
    bool have_last_line_ = false;
    PageSettings settings_; // persist from page to page
    std::size_t next_index_ = 0;
    std::vector<Page> completed_;
    // Dot line in progress.
    std::uint8_t line_kind_ = 0;  // 0 none, 0x02 plain, 0x03 RLE8
    bool line_continues_ = false; // last piece was 255 bytes long
    std::vector<std::uint8_t> line_data_;
    std::vector<std::pair<std::size_t, std::size_t>> piece_offsets_; // (data index, offset)
};

// Decodes RLE8 groups into `line`; on error returns false and the index of the bad byte.
bool decode_rle8(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& line,
                 std::size_t& bad_index, std::string& why);

} // namespace qel_vp
