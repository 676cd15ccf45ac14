// pbm_image.h - 1-bit pictures as binary PBM (P4) files: the pages the emulator writes and the
// expected pages the tests compare them with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace test_support
{

// Rows of (width + 7) / 8 bytes, top row first; a set bit is a black dot, the leftmost dot of
// a byte in its high bit (the order of PBM and of 1-bit CUPS raster).
struct PbmImage
{
    unsigned width = 0;
    unsigned height = 0;
    std::vector<std::uint8_t> bits;

    unsigned stride() const { return (width + 7) / 8; }
    std::uint8_t* row(unsigned y) { return bits.data() + std::size_t(y) * stride(); }
    const std::uint8_t* row(unsigned y) const { return bits.data() + std::size_t(y) * stride(); }
};

// Reads a binary PBM file (comments allowed in its header, at most 65536 x 1000000 dots).
// On failure: nullopt, and `why` names the file and what is wrong with it.
std::optional<PbmImage> read_pbm(const std::string& path, std::string& why);

// Writes "P4\nW H\n" and the rows; false when the file cannot be written.
bool write_pbm(const std::string& path, const PbmImage& image);

} // namespace test_support
