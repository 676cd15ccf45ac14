// The streaming encoder of the stand-alone path against the reference copy
// loop over a whole page image: the same bytes for random pages, bottom
// cut-offs, trimming and pages whose stream ends early.
#include "page_streamer.h"
#include "reference_encoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using Bytes = std::vector<unsigned char>;

namespace
{

// Random lines of the kinds a receipt has: blank stretches, repeated lines,
// text-like runs and noise, with blank stretches at the top and bottom.
Bytes random_image(std::mt19937& rng, uint32_t width, uint32_t height)
{
    Bytes image(static_cast<size_t>(width) * height, 0);
    uint32_t y = 0;
    while (y < height)
    {
        const uint32_t kind = rng() % 5;
        const uint32_t stretch = std::min<uint32_t>(height - y, 1 + rng() % 40);
        for (uint32_t k = 0; k < stretch; ++k, ++y)
        {
            unsigned char* line = image.data() + static_cast<size_t>(y) * width;
            if (kind == 0)
            {
                continue; // blank
            }
            if (kind == 1 && y > 0)
            {
                std::memcpy(line, line - width, width); // repeat
                continue;
            }
            for (uint32_t x = 0; x < width; ++x)
            {
                line[x] = (kind == 2) ? static_cast<unsigned char>(rng())
                                      : static_cast<unsigned char>(rng() % 4 == 0 ? 0x0F : 0);
            }
        }
    }
    return image;
}

// The reference: the page image (missing lines blank), prepare_page and the
// copy loop.
Bytes reference_copy(const cups_page_header2_t& header, Bytes image, uint32_t lines_read)
{
    const size_t width = header.cupsBytesPerLine;
    std::fill(image.begin() + static_cast<ptrdiff_t>(lines_read * width), image.end(), 0);
    const uint32_t lines =
        prepare_page(header, image.data(), header.cupsBytesPerLine, header.cupsHeight);
    const uint32_t first =
        first_printing_line(header, image.data(), header.cupsBytesPerLine, lines);
    Bytes stream;
    encode_page_copy(header, image.data() + first * width, lines - first, stream);
    return stream;
}

// The streamer fed line by line into an output buffer that is written out
// (and emptied) at random moments, as the filter does.
Bytes streamed_copy(TS_QEL_PAGE_STREAMER& streamer, std::mt19937& rng,
                    const cups_page_header2_t& header, const Bytes& image, uint32_t lines_read)
{
    const size_t width = header.cupsBytesPerLine;
    Bytes stream;
    Bytes out;
    auto drain = [&]
    {
        stream.insert(stream.end(), out.begin(), out.end());
        out.clear();
    };
    streamer_begin(streamer, page_layout_from_header(header));
    for (uint32_t y = 0; y < lines_read; ++y)
    {
        streamer_add_line(streamer, image.data() + y * width, out);
        if (rng() % 16 == 0)
        {
            drain();
        }
    }
    streamer_add_blank_lines(streamer, header.cupsHeight - lines_read, out);
    streamer_finish(streamer, out);
    drain();
    return stream;
}

} // namespace

TEST(DotLineInPlace, SameCommandsAsTheReferenceEncoder)
{
    std::mt19937 rng(4711);
    for (int trial = 0; trial < 3000; ++trial)
    {
        // Wide lines of mostly zeros give RLE8 data over 255 bytes, which is
        // cut into pieces in place.
        const uint32_t width = (trial % 3 == 0) ? 72 : 1 + rng() % 3000;
        const uint32_t density = rng() % 4;
        Bytes line(width);
        for (auto& b : line)
        {
            b = (density == 0) ? 0
                : (rng() % (density * 8))
                    ? 0
                    : static_cast<unsigned char>(rng() % (density == 3 ? 256 : 2));
        }
        if (trial % 7 == 0)
        {
            for (auto& b : line)
            {
                b = static_cast<unsigned char>(rng());
            }
        }
        Bytes expected(2 * width + 4, 0);
        const uint32_t offset = 0;
        expected.resize(set_graphics_dot_line(expected.data(), &offset, line.data(), width));
        Bytes got(dot_line_room(width), 0xEE);
        got.resize(encode_dot_line(got.data(), line.data(), width));
        ASSERT_EQ(got, expected) << "trial " << trial << " width " << width;
    }
    unsigned char byte = 0;
    EXPECT_EQ(encode_dot_line(nullptr, &byte, 1), 0u);
    EXPECT_EQ(encode_dot_line(&byte, &byte, 0), 0u);
}

TEST(DotLineInPlace, GroupsAreThoseOfTheStepByStepScan)
{
    std::mt19937 rng(1208);
    for (int trial = 0; trial < 5000; ++trial)
    {
        const uint32_t width = 1 + rng() % 700;
        const uint32_t values = 1 + rng() % 4; // few values give many runs
        Bytes line(width);
        for (auto& b : line)
        {
            b = static_cast<unsigned char>(rng() % values);
        }
        if (trial % 5 == 0)
        {
            // long runs across the 127-byte segment limit
            const uint32_t from = rng() % width;
            std::fill(line.begin() + from,
                      line.begin() + std::min<uint32_t>(width, from + rng() % 400), 7);
        }
        Bytes data(graphics_target_size(width));
        uint64_t length = 0;
        ASSERT_TRUE(reference_rle8_scan(line.data(), width, data.data(), data.size() - 4, &length));
        data.resize(length);

        Bytes out(dot_line_room(width));
        out.resize(encode_dot_line(out.data(), line.data(), width));
        // Join the pieces' data again.
        Bytes joined;
        bool f_rle = false;
        for (size_t at = 0; at < out.size();)
        {
            ASSERT_LE(at + 4, out.size());
            f_rle = out[at + 2] == QEL_CMD_COMPRESSED_RLE8;
            joined.insert(joined.end(), out.begin() + at + 4, out.begin() + at + 4 + out[at + 3]);
            at += 4 + out[at + 3];
        }
        SCOPED_TRACE("trial " + std::to_string(trial) + " width " + std::to_string(width));
        if (length < width)
        {
            ASSERT_TRUE(f_rle);
            ASSERT_EQ(joined, data);
        }
        else
        {
            ASSERT_FALSE(f_rle);
            ASSERT_EQ(joined, line);
        }
    }
}

TEST(PageStreamer, SameBytesAsTheReferenceCopyLoop)
{
    std::mt19937 rng(20261208);
    TS_QEL_PAGE_STREAMER streamer; // reused across pages, as in the filter
    for (int trial = 0; trial < 400; ++trial)
    {
        const uint32_t width = (trial % 2 == 0) ? 72 : 1 + rng() % 300;
        const uint32_t height = 1 + rng() % 900;
        cups_page_header2_t header = page_header(width, height);
        set_header_value(header.Duplex, rng() % 2);
        // The top trim is on for 1 only; half the pages leave it at 0.
        header.cupsInteger[0] = (rng() % 2) ? rng() % 3 : 0;
        const uint32_t cut_kind = rng() % 4;
        header.AdvanceDistance = (cut_kind == 0)   ? 0
                                 : (cut_kind == 1) ? rng() % 20
                                 : (cut_kind == 2) ? rng() % (height + 10)
                                                   : height + rng() % 3;
        set_header_value(header.AdvanceMedia, rng() % 2);
        set_header_value(header.CutMedia, rng() % 2);
        Bytes image = random_image(rng, width, height);
        if (rng() % 3 == 0)
        {
            // a blank bottom longer than the longest repeat command
            const uint32_t blank = std::min<uint32_t>(height, 200 + rng() % 400);
            std::fill(image.end() - static_cast<ptrdiff_t>(blank) * width, image.end(), 0);
        }
        const uint32_t lines_read = (rng() % 4 == 0) ? rng() % (height + 1) : height;

        SCOPED_TRACE("trial " + std::to_string(trial) + " width " + std::to_string(width) +
                     " height " + std::to_string(height) + " cut " +
                     std::to_string(header.AdvanceDistance) + " trim " +
                     std::to_string(header_value(header.Duplex)) + " top " +
                     std::to_string(header.cupsInteger[0]) + " read " + std::to_string(lines_read));
        const Bytes expected = reference_copy(header, image, lines_read);
        ASSERT_EQ(streamed_copy(streamer, rng, header, image, lines_read), expected);

        Bytes filled = image;
        std::fill(filled.begin() + static_cast<ptrdiff_t>(lines_read) * width, filled.end(), 0);
        const uint32_t lines = prepare_page(header, filled.data(), width, height);
        EXPECT_EQ(streamer.nr_printing_lines,
                  lines - first_printing_line(header, filled.data(), width, lines));
    }
}

TEST(PageStreamer, LongMissingStretchCostsOnlyItsRepeatCommands)
{
    // 2^31 missing lines after a single dot line: the streamer must neither
    // walk them one by one nor lose count of them.
    cups_page_header2_t header = page_header(72, 0x80000001u);
    header.AdvanceDistance = 3;
    TS_QEL_PAGE_STREAMER streamer;
    streamer_begin(streamer, page_layout_from_header(header));
    Bytes line(72, 0);
    line[0] = 0x80;
    Bytes out;
    streamer_add_line(streamer, line.data(), out);
    streamer_add_blank_lines(streamer, 0x80000000u, out);
    streamer_finish(streamer, out);
    EXPECT_EQ(streamer.nr_printing_lines, 0x80000001u - 3);
    // graphics(line), graphics(blank), repeats for the other blank lines, page end
    const uint64_t repeated = 0x80000000u - 3 - 1;
    const size_t repeat_bytes = 5 * ((repeated + 254) / 255);
    Bytes first(dot_line_room(72));
    const size_t first_size = encode_dot_line(first.data(), line.data(), 72);
    EXPECT_EQ(out.size(), first_size + 6 + repeat_bytes + 5);

    // With trimming the whole blank stretch goes.
    set_header_value(header.Duplex, 1);
    streamer_begin(streamer, page_layout_from_header(header));
    out.clear();
    streamer_add_line(streamer, line.data(), out);
    streamer_add_blank_lines(streamer, 0x80000000u, out);
    streamer_finish(streamer, out);
    EXPECT_EQ(streamer.nr_printing_lines, 1u);
    EXPECT_EQ(out.size(), first_size + 5);

    // A header that announces a cut-off of 1023 lines of 1 MiB, followed by
    // two lines: memory follows the lines that came, not the header.
    TS_QEL_PAGE_STREAMER hostile;
    header = page_header(1u << 20, 1024);
    header.AdvanceDistance = 1023;
    streamer_begin(hostile, page_layout_from_header(header));
    Bytes wide(1u << 20, 0);
    wide[0] = 0x80;
    streamer_add_line(hostile, wide.data(), out);
    streamer_add_line(hostile, wide.data(), out);
    streamer_add_blank_lines(hostile, 1022, out);
    streamer_finish(hostile, out);
    EXPECT_EQ(hostile.nr_printing_lines, 1u);
    EXPECT_LE(hostile.ring.capacity(), size_t{4} << 20);
}

TEST(PageStreamer, AbandonedCopyEndsWithThePageEndOnly)
{
    cups_page_header2_t header = page_header(72, 10);
    set_header_value(header.AdvanceMedia, 1);
    set_header_value(header.CutMedia, 1);
    TS_QEL_PAGE_STREAMER streamer;
    streamer_begin(streamer, page_layout_from_header(header));
    Bytes line(72, 0x55);
    Bytes out;
    streamer_add_line(streamer, line.data(), out);
    streamer_add_line(streamer, line.data(), out); // pending repeat, dropped
    EXPECT_TRUE(streamer_sent_line(streamer));
    const size_t encoded = out.size();
    streamer_abandon(streamer, out);
    EXPECT_EQ(Bytes(out.begin() + static_cast<ptrdiff_t>(encoded), out.end()),
              (Bytes{0x0C, 0x1B, 0xF0, 0x06, 0x01, 0x02}));

    // Lines still held by the bottom cut-off have not been sent.
    header.AdvanceDistance = 5;
    streamer_begin(streamer, page_layout_from_header(header));
    out.clear();
    streamer_add_line(streamer, line.data(), out);
    EXPECT_FALSE(streamer_sent_line(streamer));
    EXPECT_TRUE(out.empty());
}
