// Benchmark pages: reproducible, shaped as promised, converted without loss.
#include "bench_pages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

using namespace qel_bench;

namespace
{

bool blank(std::span<const uint8_t> line)
{
    return std::all_of(line.begin(), line.end(), [](uint8_t b) { return b == 0; });
}

unsigned dots_set(std::span<const uint8_t> line)
{
    unsigned n = 0;
    for (uint8_t b : line)
        n += unsigned(__builtin_popcount(b));
    return n;
}

} // namespace

TEST(BenchPages, SameSpecSameBytesOtherSeedOtherBytes)
{
    for (PageContent c : {PageContent::text, PageContent::text_blank, PageContent::logo})
    {
        const PageSpec page_desc{c, 576, 1200, 7};
        const PageImage a = render_page(page_desc), b = render_page(page_desc);
        EXPECT_EQ(a.dots, b.dots);
        PageSpec other = page_desc;
        other.seed = 8;
        if (c != PageContent::logo) // the logo is one fixed picture
        {
            EXPECT_NE(a.dots, render_page(other).dots);
        }
    }
}

TEST(BenchPages, TextLooksLikeAReceipt)
{
    const PageImage img = render_page({PageContent::text, 576, 2000, 1});
    ASSERT_EQ(img.bytes_per_line, 72u);
    ASSERT_EQ(img.dots.size(), 72u * 2000);
    unsigned blank_lines = 0, repeats = 0, inked = 0;
    for (unsigned y = 0; y < img.height_lines; ++y)
    {
        blank_lines += blank(img.line(y));
        inked += dots_set(img.line(y));
        if (y > 0 && !blank(img.line(y)) &&
            std::equal(img.line(y).begin(), img.line(y).end(), img.line(y - 1).begin()))
            ++repeats;
    }
    // Gaps between text rows and some blank rows, but mostly text; sparse ink.
    EXPECT_GT(blank_lines, 2000u / 10);
    EXPECT_LT(blank_lines, 2000u / 2);
    const double density = double(inked) / (576.0 * 2000);
    EXPECT_GT(density, 0.02);
    EXPECT_LT(density, 0.35);
    // Separators and glyph stems give some identical neighbouring lines.
    EXPECT_GT(repeats, 0u);
}

TEST(BenchPages, TextBlankAlternatesBlocksHalfAndHalf)
{
    const unsigned h = 8 * text_blank_block_lines;
    const PageImage img = render_page({PageContent::text_blank, 576, h, 2});
    for (unsigned block = 0; block < 8; ++block)
    {
        unsigned blank_lines = 0;
        for (unsigned y = block * text_blank_block_lines; y < (block + 1) * text_blank_block_lines;
             ++y)
            blank_lines += blank(img.line(y));
        if (block % 2)
            EXPECT_EQ(blank_lines, text_blank_block_lines) << "block " << block;
        else
            EXPECT_LT(blank_lines, text_blank_block_lines * 2 / 3) << "block " << block;
    }
}

TEST(BenchPages, LogoIsDitheredWithSolidAreas)
{
    const PageImage img = render_page({PageContent::logo, 576, 1600, 3});
    // The frame is solid black, the white band empty inside the frame.
    EXPECT_EQ(dots_set(img.line(0)), 576u);
    EXPECT_EQ(dots_set(img.line(1600 / 4)), 16u);
    EXPECT_EQ(img.line(1600 / 4)[0], 0xFF);
    EXPECT_EQ(img.line(1600 / 4)[71], 0xFF);
    unsigned inked = 0, distinct_neighbours = 0;
    for (unsigned y = 0; y < img.height_lines; ++y)
    {
        inked += dots_set(img.line(y));
        if (y > 0 && !std::equal(img.line(y).begin(), img.line(y).end(), img.line(y - 1).begin()))
            ++distinct_neighbours;
    }
    const double density = double(inked) / (576.0 * 1600);
    EXPECT_GT(density, 0.3);
    EXPECT_LT(density, 0.8);
    // Error diffusion leaves hardly any two neighbouring lines equal.
    EXPECT_GT(distinct_neighbours, 1600u * 9 / 10);
}

TEST(BenchPages, NoInkPastTheLastDot)
{
    for (PageContent c : {PageContent::text, PageContent::logo})
    {
        const PageImage img = render_page({c, 573, 400, 5});
        ASSERT_EQ(img.bytes_per_line, 72u);
        for (unsigned y = 0; y < img.height_lines; ++y)
            EXPECT_EQ(img.line(y)[71] & 0x07, 0) << "line " << y;
    }
}

TEST(BenchPages, InputsHaveThePromisedSizes)
{
    auto lines = [](const InputSpec& in)
    {
        return std::accumulate(in.pages.begin(), in.pages.end(), 0ul,
                               [](unsigned long n, const PageSpec& p)
                               { return n + p.height_lines; });
    };
    const auto full = benchmark_inputs(false);
    ASSERT_EQ(full.size(), 5u);
    EXPECT_EQ(lines(full[0]), 2000u);
    EXPECT_EQ(lines(full[1]), 50000u);
    EXPECT_EQ(full[3].pages.size(), 100u);
    EXPECT_EQ(lines(full[4]), 500000u);
    EXPECT_FALSE(full[4].with_peers);
    for (const auto& in : full)
        for (const auto& p : in.pages)
            EXPECT_EQ(p.width_dots, 576u);
    unsigned long smoke_lines = 0;
    for (const auto& in : benchmark_inputs(true))
        smoke_lines += lines(in);
    EXPECT_LT(smoke_lines, 10000u);
}

TEST(BenchPages, RgbExpansionMapsEveryDot)
{
    const std::vector<uint8_t> line{0x80, 0x01, 0xA0};
    std::vector<uint8_t> rgb(3 * 19, 0x55);
    expand_line_to_rgb(line, 19, rgb);
    for (unsigned x = 0; x < 19; ++x)
    {
        const bool black = x == 0 || x == 15 || x == 16 || x == 18;
        for (unsigned c = 0; c < 3; ++c)
            EXPECT_EQ(rgb[3 * x + c], black ? 0 : 255) << "dot " << x;
    }
    // A short output buffer is filled as far as it goes and not beyond.
    std::vector<uint8_t> short_rgb(7, 0x55);
    expand_line_to_rgb(line, 19, std::span<uint8_t>(short_rgb).first(6));
    EXPECT_EQ(short_rgb[5], 255);
    EXPECT_EQ(short_rgb[6], 0x55);
}

TEST(BenchPages, PaddingKeepsTheLineAndAddsWhite)
{
    const std::vector<uint8_t> line{0xFF, 0x81};
    std::vector<uint8_t> wide(5, 0xEE);
    pad_line(line, wide);
    EXPECT_EQ(wide, (std::vector<uint8_t>{0xFF, 0x81, 0, 0, 0}));
}
