// Fuzz target: the filter's stand-alone raster path on an arbitrary raster
// stream.  libcups reads the headers and dot lines from a memory file, the
// filter's page image and encoder turn each page into printer commands, and
// the virtual printer's decoder must read them back without an error; for
// narrow pages the decoded lines must equal the page image.
#include "fuzz_check.h"

#include "page_encoder.h"
#include "page_image.h"
#include "virtual_printer.h"

#include <cups/raster.h>
#include <sys/mman.h>
#include <unistd.h>

#include <vector>

namespace
{

// The harness reads at most this many pages and skips larger images: the
// filter itself allows up to QEL_PAGE_IMAGE_LIMIT, which is too slow to fill
// for every input.
constexpr int k_max_pages = 4;
constexpr size_t k_max_image = size_t{4} << 20;

// A memory file holding the input, positioned at its start; -1 on failure.
int lo_memory_file(const unsigned char* data, size_t size)
{
    const int fd = memfd_create("raster", 0);
    if (fd < 0)
    {
        return -1;
    }
    size_t done = 0;
    while (done < size)
    {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0)
        {
            close(fd);
            return -1;
        }
        done += static_cast<size_t>(n);
    }
    lseek(fd, 0, SEEK_SET);
    return fd;
}

void lo_check_page(const cups_page_header2_t& header, const unsigned char* image)
{
    const uint32_t width = header.cupsBytesPerLine;
    const uint32_t nr_lines = prepare_page(header, image, width, header.cupsHeight);
    FUZZ_CHECK(nr_lines <= header.cupsHeight);

    TS_QEL_PAGE_STREAM stream;
    start_page(header, stream);
    const unsigned copies = std::min(header.NumCopies, 2u);
    for (unsigned copy = 0; copy < copies; ++copy)
    {
        encode_page_copy(header, image, nr_lines, stream);
    }

    const qel_vp::DecodeResult decoded = qel_vp::decode_page_stream(stream);
    if (copies == 0)
    {
        // A header asking for no copy leaves only the page-start settings: no dot line,
        // no page end, and nothing cut in half.
        FUZZ_CHECK(decoded.pages.size() <= 1);
        FUZZ_CHECK(decoded.pages.empty() || decoded.pages[0].lines.empty());
        return;
    }
    FUZZ_CHECK(decoded.ok());
    FUZZ_CHECK(decoded.pages.size() == copies);
    if (width >= 97)
    {
        return; // a full 255-byte piece may run into the next line on the printer too
    }
    for (const qel_vp::Page& page : decoded.pages)
    {
        FUZZ_CHECK(page.complete);
        FUZZ_CHECK(page.lines.size() == nr_lines);
        for (uint32_t i = 0; i < nr_lines; ++i)
        {
            const unsigned char* line = image + size_t{i} * width;
            FUZZ_CHECK(page.lines[i] == std::vector<unsigned char>(line, line + width));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    const int fd = lo_memory_file(data, size);
    if (fd < 0)
    {
        return 0;
    }
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    if (ras != nullptr)
    {
        cups_page_header2_t header;
        for (int page = 0; page < k_max_pages && cupsRasterReadHeader2(ras, &header); ++page)
        {
            size_t bytes = 0;
            const ET_QEL_PAGE_SIZE check = page_image_size(header, &bytes);
            if (check != EV_QEL_PAGE_SIZE_OK)
            {
                FUZZ_CHECK(check == EV_QEL_PAGE_SIZE_EMPTY ||
                           uint64_t{header.cupsBytesPerLine} * header.cupsHeight >
                               QEL_PAGE_IMAGE_LIMIT);
                break;
            }
            FUZZ_CHECK(bytes == size_t{header.cupsBytesPerLine} * header.cupsHeight);
            if (bytes > k_max_image)
            {
                break;
            }
            TS_QEL_PAGE_IMAGE image = page_image_allocate(bytes);
            FUZZ_CHECK(image != nullptr);
            const uint32_t lines = page_image_read(ras, header, image.get(), page);
            FUZZ_CHECK(lines <= header.cupsHeight);
            lo_check_page(header, image.get());
            if (lines < header.cupsHeight)
            {
                break;
            }
        }
        cupsRasterClose(ras);
    }
    close(fd);
    return 0;
}
