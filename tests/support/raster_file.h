// raster_file.h - CUPS raster streams for the tests and the benchmark, written and read with
// libcups: the page header of a 1-bit black page and a writer that says what failed.
#pragma once

#include <cups/raster.h>

#include <cstddef>
#include <string>
#include <vector>

namespace test_support
{

// A 1-bit black page (CUPS_CSPACE_K, chunked, one colour) of width_dots x height_lines at
// dpi: cupsWidth, cupsHeight, cupsBytesPerLine, the resolution, the page size and imaging
// box in points (whole points rounded), one copy; every other field 0.
cups_page_header2_t k1_page_header(unsigned width_dots, unsigned height_lines, unsigned dpi = 203);

// A raster stream written to a file. Every call is made even after a failure (a test may
// write a header libcups refuses and go on); the first failure is kept, with the path.
class RasterWriter
{
  public:
    // Creates `path` (mode 0644); mode CUPS_RASTER_WRITE or CUPS_RASTER_WRITE_PWG.
    explicit RasterWriter(const std::string& path, cups_mode_t mode = CUPS_RASTER_WRITE);
    ~RasterWriter();
    RasterWriter(const RasterWriter&) = delete;
    RasterWriter& operator=(const RasterWriter&) = delete;

    // The first failure so far, "" while none.
    const std::string& failure() const { return failure_; }
    // The header of the next page; false when libcups refuses it.
    bool page(cups_page_header2_t header);
    // `size` bytes of the current page's lines; false when fewer were written.
    bool pixels(const unsigned char* data, std::size_t size);
    // Ends the stream and closes the file: "" or the first failure.
    std::string close();

  private:
    void fail(const std::string& what);

    std::string path_;
    int fd_ = -1;
    cups_raster_t* raster_ = nullptr;
    std::string failure_;
};

// A page read back: its header and cupsHeight x cupsBytesPerLine bytes (zeros after a line
// that could not be read).
struct RasterPage
{
    cups_page_header2_t header{};
    std::vector<unsigned char> image;
};

// Every page of a raster file (none when it cannot be opened or is not raster).
std::vector<RasterPage> read_raster_pages(const std::string& path);

} // namespace test_support
