// Streaming encoder of one page copy: dot lines go in one at a time, as a
// raster stream or a printer application's raster callback delivers them,
// and printer commands come out, appended to the caller's stream.  Identical
// lines become repeat commands.  Only what the page's end still decides is
// held back:
//  - the bottom cut-off: the last N lines never print, so up to N lines wait
//    in a ring until N newer ones have come; the ring grows with the lines it
//    really holds, never ahead of them;
//  - trailing-blank trimming: a stretch of blank lines is only counted until
//    a non-blank line (it prints) or the page end (it is dropped) decides it;
//  - the top trim: blank lines are dropped until the first line with a dot;
//    nothing is held, a blank line there never prints.
// The page-start settings are the caller's (append_page_start), written once
// per page before the first copy.
#pragma once

#include "page_commands.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// How one page prints, in plain values.
struct TS_QEL_PAGE_LAYOUT
{
    uint32_t width_bytes = 0;   // bytes in a dot line
    uint32_t height = 0;        // dot lines in the page
    uint32_t cut_lines = 0;     // dot lines cut off the bottom
    bool f_trim_bottom = false; // trailing blank lines are dropped
    bool f_trim_top = false;    // leading blank lines are dropped
    bool f_form_feed = false;   // the page end begins with a form feed
    bool f_cut = false;         // the page end cuts the paper
    // Groups of the RLE8 lines: the filter's first-pair scan unless the
    // caller asks for the shortest data.
    Rle8Parse rle8_parse = Rle8Parse::FirstPair;
};

struct TS_QEL_PAGE_STREAMER
{
    TS_QEL_PAGE_LAYOUT layout;
    uint32_t nr_cut_lines = 0;    // lines held back for the bottom cut-off
    bool f_seen_dot = false;      // a line with a dot has passed the cut-off
    bool f_print_nothing = false; // the cut-off takes the whole page
    uint64_t lines_added = 0;     // lines given to the streamer so far

    // Ring of the newest lines, at most nr_cut_lines of them.
    std::vector<unsigned char> ring;
    uint32_t ring_used = 0;
    uint32_t ring_next = 0; // oldest line once the ring is full

    // Blank lines that wait for trimming to be decided.
    uint64_t pending_blank_lines = 0;

    // The last dot line sent and the identical lines counted since.
    std::vector<unsigned char> dot_last_line;
    bool f_has_last_line = false;
    uint64_t duplicate_line_counter = 0;
    uint64_t nr_printing_lines = 0; // lines that printed (sent or repeated)
    std::vector<unsigned char> blank_line;
};

// Prepares a copy of a page.  Buffers are kept from the previous page when
// they are large enough.
void streamer_begin(TS_QEL_PAGE_STREAMER& streamer, const TS_QEL_PAGE_LAYOUT& layout);

// Adds the next dot line of the page (layout.width_bytes bytes); the commands
// it releases are appended to `out`.
void streamer_add_line(TS_QEL_PAGE_STREAMER& streamer, const unsigned char* line,
                       TS_QEL_PAGE_STREAM& out);

// Adds `count` blank lines as the last lines of the page: the lines the
// raster stream failed to deliver.  Only streamer_finish or
// streamer_finish_lines may follow.  Long stretches cost no more than a few
// lines, and none of them is stored.
void streamer_add_blank_lines(TS_QEL_PAGE_STREAMER& streamer, uint64_t count,
                              TS_QEL_PAGE_STREAM& out);

// True once the copy has produced a dot line command.
bool streamer_sent_line(const TS_QEL_PAGE_STREAMER& streamer);

// Ends the copy: pending repeat commands, then the page end of the layout.
// Lines still held back are the ones cut off or trimmed.
void streamer_finish(TS_QEL_PAGE_STREAMER& streamer, TS_QEL_PAGE_STREAM& out);

// The same without the page end, for a caller that writes the page end
// itself (the cut at the end of the job).
void streamer_finish_lines(TS_QEL_PAGE_STREAMER& streamer, TS_QEL_PAGE_STREAM& out);

// Ends a copy that is given up between two lines: the page end only.
void streamer_abandon(TS_QEL_PAGE_STREAMER& streamer, TS_QEL_PAGE_STREAM& out);
