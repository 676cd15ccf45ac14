// raster_info: prints the page header fields of a CUPS raster stream that
// the QEL filter reads, one line per page, and a count of dark dots.
//
//   raster_info FILE [PBM_PREFIX]   (standard input when FILE is "-")
//
// With PBM_PREFIX every page is also written as PBM_PREFIX-N.pbm (1-bit
// pages only; a set bit is a black dot, as in the raster).
//
// Output per page:
//   page=N width=W height=H bpl=B bits=1 space=3 res=203 speed=.. density=..
//   path=.. trim=.. trimtop=.. cutoff=.. feed=.. cut=.. cutjob=.. copies=.. dark=D
// Exit status 0 when the stream holds at least one page, 1 otherwise.
#include "pbm_image.h"

#include <cups/raster.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <bit>
#include <string>
#include <utility>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3)
    {
        std::fprintf(stderr, "usage: %s FILE|- [PBM_PREFIX]\n", argv[0]);
        return 2;
    }
    int fd = 0;
    if (std::strcmp(argv[1], "-") != 0)
    {
        fd = ::open(argv[1], O_RDONLY);
        if (fd < 0)
        {
            std::perror(argv[1]);
            return 2;
        }
    }
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    if (ras == nullptr)
    {
        std::fprintf(stderr, "%s: not a CUPS raster stream\n", argv[1]);
        return 1;
    }
    cups_page_header2_t h;
    int pages = 0;
    while (cupsRasterReadHeader2(ras, &h))
    {
        // Count the set bits so that callers can tell a blank page from a
        // printed one without decoding the image themselves.
        std::vector<unsigned char> line(h.cupsBytesPerLine);
        std::vector<unsigned char> image;
        unsigned long dark = 0;
        unsigned rows = 0;
        for (; rows < h.cupsHeight; ++rows)
        {
            if (cupsRasterReadPixels(ras, line.data(), h.cupsBytesPerLine) != h.cupsBytesPerLine)
                break;
            for (unsigned char b : line)
                dark += std::popcount(static_cast<unsigned>(b));
            image.insert(image.end(), line.begin(), line.end());
        }
        ++pages;
        if (argc == 3 && h.cupsBitsPerPixel == 1)
        {
            const std::string path = std::string(argv[2]) + "-" + std::to_string(pages) + ".pbm";
            if (!test_support::write_pbm(path, {h.cupsBytesPerLine * 8, rows, std::move(image)}))
            {
                std::fprintf(stderr, "%s: cannot write it\n", path.c_str());
                return 2;
            }
        }
        std::printf("page=%d width=%u height=%u bpl=%u bits=%u space=%u res=%u speed=%u "
                    "density=%u path=%u trim=%u trimtop=%u cutoff=%u feed=%u cut=%u cutjob=%u "
                    "copies=%u rows=%u dark=%lu\n",
                    pages, h.cupsWidth, h.cupsHeight, h.cupsBytesPerLine, h.cupsBitsPerColor,
                    static_cast<unsigned>(h.cupsColorSpace), h.HWResolution[1], h.cupsRowFeed,
                    h.cupsCompression, h.MediaPosition, static_cast<unsigned>(h.Duplex),
                    h.cupsInteger[0], h.AdvanceDistance, static_cast<unsigned>(h.AdvanceMedia),
                    static_cast<unsigned>(h.CutMedia), h.cupsInteger[1], h.NumCopies, rows, dark);
    }
    cupsRasterClose(ras);
    if (fd != 0)
        ::close(fd);
    return pages > 0 ? 0 : 1;
}
