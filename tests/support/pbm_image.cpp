// pbm_image.cpp - binary PBM files read and written.
#include "pbm_image.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace test_support
{
namespace
{

// One header number, after white space and "#" comments; the one white space character that
// ends it is consumed too, so that after the height the image bytes follow.
bool lo_read_number(std::istream& in, unsigned long limit, unsigned& value)
{
    int c = in.get();
    while (c == '#' || std::isspace(c))
    {
        if (c == '#')
            while (c != '\n' && c != EOF)
                c = in.get();
        c = in.get();
    }
    if (!std::isdigit(c))
        return false;
    unsigned long v = 0;
    for (; std::isdigit(c); c = in.get())
    {
        v = v * 10 + unsigned(c - '0');
        if (v > limit)
            return false;
    }
    value = unsigned(v);
    return true;
}

} // namespace

std::optional<PbmImage> read_pbm(const std::string& path, std::string& why)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
    {
        why = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    char magic[2] = {};
    PbmImage image;
    if (!in.read(magic, 2) || magic[0] != 'P' || magic[1] != '4' ||
        !lo_read_number(in, 65536, image.width) || !lo_read_number(in, 1000000, image.height))
    {
        why = path + ": not a binary PBM file";
        return std::nullopt;
    }
    image.bits.resize(std::size_t(image.stride()) * image.height);
    if (!in.read(reinterpret_cast<char*>(image.bits.data()), std::streamsize(image.bits.size())))
    {
        why = path + ": image data is short";
        return std::nullopt;
    }
    return image;
}

bool write_pbm(const std::string& path, const PbmImage& image)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "P4\n" << image.width << " " << image.height << "\n";
    out.write(reinterpret_cast<const char*>(image.bits.data()), std::streamsize(image.bits.size()));
    return bool(out);
}

} // namespace test_support
