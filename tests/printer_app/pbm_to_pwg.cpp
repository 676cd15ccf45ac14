// pbm_to_pwg - writes a raw PBM page as a PWG raster document (black_1, 203 dpi) with libcups,
// for documents whose every dot is known. The page is the PWG medium named on the command
// line; the image sits at its top left corner, the rest of the page is blank.
//   pbm_to_pwg IN.pbm MEDIA OUT.pwg      (MEDIA: a PWG name such as om_roll-80_80x100mm)
#include <cups/raster.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

int main(int argc, char* argv[])
{
    if (argc != 4)
    {
        std::fprintf(stderr, "usage: pbm_to_pwg IN.pbm MEDIA OUT.pwg\n");
        return 2;
    }
    FILE* in = std::fopen(argv[1], "rb");
    unsigned width = 0, height = 0;
    if (!in || std::fscanf(in, "P4 %u %u", &width, &height) != 2 || std::fgetc(in) == EOF)
    {
        std::fprintf(stderr, "pbm_to_pwg: %s is not a raw PBM image\n", argv[1]);
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
    const int fd = open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    cups_raster_t* out = fd < 0 ? nullptr : cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG);
    if (!out || !cupsRasterWriteHeader2(out, &header))
    {
        std::fprintf(stderr, "pbm_to_pwg: cannot write %s\n", argv[3]);
        return 1;
    }
    const unsigned in_bytes = (width + 7) / 8;
    std::vector<unsigned char> row(in_bytes), line(header.cupsBytesPerLine);
    for (unsigned y = 0; y < header.cupsHeight; y++)
    {
        std::memset(line.data(), 0, line.size());
        if (y < height && std::fread(row.data(), 1, in_bytes, in) == in_bytes)
            std::memcpy(line.data(), row.data(), std::min<size_t>(in_bytes, line.size()));
        cupsRasterWritePixels(out, line.data(), header.cupsBytesPerLine);
    }
    cupsRasterClose(out);
    close(fd);
    std::fclose(in);
    return 0;
}
