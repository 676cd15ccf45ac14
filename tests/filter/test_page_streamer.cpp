// The streaming encoder of the stand-alone path against the reference copy
// loop over a whole page image: the same bytes for random pages, bottom
// cut-offs, trimming and pages whose stream ends early.
#include "page_encoder.h"
#include "page_streamer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using Bytes = std::vector<unsigned char>;

namespace
{

cups_page_header2_t header_of(uint32_t width, uint32_t height)
{
    cups_page_header2_t header;
    std::memset(&header, 0, sizeof header);
    header.cupsBytesPerLine = width;
    header.cupsHeight = height;
    header.cupsWidth = width * 8;
    header.NumCopies = 1;
    return header;
}

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

// The streamer fed line by line, drained at random moments.
Bytes streamed_copy(TS_QEL_PAGE_STREAMER& streamer, std::mt19937& rng,
                    const cups_page_header2_t& header, const Bytes& image, uint32_t lines_read)
{
    const size_t width = header.cupsBytesPerLine;
    Bytes stream;
    auto drain = [&]
    {
        stream.insert(stream.end(), streamer_output(streamer),
                      streamer_output(streamer) + streamer_output_size(streamer));
        streamer_output_taken(streamer);
    };
    streamer_begin(streamer, header);
    for (uint32_t y = 0; y < lines_read; ++y)
    {
        streamer_add_line(streamer, image.data() + y * width);
        if (rng() % 16 == 0)
        {
            drain();
        }
    }
    streamer_add_blank_lines(streamer, header.cupsHeight - lines_read);
    streamer_finish(streamer, header);
    drain();
    return stream;
}

// The RLE8 scan as first written, step by step after the description of
// the segment scan; the encoder's faster scan must give the same groups.
// Builds the RLE8 data of a dot line in `target` (capacity `capacity`).
// Returns false when a group would not fit, in which case the caller falls
// back to the plain form.  *length receives the data length.
bool lo_reference_rle8_scan(const unsigned char* line, uint32_t n, unsigned char* target,
                            uint64_t capacity, uint64_t* length)
{
    uint64_t size = 0;
    uint32_t dot_line = 0;
    while (dot_line < n)
    {
        uint32_t i = dot_line;
        uint32_t j = i + 1;
        uint32_t run_len = 0;
        bool f_ended_by_difference = false;
        // The segment count is always i + 1 - dot_line.
        while (!(j >= n || i + 1 - dot_line >= 127u || run_len >= 127u))
        {
            ++i;
            ++j;
            if (line[i] == line[i - 1])
            {
                run_len = (run_len == 0) ? 2 : run_len + 1;
            }
            else if (run_len > 0)
            {
                f_ended_by_difference = true;
                break;
            }
        }

        if (run_len >= 2)
        {
            // A run ends just before the differing byte, or at i when one of
            // the limits ended the segment.
            const uint32_t run_end = f_ended_by_difference ? i : i + 1;
            const uint32_t run_start = run_end - run_len;
            if (run_start > dot_line)
            {
                const uint32_t literal = run_start - dot_line;
                if (!(literal < capacity - size))
                {
                    return false;
                }
                target[size++] = static_cast<unsigned char>(literal);
                std::memcpy(target + size, line + dot_line, literal);
                size += literal;
            }
            if (capacity - size < 2)
            {
                return false;
            }
            target[size++] = static_cast<unsigned char>(0x80 | run_len);
            target[size++] = line[run_start];
            dot_line = run_start + run_len;
        }
        else
        {
            const uint32_t literal = j - dot_line;
            if (!(literal < capacity - size))
            {
                return false;
            }
            target[size++] = static_cast<unsigned char>(literal);
            std::memcpy(target + size, line + dot_line, literal);
            size += literal;
            dot_line = j;
        }
    }
    *length = size;
    return true;
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
        ASSERT_TRUE(
            lo_reference_rle8_scan(line.data(), width, data.data(), data.size() - 4, &length));
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
        cups_page_header2_t header = header_of(width, height);
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
    cups_page_header2_t header = header_of(72, 0x80000001u);
    header.AdvanceDistance = 3;
    TS_QEL_PAGE_STREAMER streamer;
    streamer_begin(streamer, header);
    Bytes line(72, 0);
    line[0] = 0x80;
    streamer_add_line(streamer, line.data());
    streamer_add_blank_lines(streamer, 0x80000000u);
    streamer_finish(streamer, header);
    EXPECT_EQ(streamer.nr_printing_lines, 0x80000001u - 3);
    // graphics(line), graphics(blank), repeats for the other blank lines, page end
    const uint64_t repeated = 0x80000000u - 3 - 1;
    const size_t repeat_bytes = 5 * ((repeated + 254) / 255);
    Bytes first(dot_line_room(72));
    const size_t first_size = encode_dot_line(first.data(), line.data(), 72);
    EXPECT_EQ(streamer_output_size(streamer), first_size + 6 + repeat_bytes + 5);

    // With trimming the whole blank stretch goes.
    set_header_value(header.Duplex, 1);
    streamer_begin(streamer, header);
    streamer_add_line(streamer, line.data());
    streamer_add_blank_lines(streamer, 0x80000000u);
    streamer_finish(streamer, header);
    EXPECT_EQ(streamer.nr_printing_lines, 1u);
    EXPECT_EQ(streamer_output_size(streamer), first_size + 5);

    // A header that announces a cut-off of 1023 lines of 1 MiB, followed by
    // two lines: memory follows the lines that came, not the header.
    TS_QEL_PAGE_STREAMER hostile;
    header = header_of(1u << 20, 1024);
    header.AdvanceDistance = 1023;
    streamer_begin(hostile, header);
    Bytes wide(1u << 20, 0);
    wide[0] = 0x80;
    streamer_add_line(hostile, wide.data());
    streamer_add_line(hostile, wide.data());
    streamer_add_blank_lines(hostile, 1022);
    streamer_finish(hostile, header);
    EXPECT_EQ(hostile.nr_printing_lines, 1u);
    EXPECT_LE(hostile.ring.capacity(), size_t{4} << 20);
}

TEST(PageStreamer, AbandonedCopyEndsWithThePageEndOnly)
{
    cups_page_header2_t header = header_of(72, 10);
    set_header_value(header.AdvanceMedia, 1);
    set_header_value(header.CutMedia, 1);
    TS_QEL_PAGE_STREAMER streamer;
    streamer_begin(streamer, header);
    Bytes line(72, 0x55);
    streamer_add_line(streamer, line.data());
    streamer_add_line(streamer, line.data()); // pending repeat, dropped
    EXPECT_TRUE(streamer_sent_line(streamer));
    const size_t encoded = streamer_output_size(streamer);
    streamer_abandon(streamer, header);
    const Bytes tail(streamer_output(streamer) + encoded,
                     streamer_output(streamer) + streamer_output_size(streamer));
    EXPECT_EQ(tail, (Bytes{0x0C, 0x1B, 0xF0, 0x06, 0x01, 0x02}));

    // Lines still held by the bottom cut-off have not been sent.
    header.AdvanceDistance = 5;
    streamer_begin(streamer, header);
    streamer_add_line(streamer, line.data());
    EXPECT_FALSE(streamer_sent_line(streamer));
    EXPECT_EQ(streamer_output_size(streamer), 0u);
}
