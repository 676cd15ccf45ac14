// Tests of the page command encoder: known lines and pages, and random pages
// that must decode back to the lines that should print.
#include "line_decoder.h"
#include "page_streamer.h"
#include "reference_encoder.h"
#include "virtual_printer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using qel_filter_test::decode_stream;
using Bytes = std::vector<unsigned char>;

namespace
{

// The command(s) the shipped encoder produces for one line.
Bytes graphics(const Bytes& line)
{
    Bytes buffer(dot_line_room(line.size()), 0xEE);
    const uint32_t n =
        encode_dot_line(buffer.data(), line.data(), static_cast<uint32_t>(line.size()));
    EXPECT_LE(n, 2 * line.size() + 4);
    buffer.resize(n);
    return buffer;
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& part : parts)
    {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

Bytes header_then(std::initializer_list<unsigned char> head, const Bytes& data, size_t from,
                  size_t count)
{
    Bytes out(head);
    out.insert(out.end(), data.begin() + from, data.begin() + from + count);
    return out;
}

// Bytes with no two equal neighbours.
Bytes distinct(size_t n, unsigned char first = 1)
{
    Bytes out(n);
    for (size_t i = 0; i < n; ++i)
    {
        out[i] = static_cast<unsigned char>(first + i % 2 + 2 * (i % 100));
    }
    return out;
}

// One copy by the reference copy loop.  When `lines` are the lines the
// header's page prints, the shipped streaming encoder, fed the page line by
// line, must give the same bytes.
Bytes page_copy(const cups_page_header2_t& header, const Bytes& image, uint32_t lines)
{
    Bytes stream;
    encode_page_copy(header, image.data(), lines, stream);
    const uint32_t width = header.cupsBytesPerLine;
    if (image.size() == size_t{width} * header.cupsHeight &&
        lines == prepare_page(header, image.data(), width, header.cupsHeight))
    {
        TS_QEL_PAGE_STREAMER streamer;
        streamer_begin(streamer, page_layout_from_header(header));
        Bytes streamed;
        for (uint32_t y = 0; y < header.cupsHeight; ++y)
        {
            streamer_add_line(streamer, image.data() + size_t{y} * width, streamed);
        }
        streamer_finish(streamer, streamed);
        EXPECT_EQ(streamed, stream);
    }
    return stream;
}

const Bytes k_cut_none = {0x1B, 0xF0, 0x06, 0x01, 0x00};

} // namespace

TEST(GraphicsDotLine, RunsOfZerosCompressAndStopAt127)
{
    EXPECT_EQ(graphics(Bytes(72, 0)), (Bytes{0x1B, 0xF0, 0x03, 0x02, 0xC8, 0x00}));
    EXPECT_EQ(graphics(Bytes(200, 0)), (Bytes{0x1B, 0xF0, 0x03, 0x04, 0xFF, 0x00, 0xC9, 0x00}));
    EXPECT_EQ(graphics(Bytes(600, 0)), (Bytes{0x1B, 0xF0, 0x03, 0x0A, 0xFF, 0x00, 0xFF, 0x00, 0xFF,
                                              0x00, 0xFF, 0x00, 0xDC, 0x00}));
    EXPECT_EQ(graphics(Bytes(256, 0)),
              (Bytes{0x1B, 0xF0, 0x03, 0x06, 0xFF, 0x00, 0xFF, 0x00, 0x82, 0x00}));
}

TEST(GraphicsDotLine, PlainWhenCompressionDoesNotSave)
{
    EXPECT_EQ(graphics({0x41, 0x42, 0x42, 0x43}),
              (Bytes{0x1B, 0xF0, 0x02, 0x04, 0x41, 0x42, 0x42, 0x43}));
    EXPECT_EQ(graphics({0x00}), (Bytes{0x1B, 0xF0, 0x02, 0x01, 0x00}));
    EXPECT_EQ(graphics({0xA5}), (Bytes{0x1B, 0xF0, 0x02, 0x01, 0xA5}));
    // A run of two followed by a literal: 82 AA 02 B C is 5 bytes, not fewer than 4.
    EXPECT_EQ(graphics({0xAA, 0xAA, 0x0B, 0x0C}),
              (Bytes{0x1B, 0xF0, 0x02, 0x04, 0xAA, 0xAA, 0x0B, 0x0C}));
}

TEST(GraphicsDotLine, LongPlainLinesAreCutInto255BytePieces)
{
    const Bytes l600 = distinct(600);
    EXPECT_EQ(graphics(l600), cat({header_then({0x1B, 0xF0, 0x02, 0xFF}, l600, 0, 255),
                                   header_then({0x1B, 0xF0, 0x02, 0xFF}, l600, 255, 255),
                                   header_then({0x1B, 0xF0, 0x02, 0x5A}, l600, 510, 90)}));
    const Bytes l256 = distinct(256);
    EXPECT_EQ(graphics(l256), cat({header_then({0x1B, 0xF0, 0x02, 0xFF}, l256, 0, 255),
                                   header_then({0x1B, 0xF0, 0x02, 0x01}, l256, 255, 1)}));
    // 510 bytes end with an empty last piece; 255 bytes fit in one piece.
    const Bytes l510 = distinct(510);
    EXPECT_EQ(graphics(l510), cat({header_then({0x1B, 0xF0, 0x02, 0xFF}, l510, 0, 255),
                                   header_then({0x1B, 0xF0, 0x02, 0xFF}, l510, 255, 255),
                                   Bytes{0x1B, 0xF0, 0x02, 0x00}}));
    const Bytes l255 = distinct(255);
    EXPECT_EQ(graphics(l255), header_then({0x1B, 0xF0, 0x02, 0xFF}, l255, 0, 255));
}

TEST(GraphicsDotLine, SegmentLimitsShapeTheGroups)
{
    // Run of 127, run of 3, literal of 2.
    Bytes line(130, 0x05);
    line.push_back(0x01);
    line.push_back(0x02);
    EXPECT_EQ(graphics(line),
              (Bytes{0x1B, 0xF0, 0x03, 0x07, 0xFF, 0x05, 0x83, 0x05, 0x02, 0x01, 0x02}));

    // Three literal bytes and 200 zeros: the first segment ends after 127
    // bytes, so its run holds 124 zeros and the rest forms a run of 76.
    Bytes mixed = {0x11, 0x22, 0x33};
    mixed.insert(mixed.end(), 200, 0x00);
    EXPECT_EQ(graphics(mixed),
              (Bytes{0x1B, 0xF0, 0x03, 0x08, 0x03, 0x11, 0x22, 0x33, 0xFC, 0x00, 0xCC, 0x00}));

    // 125 distinct bytes then 10 equal ones: the segment limit ends the first
    // segment on a run of two.
    Bytes limit = distinct(125);
    limit.insert(limit.end(), 10, 0xF7);
    Bytes expected = {0x1B, 0xF0, 0x03, 0x82, 0x7D};
    expected.insert(expected.end(), limit.begin(), limit.begin() + 125);
    expected.insert(expected.end(), {0x82, 0xF7, 0x88, 0xF7});
    EXPECT_EQ(graphics(limit), expected);

    // The same with 5 equal bytes gives 130 bytes of RLE8 data for 130
    // bytes of line: equality sends it plain.
    Bytes equal_size = distinct(125);
    equal_size.insert(equal_size.end(), 5, 0xF7);
    EXPECT_EQ(graphics(equal_size), header_then({0x1B, 0xF0, 0x02, 0x82}, equal_size, 0, 130));
}

TEST(GraphicsDotLine, LongCompressedDataIsCutInto255BytePieces)
{
    // 255 runs of three bytes give 510 bytes of RLE8 data (83 v each) for a
    // 765-byte line: two full pieces and an empty last one.
    Bytes line;
    for (int g = 0; g < 255; ++g)
    {
        line.insert(line.end(), 3, (g % 2) ? 0x22 : 0x11);
    }
    const Bytes out = graphics(line);
    ASSERT_EQ(out.size(), 510u + 12u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{0x1B, 0xF0, 0x03, 0xFF}));
    EXPECT_EQ(Bytes(out.begin() + 259, out.begin() + 263), (Bytes{0x1B, 0xF0, 0x03, 0xFF}));
    EXPECT_EQ(Bytes(out.end() - 4, out.end()), (Bytes{0x1B, 0xF0, 0x03, 0x00}));
    EXPECT_EQ(Bytes(out.begin() + 4, out.begin() + 8), (Bytes{0x83, 0x11, 0x83, 0x22}));
}

TEST(GraphicsDotLine, AppendsAtTheGivenOffsetWithoutTouchingTheCount)
{
    Bytes buffer(64, 0xEE);
    const uint32_t size_buffer = 10;
    const Bytes line(8, 0);
    EXPECT_EQ(set_graphics_dot_line(buffer.data(), &size_buffer, line.data(), 8), 6u);
    EXPECT_EQ(size_buffer, 10u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 10), Bytes(10, 0xEE));
    EXPECT_EQ(Bytes(buffer.begin() + 10, buffer.begin() + 16),
              (Bytes{0x1B, 0xF0, 0x03, 0x02, 0x88, 0x00}));
    EXPECT_EQ(buffer[16], 0xEE);
}

TEST(RepeatDotLine, CountsAreSplitAt255)
{
    Bytes buffer(32, 0xEE);
    const uint32_t size_buffer = 2;
    EXPECT_EQ(set_repeat_dot_line(buffer.data(), &size_buffer, 600), 15u);
    EXPECT_EQ(Bytes(buffer.begin() + 2, buffer.begin() + 17),
              (Bytes{0x1B, 0xF0, 0x04, 0x01, 0xFF, 0x1B, 0xF0, 0x04, 0x01, 0xFF, 0x1B, 0xF0, 0x04,
                     0x01, 0x5A}));
    EXPECT_EQ(set_repeat_dot_line(buffer.data(), &size_buffer, 255), 5u);
    EXPECT_EQ(set_repeat_dot_line(buffer.data(), &size_buffer, 256), 10u);
    EXPECT_EQ(set_repeat_dot_line(buffer.data(), &size_buffer, 0), 0u);
    EXPECT_EQ(set_repeat_dot_line(nullptr, &size_buffer, 3), 0u);

    // The shipped encoder's repeat commands.
    Bytes stream{0x77};
    append_repeat_lines(0, stream);
    EXPECT_EQ(stream, Bytes{0x77});
    append_repeat_lines(600, stream);
    EXPECT_EQ(stream, (Bytes{0x77, 0x1B, 0xF0, 0x04, 0x01, 0xFF, 0x1B, 0xF0, 0x04, 0x01, 0xFF, 0x1B,
                             0xF0, 0x04, 0x01, 0x5A}));
}

TEST(PageStart, SpeedDensityAndPath)
{
    cups_page_header2_t header = page_header(72, 10);
    header.cupsRowFeed = 0x103; // only the low byte counts
    header.cupsCompression = 20;
    header.MediaPosition = 1;
    Bytes stream;
    start_page(header, stream);
    EXPECT_EQ(stream, (Bytes{0x1B, 0xF0, 0x01, 0x01, 0x03, 0x1B, 0xF0, 0x05, 0x01, 0xC5, 0x1B, 0xF0,
                             0x0D, 0x02, 0x00, 0x01}));

    header.cupsRowFeed = 255;
    header.cupsCompression = 255;
    header.MediaPosition = 0;
    stream.clear();
    start_page(header, stream);
    EXPECT_EQ(stream, (Bytes{0x1B, 0xF0, 0x0D, 0x02, 0x00, 0x04}));
}

TEST(PageStart, DensityAndPathTables)
{
    const std::pair<unsigned, unsigned char> densities[] = {
        {0, 0x9C},   {5, 0xA6},  {10, 0xB0},  {15, 0xBA},     {20, 0xC5}, {25, 0xCF}, {30, 0xD9},
        {35, 0xE3},  {40, 0xEC}, {45, 0xF6},  {50, 0xFF},     {55, 0x0A}, {60, 0x14}, {65, 0x1E},
        {70, 0x28},  {75, 0x32}, {80, 0x3C},  {85, 0x46},     {90, 0x50}, {95, 0x5A}, {100, 0x64},
        {255, 0x00}, {7, 0xFF},  {101, 0xFF}, {0x10014, 0xFF}};
    for (const auto& [compression, density] : densities)
    {
        EXPECT_EQ(density_for_step(compression), density) << compression;
    }
    const std::pair<unsigned, unsigned char> paths[] = {{0, 4}, {1, 1}, {2, 2},
                                                        {3, 0}, {4, 4}, {257, 4}};
    for (const auto& [position, path] : paths)
    {
        EXPECT_EQ(path_for_position(position), path) << position;
    }
}

TEST(PageEnd, FormFeedAndCut)
{
    cups_page_header2_t header = page_header(72, 1);
    const std::tuple<unsigned, unsigned, Bytes> cases[] = {
        {1, 1, {0x0C, 0x1B, 0xF0, 0x06, 0x01, 0x02}},
        {0, 0, {0x1B, 0xF0, 0x06, 0x01, 0x00}},
        {4, 4, {0x1B, 0xF0, 0x06, 0x01, 0x02}}, // only 1 feeds; any non-zero cuts
        {1, 0, {0x0C, 0x1B, 0xF0, 0x06, 0x01, 0x00}},
        // Values outside CUPS's enumerations arrive from hostile streams too.
        {7, 0x80000000u, {0x1B, 0xF0, 0x06, 0x01, 0x02}},
        {0xFFFFFFFFu, 0, {0x1B, 0xF0, 0x06, 0x01, 0x00}},
    };
    for (const auto& [advance, cut, expected] : cases)
    {
        set_header_value(header.AdvanceMedia, advance);
        set_header_value(header.CutMedia, cut);
        unsigned char out[QEL_PAGE_END_MAX];
        EXPECT_EQ(Bytes(out, out + write_page_end(header, out)), expected) << advance << " " << cut;
        Bytes reference;
        end_page(header, reference);
        EXPECT_EQ(reference, expected) << advance << " " << cut;
    }

    // The cut at the end of the job: needs cupsInteger[1] = 1 and a cut.
    set_header_value(header.CutMedia, 1);
    EXPECT_FALSE(header_cuts_after_job(header));
    header.cupsInteger[1] = 1;
    EXPECT_TRUE(header_cuts_after_job(header));
    set_header_value(header.CutMedia, 0);
    EXPECT_FALSE(header_cuts_after_job(header));
    header.cupsInteger[1] = 2;
    set_header_value(header.CutMedia, 1);
    EXPECT_FALSE(header_cuts_after_job(header));
}

TEST(PreparePage, BottomCutOffAndTrailingBlanks)
{
    cups_page_header2_t header = page_header(4, 100);
    Bytes image(400, 0);
    for (int y = 0; y < 70; ++y)
    {
        image[y * 4 + (y % 4)] = 0x80; // lines 0..69 carry a dot, 70..99 are blank
    }
    image[0] = 0; // a blank line at the top is kept
    EXPECT_EQ(prepare_page(header, image.data(), 4, 100), 100u);
    set_header_value(header.Duplex, 1);
    EXPECT_EQ(prepare_page(header, image.data(), 4, 100), 70u);
    set_header_value(header.Duplex, 0);
    header.AdvanceDistance = 10;
    EXPECT_EQ(prepare_page(header, image.data(), 4, 100), 90u);
    set_header_value(header.Duplex, 1); // the cut-off comes first, then the blanks above it
    EXPECT_EQ(prepare_page(header, image.data(), 4, 100), 70u);
    header.AdvanceDistance = 100;
    EXPECT_EQ(prepare_page(header, image.data(), 4, 100), 0u);
    header.AdvanceDistance = 4000000000u;
    EXPECT_EQ(prepare_page(header, image.data(), 4, 100), 0u);

    header.AdvanceDistance = 0;
    set_header_value(header.Duplex, 2); // only 1 trims
    EXPECT_EQ(prepare_page(header, Bytes(400, 0).data(), 4, 100), 100u);
    set_header_value(header.Duplex, 0x80000001u);
    EXPECT_EQ(prepare_page(header, Bytes(400, 0).data(), 4, 100), 100u);
    set_header_value(header.Duplex, 1);
    EXPECT_EQ(prepare_page(header, Bytes(400, 0).data(), 4, 100), 0u);

    // The top trim skips the blank line 0, only with cupsInteger[0] = 1; on a
    // page without a dot it skips every line.
    EXPECT_EQ(first_printing_line(header, image.data(), 4, 70), 0u);
    header.cupsInteger[0] = 2;
    EXPECT_EQ(first_printing_line(header, image.data(), 4, 70), 0u);
    header.cupsInteger[0] = 1;
    EXPECT_EQ(first_printing_line(header, image.data(), 4, 70), 1u);
    EXPECT_EQ(first_printing_line(header, Bytes(400, 0).data(), 4, 100), 100u);
}

TEST(CopyLoop, DuplicateLinesBecomeRepeatCommands)
{
    const Bytes a(72, 0x00), b = distinct(72);
    auto page = [](std::initializer_list<Bytes> lines)
    {
        Bytes image;
        for (const auto& l : lines)
        {
            image.insert(image.end(), l.begin(), l.end());
        }
        return image;
    };
    const cups_page_header2_t h3 = page_header(72, 3), h4 = page_header(72, 4);
    EXPECT_EQ(page_copy(h3, page({a, a, b}), 3),
              cat({graphics(a), {0x1B, 0xF0, 0x04, 0x01, 0x01}, graphics(b), k_cut_none}));
    EXPECT_EQ(page_copy(h4, page({a, a, a, b}), 4),
              cat({graphics(a), {0x1B, 0xF0, 0x04, 0x01, 0x02}, graphics(b), k_cut_none}));
    // The first line of a copy is always sent, even when it is blank.
    EXPECT_EQ(page_copy(h3, page({a, b, a}), 3),
              cat({graphics(a), graphics(b), graphics(a), k_cut_none}));

    // 601 equal lines after a different one end with three repeat commands.
    const cups_page_header2_t h = page_header(72, 602);
    Bytes image = b;
    for (int i = 0; i < 601; ++i)
    {
        image.insert(image.end(), a.begin(), a.end());
    }
    EXPECT_EQ(page_copy(h, image, 602), cat({graphics(b),
                                             graphics(a),
                                             {0x1B, 0xF0, 0x04, 0x01, 0xFF, 0x1B, 0xF0, 0x04, 0x01,
                                              0xFF, 0x1B, 0xF0, 0x04, 0x01, 0x5A},
                                             k_cut_none}));
}

TEST(CopyLoop, OnlyThePrintingLinesAreEncoded)
{
    cups_page_header2_t header = page_header(72, 100);
    header.AdvanceDistance = 10;
    Bytes image(72 * 100);
    for (size_t y = 0; y < 100; ++y)
    {
        image[y * 72] = static_cast<unsigned char>(y + 1);
    }
    const uint32_t lines = prepare_page(header, image.data(), 72, 100);
    const auto decoded = decode_stream(page_copy(header, image, lines), 72);
    ASSERT_EQ(decoded.error, "");
    ASSERT_EQ(decoded.copies.size(), 1u);
    ASSERT_EQ(decoded.copies[0].lines.size(), 90u);
    EXPECT_EQ(decoded.copies[0].lines[89][0], 90);

    // A page trimmed to nothing still sends its page end.
    set_header_value(header.AdvanceMedia, 1);
    set_header_value(header.CutMedia, 1);
    EXPECT_EQ(page_copy(header, image, 0), (Bytes{0x0C, 0x1B, 0xF0, 0x06, 0x01, 0x02}));
}

TEST(CopyLoop, PiecewiseEncodingGivesTheSameStream)
{
    std::mt19937 rng(7);
    const cups_page_header2_t header = page_header(72, 500);
    Bytes image(72 * 500);
    for (auto& byte : image)
    {
        byte = (rng() % 3 == 0) ? static_cast<unsigned char>(rng()) : 0;
    }
    const Bytes whole = page_copy(header, image, 500);

    TS_QEL_COPY_ENCODER copy;
    copy_begin(copy, header, image.data(), 500);
    Bytes pieces;
    int calls = 0;
    while (!copy_encode(copy, pieces, 1000))
    {
        ++calls;
    }
    EXPECT_GT(calls, 10);
    EXPECT_EQ(pieces, whole);

    // Abandoning a copy between lines ends it with the page end only.
    copy_begin(copy, header, image.data(), 500);
    Bytes part;
    ASSERT_FALSE(copy_encode(copy, part, 100));
    const size_t encoded = part.size();
    copy_abandon(copy, part);
    EXPECT_EQ(Bytes(part.begin(), part.begin() + encoded),
              Bytes(whole.begin(), whole.begin() + encoded));
    EXPECT_EQ(Bytes(part.begin() + encoded, part.end()), k_cut_none);
    copy_abandon(copy, part);
    EXPECT_EQ(part.size(), encoded + k_cut_none.size());
}

namespace
{

// A random page built from stretches that exercise the encoder: random
// literals, long runs, blank lines and duplicate stretches longer than 255.
Bytes random_page(std::mt19937& rng, uint32_t width, uint32_t height)
{
    Bytes image(static_cast<size_t>(width) * height, 0);
    Bytes previous(width, 0);
    uint32_t y = 0;
    while (y < height)
    {
        const uint32_t kind = rng() % 6;
        const uint32_t stretch =
            std::min<uint32_t>(height - y, (kind == 4) ? 250 + rng() % 300 : 1 + rng() % 8);
        for (uint32_t k = 0; k < stretch; ++k, ++y)
        {
            unsigned char* line = image.data() + static_cast<size_t>(y) * width;
            switch (kind)
            {
            case 0: // blank
                break;
            case 1: // literal noise
                for (uint32_t x = 0; x < width; ++x)
                {
                    line[x] = static_cast<unsigned char>(rng());
                }
                break;
            case 2: // runs of random lengths (2..300) of few values
            case 3:
            {
                uint32_t x = 0;
                while (x < width)
                {
                    const uint32_t run = 1 + rng() % ((kind == 2) ? 4 : 300);
                    const auto value = static_cast<unsigned char>(rng() % 3 == 0 ? 0 : rng());
                    for (uint32_t r = 0; r < run && x < width; ++r)
                    {
                        line[x++] = value;
                    }
                }
                break;
            }
            default: // duplicates of the previous line
                std::memcpy(line, previous.data(), width);
                break;
            }
            std::memcpy(previous.data(), line, width);
        }
    }
    return image;
}

} // namespace

TEST(CopyLoop, RandomPagesDecodeToThePrintedLines)
{
    std::mt19937 rng(20261208);
    for (int trial = 0; trial < 300; ++trial)
    {
        const uint32_t width = (trial < 40) ? 72 : 1 + rng() % 600;
        const uint32_t height = 1 + rng() % 700;
        cups_page_header2_t header = page_header(width, height);
        set_header_value(header.Duplex, rng() % 2);
        header.AdvanceDistance = (rng() % 4 == 0) ? rng() % (height + 20) : 0;
        set_header_value(header.CutMedia, rng() % 2);
        Bytes image = random_page(rng, width, height);
        if (rng() % 5 == 0)
        {
            // blank stretch longer than 255 lines at the bottom
            const uint32_t blank = std::min<uint32_t>(height, 256 + rng() % 100);
            std::fill(image.end() - static_cast<ptrdiff_t>(blank) * width, image.end(), 0);
        }

        const uint32_t lines = prepare_page(header, image.data(), width, height);
        Bytes stream;
        start_page(header, stream);
        encode_page_copy(header, image.data(), lines, stream);

        SCOPED_TRACE("trial " + std::to_string(trial) + " width " + std::to_string(width) +
                     " height " + std::to_string(height));
        const auto decoded = decode_stream(stream, width);
        ASSERT_EQ(decoded.error, "");
        ASSERT_EQ(decoded.copies.size(), 1u);
        const auto& got = decoded.copies[0].lines;
        ASSERT_EQ(got.size(), lines);
        for (uint32_t y = 0; y < lines; ++y)
        {
            ASSERT_TRUE(std::equal(got[y].begin(), got[y].end(),
                                   image.begin() + static_cast<ptrdiff_t>(y) * width))
                << "line " << y;
        }
        // Trimming removed only blank lines.
        if (header_value(header.Duplex) == 1 && lines > 0)
        {
            const auto& last = got[lines - 1];
            EXPECT_TRUE(std::any_of(last.begin(), last.end(), [](unsigned char b) { return b; }));
        }

        // The virtual printer's decoder must read the same lines.  It joins a
        // 255-byte piece with the next command of its kind, which a dot line
        // under 255 bytes never produces, so it is asked only about those.
        if (width < 255)
        {
            const auto vp = qel_vp::decode_page_stream(stream);
            ASSERT_TRUE(vp.ok()) << vp.errors.front().message;
            ASSERT_EQ(vp.pages.size(), 1u);
            ASSERT_EQ(vp.pages[0].lines.size(), lines);
            for (uint32_t y = 0; y < lines; ++y)
            {
                ASSERT_EQ(vp.pages[0].lines[y], got[y]) << "line " << y;
            }
            EXPECT_EQ(vp.pages[0].cut, header_value(header.CutMedia) ? 2 : 0);
        }
    }
}
