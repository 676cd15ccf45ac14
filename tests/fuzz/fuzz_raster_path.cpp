// Fuzz target: the filter's stand-alone raster path on an arbitrary raster
// stream.  libcups reads the headers and dot lines from a memory file, the
// shipped streaming encoder turns each page, line by line and with its
// missing lines, into printer commands, which must equal the tests'
// reference encoding of the page image; the virtual printer's decoder must
// read them back without an error, and for narrow pages the decoded lines
// must equal the page image.
#include "fuzz_check.h"

#include "page_image.h"
#include "page_streamer.h"
#include "reference_encoder.h"
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

// `lines_read` lines of the image came from the stream, the rest are blank.
void lo_check_page(const cups_page_header2_t& header, const unsigned char* image,
                   uint32_t lines_read)
{
    const uint32_t width = header.cupsBytesPerLine;
    const uint32_t prepared = prepare_page(header, image, width, header.cupsHeight);
    FUZZ_CHECK(prepared <= header.cupsHeight);
    const uint32_t first = first_printing_line(header, image, width, prepared);
    const uint32_t nr_lines = prepared - first;
    const unsigned char* printed = image + size_t{first} * width;

    TS_QEL_PAGE_STREAM stream;
    start_page(header, stream);
    TS_QEL_PAGE_STREAM reference = stream;
    const unsigned copies = std::min(header.NumCopies, 2u);
    TS_QEL_PAGE_STREAMER streamer;
    for (unsigned copy = 0; copy < copies; ++copy)
    {
        encode_page_copy(header, printed, nr_lines, reference);
        streamer_begin(streamer, page_layout_from_header(header));
        for (uint32_t y = 0; y < lines_read; ++y)
        {
            streamer_add_line(streamer, image + size_t{y} * width, stream);
        }
        streamer_add_blank_lines(streamer, header.cupsHeight - lines_read, stream);
        streamer_finish(streamer, stream);
        FUZZ_CHECK(streamer.nr_printing_lines == nr_lines);
    }
    FUZZ_CHECK(stream == reference);

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
            const unsigned char* line = printed + size_t{i} * width;
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
            lo_check_page(header, image.get(), lines);
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
