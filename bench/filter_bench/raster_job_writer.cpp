// Writes benchmark pages as CUPS raster streams with libcups.
#include "raster_job_writer.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace qel_bench
{

cups_page_header2_t make_page_header(const PageSpec& page, const RasterForm& form)
{
    cups_page_header2_t h;
    std::memset(&h, 0, sizeof h);
    const unsigned dots = form.line_dots ? form.line_dots : page.width_dots;
    std::strncpy(h.MediaClass, "PwgRaster", sizeof h.MediaClass - 1);
    std::strncpy(h.MediaType, "Receipt", sizeof h.MediaType - 1);
    h.HWResolution[0] = h.HWResolution[1] = form.dpi;
    const double width_pt = dots * 72.0 / form.dpi;
    const double height_pt = page.height_lines * 72.0 / form.dpi;
    h.PageSize[0] = unsigned(std::lround(width_pt));
    h.PageSize[1] = unsigned(std::lround(height_pt));
    h.ImagingBoundingBox[2] = h.PageSize[0];
    h.ImagingBoundingBox[3] = h.PageSize[1];
    h.cupsPageSize[0] = float(width_pt);
    h.cupsPageSize[1] = float(height_pt);
    h.cupsImagingBBox[2] = float(width_pt);
    h.cupsImagingBBox[3] = float(height_pt);
    h.NumCopies = 1;
    h.cupsWidth = dots;
    h.cupsHeight = page.height_lines;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    if (form.kind == RasterForm::rgb8)
    {
        h.cupsColorSpace = CUPS_CSPACE_RGB;
        h.cupsBitsPerColor = 8;
        h.cupsBitsPerPixel = 24;
        h.cupsBytesPerLine = 3 * dots;
        h.cupsNumColors = 3;
    }
    else
    {
        h.cupsColorSpace = CUPS_CSPACE_K;
        h.cupsBitsPerColor = 1;
        h.cupsBitsPerPixel = 1;
        h.cupsBytesPerLine = (dots + 7) / 8;
        h.cupsNumColors = 1;
    }
    // The receipt printer reads its options from these fields; the values are
    // harmless to the label printers' filters.
    h.cupsRowFeed = 3;       // print speed
    h.cupsCompression = 255; // leave the print density alone
    h.MediaPosition = 1;     // paper path
    h.AdvanceDistance = 0;   // cut nothing off the bottom
    h.Duplex = CUPS_TRUE;    // trim trailing blank lines
    h.AdvanceMedia = CUPS_ADVANCE_FILE;
    h.CutMedia = CUPS_CUT_FILE;
    return h;
}

std::string write_raster_job(const std::string& path, const InputSpec& input,
                             const RasterForm& form)
{
    const std::string tmp = path + ".part";
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return "cannot create " + tmp + ": " + std::strerror(errno);
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
    std::string failure;
    if (!ras)
        failure = "cupsRasterOpen failed for " + tmp;
    for (std::size_t p = 0; failure.empty() && p < input.pages.size(); ++p)
    {
        const PageSpec& page = input.pages[p];
        const PageImage img = render_page(page);
        cups_page_header2_t h = make_page_header(page, form);
        if (!cupsRasterWriteHeader2(ras, &h))
        {
            failure = "cupsRasterWriteHeader2 failed for " + tmp;
            break;
        }
        std::vector<uint8_t> out(h.cupsBytesPerLine);
        for (unsigned y = 0; y < img.height_lines; ++y)
        {
            if (form.kind == RasterForm::rgb8)
                expand_line_to_rgb(img.line(y), h.cupsWidth, out);
            else
                pad_line(img.line(y), out);
            if (cupsRasterWritePixels(ras, out.data(), unsigned(out.size())) != out.size())
            {
                failure = "cupsRasterWritePixels failed for " + tmp;
                break;
            }
        }
    }
    if (ras)
        cupsRasterClose(ras);
    if (close(fd) != 0 && failure.empty())
        failure = "cannot write " + tmp + ": " + std::strerror(errno);
    if (failure.empty() && rename(tmp.c_str(), path.c_str()) != 0)
        failure = "cannot rename " + tmp + ": " + std::strerror(errno);
    if (!failure.empty())
        unlink(tmp.c_str());
    return failure;
}

} // namespace qel_bench
