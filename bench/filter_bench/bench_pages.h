// Synthetic receipt pages for the filter benchmark: text-like lines, blank
// stretches and a dithered logo, as 1-bit dot lines (1 = black dot, leftmost
// dot in the most significant bit, the layout of a CUPS K raster line).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace qel_bench
{

// What a page looks like.
enum class PageContent
{
    text,       // receipt text rows: glyphs, gaps between rows, separators
    text_blank, // blocks of text rows and blank blocks, half and half
    logo,       // a dithered grey-scale picture over the whole width
};

// One page of a benchmark input.
struct PageSpec
{
    PageContent content;
    unsigned width_dots;   // dots per line (576 on an 80 mm printer at 203 dpi)
    unsigned height_lines; // dot lines in the page
    uint32_t seed;         // makes the page reproducible
};

// One page image: height_lines lines of bytes_per_line bytes, top line first.
struct PageImage
{
    unsigned bytes_per_line = 0;
    unsigned height_lines = 0;
    std::vector<uint8_t> dots;

    std::span<const uint8_t> line(unsigned y) const
    {
        return {dots.data() + std::size_t(y) * bytes_per_line, bytes_per_line};
    }
};

// A named input: the pages of one job.
struct InputSpec
{
    std::string_view name;
    std::vector<PageSpec> pages;
    bool with_peers = true; // false: only the kit's filter and the floor read it
};

// Lines in each block of the half-text, half-blank page.
inline constexpr unsigned text_blank_block_lines = 500;

// Renders one page; the same page_desc always gives the same bytes.
PageImage render_page(const PageSpec& page_desc);

// The four benchmark inputs: "receipt" (2,000 lines), "long" (50,000 lines,
// half text, half blank), "logo" (a dithered picture), "job100" (100 small
// receipts), and "long500k" (500,000 lines like "long", for the kit's filter
// and the floor only: memory must not grow with page length). With smoke set
// the same inputs are cut down to a few lines each.
std::vector<InputSpec> benchmark_inputs(bool smoke);

// Expands a 1-bit line to 8-bit RGB (black dot 0,0,0, white 255,255,255);
// rgb must hold 3 bytes per dot.
void expand_line_to_rgb(std::span<const uint8_t> line, unsigned width_dots, std::span<uint8_t> rgb);

// Copies a line into a wider one and pads it on the right with white.
void pad_line(std::span<const uint8_t> line, std::span<uint8_t> wide);

} // namespace qel_bench
