// Streaming encoder of one page copy.
#include "page_streamer.h"

#include <algorithm>
#include <cstring>

namespace
{

bool lo_is_blank(const TS_QEL_PAGE_STREAMER& s, const unsigned char* line)
{
    return std::memcmp(line, s.blank_line.data(), s.layout.width_bytes) == 0;
}

// The repeat commands for the identical lines counted so far.
void lo_write_repeats(TS_QEL_PAGE_STREAMER& s, TS_QEL_PAGE_STREAM& out)
{
    append_repeat_lines(s.duplicate_line_counter, out);
    s.duplicate_line_counter = 0;
}

// One printing line: a repeat when it equals the last line sent, else the
// pending repeats and its graphics command.
void lo_encode_line(TS_QEL_PAGE_STREAMER& s, const unsigned char* line, TS_QEL_PAGE_STREAM& out)
{
    const uint32_t width = s.layout.width_bytes;
    ++s.nr_printing_lines;
    if (s.f_has_last_line && std::memcmp(line, s.dot_last_line.data(), width) == 0)
    {
        ++s.duplicate_line_counter;
        return;
    }
    lo_write_repeats(s, out);
    // The command is built in place behind the stream's end; the vector keeps
    // its capacity, so this costs no allocation once the stream has grown.
    const size_t used = out.size();
    out.resize(used + static_cast<size_t>(dot_line_room(width)));
    out.resize(used + encode_dot_line(out.data() + used, line, width, s.layout.rle8_parse));
    std::memcpy(s.dot_last_line.data(), line, width);
    s.f_has_last_line = true;
}

// `count` blank printing lines.
void lo_encode_blank_lines(TS_QEL_PAGE_STREAMER& s, uint64_t count, TS_QEL_PAGE_STREAM& out)
{
    if (count == 0)
    {
        return;
    }
    if (!s.f_has_last_line || !lo_is_blank(s, s.dot_last_line.data()))
    {
        lo_encode_line(s, s.blank_line.data(), out);
        --count;
    }
    s.duplicate_line_counter += count;
    s.nr_printing_lines += count;
}

// A line that has passed the bottom cut-off: it prints unless it is blank
// and comes before the first dot of a page with the top trim, or belongs to a
// trailing blank stretch, which only a later non-blank line can tell.
void lo_emit_line(TS_QEL_PAGE_STREAMER& s, const unsigned char* line, TS_QEL_PAGE_STREAM& out)
{
    if (s.layout.f_trim_top && !s.f_seen_dot)
    {
        if (lo_is_blank(s, line))
        {
            return;
        }
        s.f_seen_dot = true;
    }
    if (s.layout.f_trim_bottom)
    {
        if (lo_is_blank(s, line))
        {
            ++s.pending_blank_lines;
            return;
        }
        lo_encode_blank_lines(s, s.pending_blank_lines, out);
        s.pending_blank_lines = 0;
    }
    lo_encode_line(s, line, out);
}

void lo_emit_blank_lines(TS_QEL_PAGE_STREAMER& s, uint64_t count, TS_QEL_PAGE_STREAM& out)
{
    if (s.layout.f_trim_top && !s.f_seen_dot)
    {
        return;
    }
    if (s.layout.f_trim_bottom)
    {
        s.pending_blank_lines += count;
    }
    else
    {
        lo_encode_blank_lines(s, count, out);
    }
}

} // namespace

void streamer_begin(TS_QEL_PAGE_STREAMER& streamer, const TS_QEL_PAGE_LAYOUT& layout)
{
    TS_QEL_PAGE_STREAMER& s = streamer;
    const uint32_t width = layout.width_bytes;
    s.layout = layout;
    s.f_print_nothing = layout.cut_lines >= layout.height;
    s.nr_cut_lines = s.f_print_nothing ? 0 : layout.cut_lines;
    s.f_seen_dot = false;
    s.lines_added = 0;
    // The ring grows as lines come: a page that announces a long cut-off
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
}

void streamer_add_line(TS_QEL_PAGE_STREAMER& streamer, const unsigned char* line,
                       TS_QEL_PAGE_STREAM& out)
{
    TS_QEL_PAGE_STREAMER& s = streamer;
    ++s.lines_added;
    if (s.f_print_nothing)
    {
        return;
    }
    const size_t width = s.layout.width_bytes;
    if (s.nr_cut_lines == 0)
    {
        lo_emit_line(s, line, out);
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
    lo_emit_line(s, slot, out);
    std::memcpy(slot, line, width);
    s.ring_next = (s.ring_next + 1 == s.nr_cut_lines) ? 0 : s.ring_next + 1;
}

void streamer_add_blank_lines(TS_QEL_PAGE_STREAMER& streamer, uint64_t count,
                              TS_QEL_PAGE_STREAM& out)
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
    const size_t width = s.layout.width_bytes;
    for (uint64_t k = 0; k < from_ring; ++k)
    {
        lo_emit_line(s, s.ring.data() + ((s.ring_next + k) % held) * width, out);
    }
    lo_emit_blank_lines(s, printing - from_ring, out);
    // What is left in the ring is cut off.
    s.ring_used = 0;
    s.ring_next = 0;
}

bool streamer_sent_line(const TS_QEL_PAGE_STREAMER& streamer)
{
    return streamer.f_has_last_line;
}

void streamer_finish_lines(TS_QEL_PAGE_STREAMER& streamer, TS_QEL_PAGE_STREAM& out)
{
    TS_QEL_PAGE_STREAMER& s = streamer;
    // Blank lines still pending are the trailing ones: trimmed.
    s.pending_blank_lines = 0;
    lo_write_repeats(s, out);
}

namespace
{

void lo_write_page_end(const TS_QEL_PAGE_LAYOUT& layout, TS_QEL_PAGE_STREAM& out)
{
    unsigned char bytes[QEL_PAGE_END_MAX];
    const uint32_t size = write_page_end(layout.f_form_feed, layout.f_cut, bytes);
    out.insert(out.end(), bytes, bytes + size);
}

} // namespace

void streamer_finish(TS_QEL_PAGE_STREAMER& streamer, TS_QEL_PAGE_STREAM& out)
{
    streamer_finish_lines(streamer, out);
    lo_write_page_end(streamer.layout, out);
}

void streamer_abandon(TS_QEL_PAGE_STREAMER& streamer, TS_QEL_PAGE_STREAM& out)
{
    TS_QEL_PAGE_STREAMER& s = streamer;
    s.pending_blank_lines = 0;
    s.duplicate_line_counter = 0;
    lo_write_page_end(s.layout, out);
}
