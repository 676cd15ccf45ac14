// pbm_to_pwg - writes a raw PBM page as a PWG raster document (black_1, 203 dpi) with libcups,
// for documents whose every dot is known. The page is the PWG medium named on the command
// line; the image sits at its top left corner, the rest of the page is blank.
//   pbm_to_pwg IN.pbm MEDIA OUT.pwg      (MEDIA: a PWG name such as om_roll-80_80x100mm)
#include "pbm_image.h"
#include "raster_file.h"

#include <cups/raster.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

int main(int argc, char* argv[])
{
    if (argc != 4)
    {
        std::fprintf(stderr, "usage: pbm_to_pwg IN.pbm MEDIA OUT.pwg\n");
        return 2;
    }
    std::string why;
    const std::optional<test_support::PbmImage> image = test_support::read_pbm(argv[1], why);
    if (!image)
    {
        std::fprintf(stderr, "pbm_to_pwg: %s\n", why.c_str());
        return 1;
    }
    pwg_media_t* media = pwgMediaForPWG(argv[2]);
    cups_page_header2_t header;
    if (!media ||
        !cupsRasterInitPWGHeader(&header, media, "black_1", 203, 203, "one-sided", "normal"))
    {
        std::fprintf(stderr, "pbm_to_pwg: no header for %s\n", argv[2]);
        return 1;
    }
    header.cupsInteger[CUPS_RASTER_PWG_TotalPageCount] = 1;
    test_support::RasterWriter out(argv[3], CUPS_RASTER_WRITE_PWG);
    out.page(header);
    std::vector<unsigned char> line(header.cupsBytesPerLine);
    for (unsigned y = 0; y < header.cupsHeight; y++)
    {
        std::memset(line.data(), 0, line.size());
        if (y < image->height)
            std::memcpy(line.data(), image->row(y), std::min<size_t>(image->stride(), line.size()));
        out.pixels(line.data(), line.size());
    }
    const std::string failure = out.close();
    if (!failure.empty())
    {
        std::fprintf(stderr, "pbm_to_pwg: %s\n", failure.c_str());
        return 1;
    }
    return 0;
}
