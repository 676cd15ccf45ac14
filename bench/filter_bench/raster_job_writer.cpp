// Writes benchmark pages as CUPS raster streams with libcups.
#include "raster_job_writer.h"

#include "raster_file.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace qel_bench
{

cups_page_header2_t make_page_header(const PageSpec& page, const RasterForm& form)
{
    const unsigned dots = form.line_dots ? form.line_dots : page.width_dots;
    cups_page_header2_t h = test_support::k1_page_header(dots, page.height_lines, form.dpi);
    std::strncpy(h.MediaClass, "PwgRaster", sizeof h.MediaClass - 1);
    std::strncpy(h.MediaType, "Receipt", sizeof h.MediaType - 1);
    if (form.kind == RasterForm::rgb8)
    {
        h.cupsColorSpace = CUPS_CSPACE_RGB;
        h.cupsBitsPerColor = 8;
        h.cupsBitsPerPixel = 24;
        h.cupsBytesPerLine = 3 * dots;
        h.cupsNumColors = 3;
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
    std::string failure;
    {
        test_support::RasterWriter raster(tmp);
        for (std::size_t p = 0; raster.failure().empty() && p < input.pages.size(); ++p)
        {
            const PageSpec& page = input.pages[p];
            const PageImage img = render_page(page);
            const cups_page_header2_t h = make_page_header(page, form);
            raster.page(h);
            std::vector<uint8_t> out(h.cupsBytesPerLine);
            for (unsigned y = 0; raster.failure().empty() && y < img.height_lines; ++y)
            {
                if (form.kind == RasterForm::rgb8)
                    expand_line_to_rgb(img.line(y), h.cupsWidth, out);
                else
                    pad_line(img.line(y), out);
                raster.pixels(out.data(), out.size());
            }
        }
        failure = raster.close();
    }
    if (failure.empty() && rename(tmp.c_str(), path.c_str()) != 0)
        failure = "cannot rename " + tmp + ": " + std::strerror(errno);
    if (!failure.empty())
        unlink(tmp.c_str());
    return failure;
}

} // namespace qel_bench
