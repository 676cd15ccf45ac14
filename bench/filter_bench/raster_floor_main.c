/* qel_bench_floor: the least work any raster filter does. It is started like
 * a CUPS filter (job-id user title copies options [file]), reads every page of
 * the raster stream with libcups and discards the pixels. Plain C with one
 * line buffer, so that its time and memory are a true floor for the filters
 * the benchmark compares with it. */
#include <cups/raster.h>

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 6 && argc != 7)
    {
        fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
        return 1;
    }
    int fd = argc == 7 ? open(argv[6], O_RDONLY) : 0;
    if (fd < 0)
    {
        perror("ERROR: Unable to open raster file");
        return 1;
    }
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    if (!ras)
        return 1;
    cups_page_header2_t header;
    unsigned char* line = NULL;
    unsigned line_size = 0;
    unsigned pages = 0;
    int failed = 0;
    while (!failed && cupsRasterReadHeader2(ras, &header))
    {
        if (header.cupsBytesPerLine > line_size)
        {
            unsigned char* bigger = realloc(line, header.cupsBytesPerLine);
            if (!bigger)
            {
                failed = 1;
                break;
            }
            line = bigger;
            line_size = header.cupsBytesPerLine;
        }
        for (unsigned y = 0; y < header.cupsHeight; ++y)
            if (cupsRasterReadPixels(ras, line, header.cupsBytesPerLine) == 0)
                break;
        ++pages;
    }
    free(line);
    cupsRasterClose(ras);
    if (fd != 0)
        close(fd);
    return pages && !failed ? 0 : 1;
}
