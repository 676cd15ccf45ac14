// pbm_compare: compares a page the printer received with a reference
// rendering of the same input, both as binary PBM (P4) files.
//
//   pbm_compare PRINTED REFERENCE [--max-diff N] [--trimmed] [--shift S]
//
// The printed page may be shorter than the reference: the driver drops blank
// lines at the page end.  Every reference line below the printed ones must be
// blank, and with --trimmed the printed page's last line must not be (the
// trimming went exactly to the last printed line).  Lines both pages have
// are compared dot by dot; more than N differing dots (default 0) fail.
// --shift S also tries the reference moved by up to S dots in each
// direction and keeps the best match (image filters may place a picture a
// dot off).
// Prints one summary line; exit status 0 on a match, 1 on a mismatch, 2 on
// a file that cannot be read.
//
//   pbm_compare --margins PRINTED
//
// prints "height=H top=T bottom=B": the page's lines and its blank lines
// before the first and after the last dot (a blank page: top=H bottom=0).
#include "pbm_image.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace
{

using Bitmap = test_support::PbmImage;

// A dot outside the bitmap is white.
bool lo_dot(const Bitmap& b, long x, long y)
{
    if (x < 0 || y < 0 || x >= long(b.width) || y >= long(b.height))
        return false;
    return (b.row(unsigned(y))[x / 8] >> (7 - x % 8)) & 1;
}

// Differing dots in the first `rows` lines when the reference is moved by
// (dx, dy).
unsigned long lo_shifted_diff(const Bitmap& a, const Bitmap& b, unsigned rows, int dx, int dy)
{
    unsigned long n = 0;
    for (unsigned y = 0; y < rows; ++y)
        for (unsigned x = 0; x < a.width; ++x)
            n += lo_dot(a, x, y) != lo_dot(b, long(x) - dx, long(y) - dy);
    return n;
}

bool lo_read_pbm(const char* path, Bitmap* bitmap, std::string* error)
{
    std::optional<Bitmap> read = test_support::read_pbm(path, *error);
    if (read)
        *bitmap = std::move(*read);
    return bool(read);
}

// Dark dots in a row, ignoring the padding bits after the last column.
unsigned lo_row_dots(const unsigned char* row, unsigned width)
{
    unsigned n = 0;
    for (unsigned x = 0; x < width / 8; ++x)
        n += unsigned(std::popcount(unsigned(row[x])));
    if (width % 8)
        n += unsigned(std::popcount(unsigned(row[width / 8] & (0xFF00u >> (width % 8)) & 0xFF)));
    return n;
}

unsigned lo_row_diff(const unsigned char* a, const unsigned char* b, unsigned width)
{
    std::vector<unsigned char> x(a, a + (width + 7) / 8);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] ^= b[i];
    return lo_row_dots(x.data(), width);
}

int lo_print_margins(const char* path)
{
    Bitmap page;
    std::string error;
    if (!lo_read_pbm(path, &page, &error))
    {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    unsigned top = 0;
    while (top < page.height && lo_row_dots(page.row(top), page.width) == 0)
        ++top;
    unsigned bottom = 0;
    while (bottom < page.height - top &&
           lo_row_dots(page.row(page.height - 1 - bottom), page.width) == 0)
        ++bottom;
    std::printf("height=%u top=%u bottom=%u\n", page.height, top, bottom);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--margins") == 0)
        return lo_print_margins(argv[2]);
    if (argc < 3)
    {
        std::fprintf(stderr, "usage: %s PRINTED REFERENCE [--max-diff N] [--trimmed]\n", argv[0]);
        return 2;
    }
    unsigned long max_diff = 0;
    bool trimmed = false;
    int shift = 0;
    for (int i = 3; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--max-diff") == 0 && i + 1 < argc)
            max_diff = std::strtoul(argv[++i], nullptr, 10);
        else if (std::strcmp(argv[i], "--shift") == 0 && i + 1 < argc)
            shift = std::clamp(std::atoi(argv[++i]), 0, 8);
        else if (std::strcmp(argv[i], "--trimmed") == 0)
            trimmed = true;
        else
        {
            std::fprintf(stderr, "%s: unknown argument \"%s\"\n", argv[0], argv[i]);
            return 2;
        }
    }
    Bitmap printed, reference;
    std::string error;
    if (!lo_read_pbm(argv[1], &printed, &error) || !lo_read_pbm(argv[2], &reference, &error))
    {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }

    unsigned long diff = 0, dark_printed = 0, dark_reference = 0, dark_below = 0;
    const unsigned common = std::min(printed.height, reference.height);
    for (unsigned y = 0; y < common; ++y)
    {
        if (printed.width == reference.width)
            diff += lo_row_diff(printed.row(y), reference.row(y), printed.width);
        dark_printed += lo_row_dots(printed.row(y), printed.width);
        dark_reference += lo_row_dots(reference.row(y), reference.width);
    }
    int best_dx = 0, best_dy = 0;
    if (shift > 0 && printed.width == reference.width)
        for (int dy = -shift; dy <= shift; ++dy)
            for (int dx = -shift; dx <= shift; ++dx)
            {
                const unsigned long d = lo_shifted_diff(printed, reference, common, dx, dy);
                if (d < diff)
                {
                    diff = d;
                    best_dx = dx;
                    best_dy = dy;
                }
            }
    for (unsigned y = common; y < reference.height; ++y)
        dark_below += lo_row_dots(reference.row(y), reference.width);
    for (unsigned y = common; y < printed.height; ++y)
        dark_printed += lo_row_dots(printed.row(y), printed.width);

    const bool last_dark =
        printed.height > 0 && lo_row_dots(printed.row(printed.height - 1), printed.width) > 0;
    std::printf("width=%u/%u height=%u/%u dark=%lu/%lu diff=%lu shift=%d,%d dark_below=%lu "
                "last_dark=%d\n",
                printed.width, reference.width, printed.height, reference.height, dark_printed,
                dark_reference, diff, best_dx, best_dy, dark_below, last_dark ? 1 : 0);

    bool ok = printed.width == reference.width && printed.height <= reference.height &&
              diff <= max_diff && dark_below == 0 && dark_printed > 0;
    if (trimmed && !last_dark)
        ok = false;
    return ok ? 0 : 1;
}
