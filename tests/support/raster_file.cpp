// raster_file.cpp - CUPS raster streams written and read with libcups.
#include "raster_file.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace test_support
{

cups_page_header2_t k1_page_header(unsigned width_dots, unsigned height_lines, unsigned dpi)
{
    cups_page_header2_t h;
    std::memset(&h, 0, sizeof h);
    h.HWResolution[0] = h.HWResolution[1] = dpi;
    const double width_pt = width_dots * 72.0 / dpi;
    const double height_pt = height_lines * 72.0 / dpi;
    h.PageSize[0] = unsigned(std::lround(width_pt));
    h.PageSize[1] = unsigned(std::lround(height_pt));
    h.ImagingBoundingBox[2] = h.PageSize[0];
    h.ImagingBoundingBox[3] = h.PageSize[1];
    h.cupsPageSize[0] = float(width_pt);
    h.cupsPageSize[1] = float(height_pt);
    h.cupsImagingBBox[2] = float(width_pt);
    h.cupsImagingBBox[3] = float(height_pt);
    h.NumCopies = 1;
    h.cupsWidth = width_dots;
    h.cupsHeight = height_lines;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = CUPS_CSPACE_K;
    h.cupsBitsPerColor = 1;
    h.cupsBitsPerPixel = 1;
    h.cupsBytesPerLine = (width_dots + 7) / 8;
    h.cupsNumColors = 1;
    return h;
}

RasterWriter::RasterWriter(const std::string& path, cups_mode_t mode) : path_(path)
{
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0)
    {
        fail(std::string("cannot create it: ") + std::strerror(errno));
        return;
    }
    raster_ = cupsRasterOpen(fd_, mode);
    if (!raster_)
        fail("cupsRasterOpen failed");
}

RasterWriter::~RasterWriter()
{
    close();
}

void RasterWriter::fail(const std::string& what)
{
    if (failure_.empty())
        failure_ = path_ + ": " + what;
}

bool RasterWriter::page(cups_page_header2_t header)
{
    if (raster_ && cupsRasterWriteHeader2(raster_, &header))
        return true;
    fail("cupsRasterWriteHeader2 failed");
    return false;
}

bool RasterWriter::pixels(const unsigned char* data, std::size_t size)
{
    if (raster_ &&
        cupsRasterWritePixels(raster_, const_cast<unsigned char*>(data), unsigned(size)) == size)
        return true;
    fail("cupsRasterWritePixels failed");
    return false;
}

std::string RasterWriter::close()
{
    if (raster_)
        cupsRasterClose(raster_);
    raster_ = nullptr;
    if (fd_ >= 0 && ::close(fd_) != 0)
        fail(std::string("cannot write it: ") + std::strerror(errno));
    fd_ = -1;
    return failure_;
}

std::vector<RasterPage> read_raster_pages(const std::string& path)
{
    std::vector<RasterPage> pages;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return pages;
    cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
    RasterPage page;
    while (raster && cupsRasterReadHeader2(raster, &page.header))
    {
        const unsigned width = page.header.cupsBytesPerLine;
        page.image.assign(std::size_t(width) * page.header.cupsHeight, 0);
        for (unsigned y = 0; y < page.header.cupsHeight; ++y)
            if (cupsRasterReadPixels(raster, page.image.data() + std::size_t(y) * width, width) !=
                width)
                break;
        pages.push_back(page);
    }
    if (raster)
        cupsRasterClose(raster);
    ::close(fd);
    return pages;
}

} // namespace test_support
