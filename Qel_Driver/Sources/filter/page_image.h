// The page image: the checked size of a page, its allocation and the reading
// of its dot lines from the raster stream.
#pragma once

#include <cups/raster.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

// Largest page image the filter holds in memory: 1 GiB is far beyond any
// receipt (about 1.8 km of paper at 576 dots per line and 203 dpi) and keeps
// a hostile header from exhausting the machine.
inline constexpr uint64_t QEL_PAGE_IMAGE_LIMIT = uint64_t{1} << 30;

typedef enum
{
    EV_QEL_PAGE_SIZE_OK = 0,
    EV_QEL_PAGE_SIZE_EMPTY = 1,     // no bytes per line or no lines
    EV_QEL_PAGE_SIZE_TOO_LARGE = 2, // more than QEL_PAGE_IMAGE_LIMIT bytes
} ET_QEL_PAGE_SIZE;

// Checks cupsBytesPerLine x cupsHeight (computed without overflow) and
// stores the image size in *bytes when it is usable.
ET_QEL_PAGE_SIZE page_image_size(const cups_page_header2_t& header, size_t* bytes);

struct TS_QEL_FREE
{
    void operator()(unsigned char* p) const { std::free(p); }
};
using TS_QEL_PAGE_IMAGE = std::unique_ptr<unsigned char[], TS_QEL_FREE>;

// A zero-filled image of `bytes` bytes, or null when memory is short.  Lines
// the raster stream fails to deliver therefore print blank.
TS_QEL_PAGE_IMAGE page_image_allocate(size_t bytes);

// Reads the page's cupsHeight dot lines into `image`, writing the progress
// line "INFO: Printing page %d, %ld%% complete..." to standard error before
// lines 0, 128, 256, ...  Stops at the first failed read or when the job is
// cancelled.  Returns the number of lines read.
uint32_t page_image_read(cups_raster_t* ras, const cups_page_header2_t& header,
                         unsigned char* image, int pages_done);

// Writes the "ERROR:" line for a page whose header cannot be printed.
void page_image_report_unusable(int page_nr, const cups_page_header2_t& header,
                                ET_QEL_PAGE_SIZE why);
