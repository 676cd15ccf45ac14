// Streaming encoder of one page copy for the stand-alone path.
#include "page_streamer.h"

#include "page_encoder.h"

#include <algorithm>
#include <cstring>

namespace
{

// Longest count of one repeat command.
constexpr uint64_t k_repeat_max = 255;
// Bytes of one repeat command.
constexpr size_t k_repeat_bytes = 5;

// Makes room for `need` more bytes in the output area.  The area only grows,
// and doubles when it does, so a page costs a few allocations at most.
unsigned char* lo_reserve(TS_QEL_PAGE_STREAMER& s, size_t need)
{
    if (s.out.size() - s.out_used < need)
    {
        s.out.resize(std::max(2 * s.out.size(), s.out_used + need));
    }
    return s.out.data() + s.out_used;
}

bool lo_is_blank(const TS_QEL_PAGE_STREAMER& s, const unsigned char* line)
{
    return std::memcmp(line, s.blank_line.data(), s.page_width_bytes) == 0;
}

// The repeat commands for the identical lines counted so far.
void lo_write_repeats(TS_QEL_PAGE_STREAMER& s)
{
    uint64_t pending = s.duplicate_line_counter;
    if (pending == 0)
    {
        return;
    }
    unsigned char* out = lo_reserve(
        s, k_repeat_bytes * static_cast<size_t>((pending + k_repeat_max - 1) / k_repeat_max));
    size_t written = 0;
    while (pending > 0)
    {
        const uint64_t k = std::min(pending, k_repeat_max);
        out[written++] = QEL_CMD_ESC;
        out[written++] = QEL_CMD_PREFIX;
        out[written++] = QEL_CMD_REPEAT_LINE;
        out[written++] = 0x01;
        out[written++] = static_cast<unsigned char>(k);
        pending -= k;
    }
    s.out_used += written;
    s.duplicate_line_counter = 0;
}

// One printing line through the copy loop: a repeat when it equals the last
// line sent, else the pending repeats and its graphics command.
void lo_encode_line(TS_QEL_PAGE_STREAMER& s, const unsigned char* line)
{
    const uint32_t width = s.page_width_bytes;
    ++s.nr_printing_lines;
    if (s.f_has_last_line && std::memcmp(line, s.dot_last_line.data(), width) == 0)
    {
        ++s.duplicate_line_counter;
        return;
    }
    lo_write_repeats(s);
    unsigned char* out = lo_reserve(s, static_cast<size_t>(dot_line_room(width)));
    s.out_used += encode_dot_line(out, line, width);
    std::memcpy(s.dot_last_line.data(), line, width);
    s.f_has_last_line = true;
}

// `count` blank printing lines through the copy loop.
void lo_encode_blank_lines(TS_QEL_PAGE_STREAMER& s, uint64_t count)
{
    if (count == 0)
    {
        return;
    }
    if (!s.f_has_last_line || !lo_is_blank(s, s.dot_last_line.data()))
    {
        lo_encode_line(s, s.blank_line.data());
        --count;
    }
    s.duplicate_line_counter += count;
    s.nr_printing_lines += count;
}

// A line that has passed the bottom cut-off: it prints unless it is blank
// and comes before the first dot of a page with the top trim, or belongs to a
// trailing blank stretch, which only a later non-blank line can tell.
void lo_emit_line(TS_QEL_PAGE_STREAMER& s, const unsigned char* line)
{
    if (s.f_trim_top && !s.f_seen_dot)
    {
        if (lo_is_blank(s, line))
        {
            return;
        }
        s.f_seen_dot = true;
    }
    if (s.f_trim_blanks)
    {
        if (lo_is_blank(s, line))
        {
            ++s.pending_blank_lines;
            return;
        }
        lo_encode_blank_lines(s, s.pending_blank_lines);
        s.pending_blank_lines = 0;
    }
    lo_encode_line(s, line);
}

void lo_emit_blank_lines(TS_QEL_PAGE_STREAMER& s, uint64_t count)
{
    if (s.f_trim_top && !s.f_seen_dot)
    {
        return;
    }
    if (s.f_trim_blanks)
    {
        s.pending_blank_lines += count;
    }
    else
    {
        lo_encode_blank_lines(s, count);
    }
}

} // namespace

void streamer_begin(TS_QEL_PAGE_STREAMER& streamer, const cups_page_header2_t& header)
{
    TS_QEL_PAGE_STREAMER& s = streamer;
    const uint32_t width = header.cupsBytesPerLine;
    const uint32_t height = header.cupsHeight;
    s.page_width_bytes = width;
    s.f_print_nothing = header.AdvanceDistance >= height;
    s.nr_cut_lines = s.f_print_nothing ? 0 : header.AdvanceDistance;
    s.f_trim_blanks = header_value(header.Duplex) == 1;
    s.f_trim_top = header_trims_top(header);
    s.f_seen_dot = false;
    s.lines_added = 0;
    // The ring grows as lines come: a header that announces a long cut-off
    // costs nothing until its lines are there.
    s.ring.clear();
    s.ring_used = 0;
    s.ring_next = 0;
    s.pending_blank_lines = 0;
    s.dot_last_line.resize(static_cast<size_t>(width) + 1);
    s.f_has_last_line = false;
    s.duplicate_line_counter = 0;
    s.nr_printing_lines = 0;
    s.blank_line.assign(width, 0);
    s.out_used = 0;
}

void streamer_add_line(TS_QEL_PAGE_STREAMER& streamer, const unsigned char* line)
{
    TS_QEL_PAGE_STREAMER& s = streamer;
    ++s.lines_added;
    if (s.f_print_nothing)
    {
        return;
    }
    const size_t width = s.page_width_bytes;
    if (s.nr_cut_lines == 0)
    {
        lo_emit_line(s, line);
        return;
    }
    if (s.ring_used < s.nr_cut_lines)
    {
        // resize grows the capacity geometrically: few allocations per page.
        s.ring.resize((static_cast<size_t>(s.ring_used) + 1) * width);
        std::memcpy(s.ring.data() + s.ring_used * width, line, width);
        ++s.ring_used;
        return;
    }
    // The oldest held line is now known to be above the cut-off.
    unsigned char* slot = s.ring.data() + s.ring_next * width;
    lo_emit_line(s, slot);
    std::memcpy(slot, line, width);
    s.ring_next = (s.ring_next + 1 == s.nr_cut_lines) ? 0 : s.ring_next + 1;
}

void streamer_add_blank_lines(TS_QEL_PAGE_STREAMER& streamer, uint64_t count)
{
    TS_QEL_PAGE_STREAMER& s = streamer;
    s.lines_added += count;
    if (s.f_print_nothing || count == 0)
    {
        return;
    }
    // These are the last lines of the page: of the held lines and the blank
    // ones behind them, all but the newest nr_cut_lines print, the held ones
    // (oldest first) before the blank ones.  Nothing new is stored.
    const uint64_t held = s.ring_used;
    const uint64_t printing = (held + count > s.nr_cut_lines) ? held + count - s.nr_cut_lines : 0;
    const uint64_t from_ring = std::min(printing, held);
    const size_t width = s.page_width_bytes;
    for (uint64_t k = 0; k < from_ring; ++k)
    {
        lo_emit_line(s, s.ring.data() + ((s.ring_next + k) % held) * width);
    }
    lo_emit_blank_lines(s, printing - from_ring);
    // What is left in the ring is cut off.
    s.ring_used = 0;
    s.ring_next = 0;
}

bool streamer_sent_line(const TS_QEL_PAGE_STREAMER& streamer)
{
    return streamer.f_has_last_line;
}

void streamer_finish_lines(TS_QEL_PAGE_STREAMER& streamer)
{
    TS_QEL_PAGE_STREAMER& s = streamer;
    // Blank lines still pending are the trailing ones: trimmed.
    s.pending_blank_lines = 0;
    lo_write_repeats(s);
}

void streamer_finish(TS_QEL_PAGE_STREAMER& streamer, const cups_page_header2_t& header)
{
    TS_QEL_PAGE_STREAMER& s = streamer;
    streamer_finish_lines(s);
    unsigned char* out = lo_reserve(s, QEL_PAGE_END_MAX);
    s.out_used += write_page_end(header, out);
}

void streamer_abandon(TS_QEL_PAGE_STREAMER& streamer, const cups_page_header2_t& header)
{
    TS_QEL_PAGE_STREAMER& s = streamer;
    s.pending_blank_lines = 0;
    s.duplicate_line_counter = 0;
    unsigned char* out = lo_reserve(s, QEL_PAGE_END_MAX);
    s.out_used += write_page_end(header, out);
}
