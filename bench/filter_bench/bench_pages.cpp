// Synthetic receipt pages for the filter benchmark.
#include "bench_pages.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace qel_bench
{
namespace
{

// Small deterministic generator (xorshift32); never returns 0 for a seed != 0.
struct Rng
{
    uint32_t state;
    explicit Rng(uint32_t seed) : state(seed ? seed : 0x9E3779B9u) {}
    uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    // Uniform in [lo, hi].
    unsigned range(unsigned lo, unsigned hi) { return lo + next() % (hi - lo + 1); }
};

constexpr unsigned glyph_width = 12;
constexpr unsigned glyph_height = 24;
constexpr unsigned row_gap = 6; // blank dot lines between text rows
constexpr unsigned glyph_count = 64;

// A glyph is glyph_height rows of glyph_width dots, bit 11 leftmost.
using Glyph = std::array<uint16_t, glyph_height>;

// A block of dots from column x0 to x1 and line y0 to y1 of a glyph.
struct Stroke
{
    unsigned x0, x1, y0, y1;
};

void draw_stroke(Glyph& g, const Stroke& s)
{
    for (unsigned y = s.y0; y <= s.y1; ++y)
        for (unsigned x = s.x0; x <= s.x1; ++x)
            g[y] |= uint16_t(1u << (glyph_width - 1 - x));
}

// A vertical stem two dots wide. Draws: column, top, bottom; the order of the draws fixes
// the pages of a seed, which runs of the benchmark compare.
Stroke stem(Rng& rng)
{
    const unsigned x = rng.range(1, glyph_width - 4);
    const unsigned y0 = rng.range(3, 10);
    return {x, x + 1, y0, rng.range(14, glyph_height - 3)};
}

// A horizontal bar two dots high; draws: line, left end, right end.
Stroke bar(Rng& rng)
{
    const unsigned y = rng.range(3, glyph_height - 5);
    const unsigned x0 = rng.range(1, 4);
    return {x0, rng.range(7, glyph_width - 2), y, y + 1};
}

// Builds glyph-like shapes from two-dot strokes: stems, bars and a bowl, so
// that lines have the runs and repeats of a real receipt font.
std::array<Glyph, glyph_count> make_glyphs(Rng& rng)
{
    std::array<Glyph, glyph_count> glyphs{};
    for (Glyph& g : glyphs)
    {
        const unsigned strokes = rng.range(2, 4);
        for (unsigned s = 0; s < strokes; ++s)
        {
            switch (rng.range(0, 2))
            {
            case 0:
                draw_stroke(g, stem(rng));
                break;
            case 1:
                draw_stroke(g, bar(rng));
                break;
            default:
            { // bowl: a ring in the lower half
                const double cx = 5.5, cy = 15.0, r = 3.5 + rng.range(0, 1);
                for (unsigned y = 8; y < glyph_height - 2; ++y)
                    for (unsigned x = 1; x < glyph_width - 1; ++x)
                    {
                        const double d = std::hypot(x - cx, (y - cy) * 0.8);
                        if (d > r - 1.0 && d < r + 1.0)
                            g[y] |= uint16_t(1u << (glyph_width - 1 - x));
                    }
                break;
            }
            }
        }
    }
    return glyphs;
}

void set_dot(std::span<uint8_t> line, unsigned x)
{
    line[x / 8] |= uint8_t(0x80u >> (x % 8));
}

// Draws one text row (glyph_height + row_gap lines) starting at line y0, as
// far as the page reaches.
void draw_text_row(PageImage& img, unsigned width_dots, unsigned y0, unsigned y_end,
                   const std::array<Glyph, glyph_count>& glyphs, Rng& rng)
{
    const unsigned columns = width_dots / glyph_width;
    const unsigned kind = rng.range(0, 99);
    if (kind < 12) // blank row
        return;
    if (kind < 22) // separator: a dashed rule in the middle of the row
    {
        for (unsigned y = y0 + 11; y < std::min(y0 + 13, y_end); ++y)
        {
            std::span<uint8_t> line(img.dots.data() + std::size_t(y) * img.bytes_per_line,
                                    img.bytes_per_line);
            for (unsigned x = 0; x < columns * glyph_width; ++x)
                if (x % 8 < 5)
                    set_dot(line, x);
        }
        return;
    }
    // Item lines are often short, prices sit at the right margin.
    const unsigned left = rng.range(columns / 5, columns);
    const bool price = rng.range(0, 1) == 1;
    std::vector<int> text(columns, -1);
    for (unsigned c = 0; c < left; ++c)
        text[c] = rng.range(0, 99) < 16 ? -1 : int(rng.range(0, glyph_count - 1));
    if (price)
        for (unsigned c = columns - 6; c < columns; ++c)
            text[c] = int(rng.range(0, 15));
    for (unsigned gy = 0; gy < glyph_height && y0 + gy < y_end; ++gy)
    {
        std::span<uint8_t> line(img.dots.data() + std::size_t(y0 + gy) * img.bytes_per_line,
                                img.bytes_per_line);
        for (unsigned c = 0; c < columns; ++c)
        {
            if (text[c] < 0)
                continue;
            const uint16_t bits = glyphs[unsigned(text[c])][gy];
            for (unsigned gx = 0; gx < glyph_width; ++gx)
                if (bits & (1u << (glyph_width - 1 - gx)))
                    set_dot(line, c * glyph_width + gx);
        }
    }
}

void draw_text(PageImage& img, unsigned width_dots, unsigned y0, unsigned y_end,
               const std::array<Glyph, glyph_count>& glyphs, Rng& rng)
{
    for (unsigned y = y0; y < y_end; y += glyph_height + row_gap)
        draw_text_row(img, width_dots, y, y_end, glyphs, rng);
}

// Grey level of the synthetic logo at (x, y): 0 white, 1 black. Rings over a
// gradient, a solid frame and a solid band give both noise and long runs.
double logo_grey(unsigned x, unsigned y, unsigned w, unsigned h)
{
    if (x < 8 || x + 8 >= w || y < 8 || y + 8 >= h)
        return 1.0;
    if (y > h / 2 - 20 && y < h / 2 + 20)
        return 1.0;
    if (y > h / 4 - 12 && y < h / 4 + 12)
        return 0.0;
    const double cx = w / 2.0, cy = h / 3.0;
    const double r = std::hypot(x - cx, y - cy);
    const double rings = 0.5 + 0.4 * std::sin(r / 14.0);
    const double gradient = double(x) / w;
    return std::clamp(0.7 * rings + 0.3 * gradient, 0.0, 1.0);
}

// Floyd-Steinberg dither of logo_grey over the whole page.
void draw_logo(PageImage& img, unsigned width_dots)
{
    const unsigned h = img.height_lines;
    std::vector<double> err_cur(width_dots + 2, 0.0), err_next(width_dots + 2, 0.0);
    for (unsigned y = 0; y < h; ++y)
    {
        std::span<uint8_t> line(img.dots.data() + std::size_t(y) * img.bytes_per_line,
                                img.bytes_per_line);
        std::fill(err_next.begin(), err_next.end(), 0.0);
        for (unsigned x = 0; x < width_dots; ++x)
        {
            const double want = logo_grey(x, y, width_dots, h) + err_cur[x + 1];
            const double got = want >= 0.5 ? 1.0 : 0.0;
            if (got > 0.0)
                set_dot(line, x);
            const double e = want - got;
            err_cur[x + 2] += e * 7.0 / 16.0;
            err_next[x] += e * 3.0 / 16.0;
            err_next[x + 1] += e * 5.0 / 16.0;
            err_next[x + 2] += e * 1.0 / 16.0;
        }
        std::swap(err_cur, err_next);
    }
}

} // namespace

PageImage render_page(const PageSpec& page_desc)
{
    PageImage img;
    img.bytes_per_line = (page_desc.width_dots + 7) / 8;
    img.height_lines = page_desc.height_lines;
    img.dots.assign(std::size_t(img.bytes_per_line) * page_desc.height_lines, 0);
    Rng rng(page_desc.seed);
    const auto glyphs = make_glyphs(rng);
    switch (page_desc.content)
    {
    case PageContent::text:
        draw_text(img, page_desc.width_dots, 0, page_desc.height_lines, glyphs, rng);
        break;
    case PageContent::text_blank:
        // Text blocks at even block numbers, blank blocks at odd ones.
        for (unsigned y = 0; y < page_desc.height_lines; y += 2 * text_blank_block_lines)
            draw_text(img, page_desc.width_dots, y,
                      std::min(y + text_blank_block_lines, page_desc.height_lines), glyphs, rng);
        break;
    case PageContent::logo:
        draw_logo(img, page_desc.width_dots);
        break;
    }
    return img;
}

std::vector<InputSpec> benchmark_inputs(bool smoke)
{
    constexpr unsigned width = 576;
    std::vector<InputSpec> inputs;
    inputs.push_back({"receipt", {{PageContent::text, width, smoke ? 120u : 2000u, 1}}});
    inputs.push_back(
        {"long",
         {{PageContent::text_blank, width, smoke ? 2 * text_blank_block_lines : 50000u, 2}}});
    inputs.push_back({"logo", {{PageContent::logo, width, smoke ? 64u : 1600u, 3}}});
    InputSpec job{"job100", {}};
    const unsigned pages = smoke ? 3 : 100;
    for (unsigned p = 0; p < pages; ++p)
        job.pages.push_back({PageContent::text, width, smoke ? 60u : 400u, 100 + p});
    inputs.push_back(std::move(job));
    inputs.push_back(
        {"long500k",
         {{PageContent::text_blank, width, smoke ? 4 * text_blank_block_lines : 500000u, 2}},
         false});
    return inputs;
}

void expand_line_to_rgb(std::span<const uint8_t> line, unsigned width_dots, std::span<uint8_t> rgb)
{
    for (unsigned x = 0; x < width_dots && 3 * std::size_t(x) + 2 < rgb.size(); ++x)
    {
        const bool black = x / 8 < line.size() && (line[x / 8] & (0x80u >> (x % 8)));
        const uint8_t v = black ? 0 : 255;
        rgb[3 * x] = rgb[3 * x + 1] = rgb[3 * x + 2] = v;
    }
}

void pad_line(std::span<const uint8_t> line, std::span<uint8_t> wide)
{
    const std::size_t n = std::min(line.size(), wide.size());
    std::copy_n(line.begin(), n, wide.begin());
    std::fill(wide.begin() + std::ptrdiff_t(n), wide.end(), uint8_t(0));
}

} // namespace qel_bench
