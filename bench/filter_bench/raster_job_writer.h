// Writes benchmark pages as CUPS raster streams with libcups.
#pragma once

#include "bench_pages.h"

#include <cups/raster.h>

#include <string>

namespace qel_bench
{

// The pixel form a filter wants.
struct RasterForm
{
    enum Kind
    {
        k1,   // 1-bit black, one byte per 8 dots (the kit's own filter, the floor)
        rgb8, // 8-bit RGB, 3 bytes per dot
    } kind = k1;
    unsigned line_dots = 0; // dots per line in the stream; 0 keeps the page width,
                            // a wider value pads every line with white on the right
    unsigned dpi = 203;
};

// The page header for one page in a form: 203 dpi, one copy, the receipt
// printer's options (speed 3, no density change, path 1, trailing-blank trim
// on, form feed and cut after each copy). Every CUPS field is set so that any
// filter reading it finds a consistent page.
cups_page_header2_t make_page_header(const PageSpec& page, const RasterForm& form);

// Writes the pages of an input to path in the given form. Returns an empty
// string on success, else what failed.
std::string write_raster_job(const std::string& path, const InputSpec& input,
                             const RasterForm& form);

} // namespace qel_bench
