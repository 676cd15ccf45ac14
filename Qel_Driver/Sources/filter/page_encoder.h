// The page encoder as rastertoqel drives it: the print options of a CUPS
// page header turned into the encoder's plain page settings and layout, and
// the page-start and page-end commands of a header.
#pragma once

#include "page_commands.h"
#include "page_streamer.h"

#include <cups/raster.h>

#include <cstdint>
#include <cstring>

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

// Page-start settings of a header: speed from the low byte of cupsRowFeed,
// density from the step in cupsCompression, paper path from MediaPosition.
TS_QEL_PAGE_SETTINGS printer_settings_from_header(const cups_page_header2_t& header);

// Layout of a header's page: cupsBytesPerLine and cupsHeight, the bottom
// cut-off AdvanceDistance, trailing-blank trimming when Duplex = 1, the top
// trim, a form feed when AdvanceMedia = 1 and the cut when CutMedia is not 0.
TS_QEL_PAGE_LAYOUT page_layout_from_header(const cups_page_header2_t& header);

// Appends the page-start settings of a header.
void start_page(const cups_page_header2_t& header, // I - page header
                TS_QEL_PAGE_STREAM& stream);       // IO - commands are appended

// Writes the page end of one copy into `out` (QEL_PAGE_END_MAX bytes of room)
// and returns its length.
uint32_t write_page_end(const cups_page_header2_t& header, unsigned char* out);

// The same page end with the cut decided by the caller (c = 2 when f_cut).
uint32_t write_page_end_cut(const cups_page_header2_t& header, bool f_cut, unsigned char* out);
