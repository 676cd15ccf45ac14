// Streaming encoder of one page copy for the stand-alone path: dot lines are
// encoded as they arrive from the raster stream instead of from a whole page
// image.  It produces the same bytes as prepare_page followed by the copy
// loop, holding back only what the page's end still decides:
//  - the bottom cut-off (AdvanceDistance): the last N lines never print, so
//    up to N lines wait in a ring until N newer ones have come; the ring
//    grows with the lines it really holds, never ahead of them;
//  - trailing-blank trimming (Duplex = 1): a stretch of blank lines is only
//    counted until a non-blank line (it prints) or the page end (it is
//    dropped) decides it;
//  - the top trim (cupsInteger[0] = 1): blank lines are dropped until the
//    first line with a dot; nothing is held, a blank line there never prints.
// No I/O happens here: commands collect in the streamer's output area, which
// the caller drains between lines.
#pragma once

#include <cups/raster.h>

#include <cstddef>
#include <cstdint>
#include <vector>

struct TS_QEL_PAGE_STREAMER
{
    uint32_t page_width_bytes = 0;
    uint32_t nr_cut_lines = 0; // lines held back for the bottom cut-off
    bool f_trim_blanks = false;
    bool f_trim_top = false;
    bool f_seen_dot = false;      // a line with a dot has passed the cut-off
    bool f_print_nothing = false; // the cut-off takes the whole page
    uint64_t lines_added = 0;     // lines given to the streamer so far

    // Ring of the newest lines, at most nr_cut_lines of them.
    std::vector<unsigned char> ring;
    uint32_t ring_used = 0;
    uint32_t ring_next = 0; // oldest line once the ring is full

    // Blank lines that wait for trimming to be decided.
    uint64_t pending_blank_lines = 0;

    // State of the copy loop.
    std::vector<unsigned char> dot_last_line;
    bool f_has_last_line = false;
    bool f_last_line_blank = false;
    uint64_t duplicate_line_counter = 0;
    uint64_t nr_printing_lines = 0; // lines that went through the copy loop
    std::vector<unsigned char> blank_line;

    // Encoded commands not yet taken by the caller: out[0 .. out_used).
    std::vector<unsigned char> out;
    size_t out_used = 0;
};

// Prepares a copy of the page described by `header`.  Buffers are kept from
// the previous page when they are large enough.
void streamer_begin(TS_QEL_PAGE_STREAMER& streamer,     // O - streamer
                    const cups_page_header2_t& header); // I - page header

// Adds the next dot line of the page (page_width_bytes bytes).
void streamer_add_line(TS_QEL_PAGE_STREAMER& streamer, const unsigned char* line);

// Adds `count` blank lines as the last lines of the page: the lines the
// raster stream failed to deliver.  Only streamer_finish or
// streamer_finish_lines may follow.  Long stretches cost no more than a few
// lines, and none of them is stored.
void streamer_add_blank_lines(TS_QEL_PAGE_STREAMER& streamer, uint64_t count);

// True once the copy has produced a dot line command.
bool streamer_sent_line(const TS_QEL_PAGE_STREAMER& streamer);

// Ends the copy: pending repeat commands, then the page end.  Lines still
// held back are the ones cut off or trimmed.
void streamer_finish(TS_QEL_PAGE_STREAMER& streamer, const cups_page_header2_t& header);

// The same without the page end, for a caller that writes the page end
// itself (the cut at the end of the job).
void streamer_finish_lines(TS_QEL_PAGE_STREAMER& streamer);

// Ends a copy that is given up between two lines: the page end only.
void streamer_abandon(TS_QEL_PAGE_STREAMER& streamer, const cups_page_header2_t& header);

// Encoded bytes waiting to be taken, and taking them.
inline const unsigned char* streamer_output(const TS_QEL_PAGE_STREAMER& streamer)
{
    return streamer.out.data();
}
inline size_t streamer_output_size(const TS_QEL_PAGE_STREAMER& streamer)
{
    return streamer.out_used;
}
inline void streamer_output_taken(TS_QEL_PAGE_STREAMER& streamer)
{
    streamer.out_used = 0;
}
