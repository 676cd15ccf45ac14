// The page image of rastertoqel.
#include "page_image.h"

#include "job_cancel.h"

#include <cstdio>
#include <cstring>

ET_QEL_PAGE_SIZE page_image_size(const cups_page_header2_t& header, size_t* bytes)
{
    const uint64_t width = header.cupsBytesPerLine;
    const uint64_t height = header.cupsHeight;
    if (width == 0 || height == 0)
    {
        return EV_QEL_PAGE_SIZE_EMPTY;
    }
    // Both factors are below 2^32, so the product fits in 64 bits.
    const uint64_t size = width * height;
    if (size > QEL_PAGE_IMAGE_LIMIT || size > SIZE_MAX)
    {
        return EV_QEL_PAGE_SIZE_TOO_LARGE;
    }
    if (bytes != nullptr)
    {
        *bytes = static_cast<size_t>(size);
    }
    return EV_QEL_PAGE_SIZE_OK;
}

TS_QEL_PAGE_IMAGE page_image_allocate(size_t bytes)
{
    return TS_QEL_PAGE_IMAGE(static_cast<unsigned char*>(std::calloc(bytes, 1)));
}

uint32_t page_image_read(cups_raster_t* ras, const cups_page_header2_t& header,
                         unsigned char* image, int pages_done)
{
    const uint32_t width = header.cupsBytesPerLine;
    const uint32_t height = header.cupsHeight;
    uint32_t lines = 0;
    while (lines < height && !cancel_requested())
    {
        if (lines % 128 == 0)
        {
            std::fprintf(stderr, "INFO: Printing page %d, %ld%% complete...\n", pages_done,
                         static_cast<long>(static_cast<uint64_t>(lines) * 100 / height));
        }
        unsigned char* line = image + static_cast<size_t>(lines) * width;
        if (ras == nullptr || cupsRasterReadPixels(ras, line, width) != width)
        {
            // A line that did not arrive whole prints blank, like the ones after it.
            std::memset(line, 0, width);
            break;
        }
        ++lines;
    }
    return lines;
}

void page_image_report_unusable(int page_nr, const cups_page_header2_t& header,
                                ET_QEL_PAGE_SIZE why)
{
    if (why == EV_QEL_PAGE_SIZE_EMPTY)
    {
        std::fprintf(stderr,
                     "ERROR: Page %d has an empty page image (%u bytes per line, %u lines)\n",
                     page_nr, header.cupsBytesPerLine, header.cupsHeight);
    }
    else
    {
        std::fprintf(stderr,
                     "ERROR: Unable to allocate memory for page %d (%u bytes per line, %u lines)\n",
                     page_nr, header.cupsBytesPerLine, header.cupsHeight);
    }
}
