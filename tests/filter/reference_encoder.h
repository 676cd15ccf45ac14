// Reference encoder of the tests: the page command stream of a whole page
// image, built the plain way the printer's command set describes it (a
// step-by-step RLE8 scan, one copy loop over the page image).  The shipped
// streaming encoder (qel_page_encoder) must produce the same bytes.
#pragma once

#include "page_encoder.h"

#include <cups/raster.h>

#include <cstddef>
#include <cstdint>
#include <vector>

// A bare page header: `width` bytes by `height` lines, one copy, every other
// field 0.
cups_page_header2_t page_header(uint32_t width, uint32_t height);

// Bytes a command buffer must hold for one raster line of a page: one graphics
// command (2 n + 4) plus the repeat commands a page of `height` identical
// lines can leave pending (5 bytes per 255 lines).
constexpr uint64_t command_buffer_size(uint64_t n, uint64_t height)
{
    return 2 * n + 4 + 5 * ((height + 254) / 255);
}

// Number of dot lines to print: cupsHeight less AdvanceDistance, less the
// trailing blank lines when Duplex = 1.  `image_buffer` holds `page_height`
// lines of `page_width_bytes` bytes.
uint32_t prepare_page(const cups_page_header2_t& header, const unsigned char* image_buffer,
                      uint32_t page_width_bytes, uint32_t page_height);

// Number of lines to skip at the top of the first nr_printing_lines lines:
// the leading blank lines when the page asks for the top trim, else 0.
uint32_t first_printing_line(const cups_page_header2_t& header, const unsigned char* image_buffer,
                             uint32_t page_width_bytes, uint32_t nr_printing_lines);

// The RLE8 scan step by step, after the description of the segment scan:
// builds the RLE8 data of a dot line in `target` (capacity `capacity`).
// Returns false when a group would not fit, in which case the caller falls
// back to the plain form.  *length receives the data length.
bool reference_rle8_scan(const unsigned char* line, uint32_t n, unsigned char* target,
                         uint64_t capacity, uint64_t* length);

// Appends the graphics command(s) of one dot line at cmd_buffer + *size_buffer
// and returns the number of bytes appended; *size_buffer is not changed.  The
// buffer must have room for 2 * dot_line_size + 4 bytes after *size_buffer.
// Returns 0 for a null buffer, size pointer or line, or a line of 0 bytes.
uint32_t set_graphics_dot_line(unsigned char* cmd_buffer, const uint32_t* size_buffer,
                               const unsigned char* ub_dot_line, uint32_t dot_line_size);

// Appends repeat commands for `duplicate_counter` pending identical lines and
// returns the bytes appended (0 for a null buffer or a zero count).
uint32_t set_repeat_dot_line(unsigned char* cmd_buffer, const uint32_t* size_buffer,
                             uint32_t duplicate_counter);

// Moves the first size_buffer bytes of the command buffer to the stream.
void output_lines(const unsigned char* cmd_buffer, uint32_t size_buffer,
                  TS_QEL_PAGE_STREAM& stream);

// Page end of one copy: form feed when AdvanceMedia = 1, then the cut command.
void end_page(const cups_page_header2_t& header, TS_QEL_PAGE_STREAM& stream);

// State of one copy of a page while its dot lines are encoded, possibly in
// several calls.
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
void copy_begin(TS_QEL_COPY_ENCODER& copy, const cups_page_header2_t& header,
                const unsigned char* image_buffer, uint32_t nr_printing_lines);

// Encodes dot lines of the copy until at least `min_bytes` were appended or
// the copy is complete, in which case the pending repeat commands and the page
// end are appended too.  Returns true once the copy is complete.
bool copy_encode(TS_QEL_COPY_ENCODER& copy, TS_QEL_PAGE_STREAM& stream, size_t min_bytes);

// Ends a copy that is given up between two dot lines: only the page end is
// appended (pending repeats are dropped).  Does nothing for a finished copy.
void copy_abandon(TS_QEL_COPY_ENCODER& copy, TS_QEL_PAGE_STREAM& stream);

// The whole command stream of one copy (dot lines and page end).
void encode_page_copy(const cups_page_header2_t& header, const unsigned char* image_buffer,
                      uint32_t nr_printing_lines, TS_QEL_PAGE_STREAM& stream);
