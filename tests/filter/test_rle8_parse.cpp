// Tests of the shortest RLE8 parse (the printer application's dot lines):
// lines the first-pair scan cuts badly, the length against an exhaustive
// search and against the plain quadratic program, and the printer's decoder
// and the command boundary tracker reading the result.
#include "command_boundary.h"
#include "page_streamer.h"
#include "virtual_printer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using Bytes = std::vector<unsigned char>;

namespace
{

Bytes encode(const Bytes& line, Rle8Parse parse)
{
    Bytes out(dot_line_room(line.size()), 0xEE);
    out.resize(encode_dot_line(out.data(), line.data(), static_cast<uint32_t>(line.size()), parse));
    return out;
}

// The RLE8 data of an encoded line (its pieces joined), or nothing when the
// line went plain.
Bytes rle8_data(const Bytes& commands)
{
    Bytes data;
    for (size_t at = 0; at + 4 <= commands.size(); at += 4 + commands[at + 3])
    {
        if (commands[at + 2] != QEL_CMD_COMPRESSED_RLE8)
        {
            return {};
        }
        data.insert(data.end(), commands.begin() + at + 4,
                    commands.begin() + at + 4 + commands[at + 3]);
    }
    return data;
}

// The printer reads the line back from its commands, and the tracker the app
// writes through stands on a command boundary after them.
void expect_printer_reads(const Bytes& commands, const Bytes& line)
{
    Bytes stream = commands;
    unsigned char end[QEL_PAGE_END_MAX];
    stream.insert(stream.end(), end, end + write_page_end(false, false, end));
    const qel_vp::DecodeResult decoded = qel_vp::decode_page_stream(stream);
    ASSERT_TRUE(decoded.ok()) << decoded.errors.front().message;
    ASSERT_EQ(decoded.pages.size(), 1u);
    ASSERT_EQ(decoded.pages[0].lines, std::vector<Bytes>{line});

    qel::CommandBoundary tracker;
    qel::boundary_feed(tracker, commands);
    EXPECT_TRUE(tracker.on_boundary()) << qel::describe_boundary(tracker);
}

// Fewest RLE8 bytes by trying every sequence of groups the printer takes,
// runs of a single byte (81) included.  Exponential: small lines only.
size_t exhaustive_rle8(const Bytes& line, size_t from = 0)
{
    if (from == line.size())
    {
        return 0;
    }
    size_t least = SIZE_MAX;
    for (size_t k = 1; k <= 127 && from + k <= line.size(); ++k)
    {
        least = std::min(least, 1 + k + exhaustive_rle8(line, from + k));
    }
    for (size_t k = 1; k <= 127 && from + k <= line.size() && line[from + k - 1] == line[from]; ++k)
    {
        least = std::min(least, 2 + exhaustive_rle8(line, from + k));
    }
    return least;
}

// The same by the straightforward program over every group length (what the
// app benchmark counts as optimal); no shortcut, quadratic in 127.
size_t quadratic_rle8(const Bytes& line)
{
    const size_t n = line.size();
    std::vector<size_t> best(n + 1, 0);
    for (size_t i = n; i-- > 0;)
    {
        best[i] = SIZE_MAX;
        for (size_t k = 1; k <= 127 && i + k <= n; ++k)
        {
            best[i] = std::min(best[i], 1 + k + best[i + k]);
        }
        for (size_t k = 2; k <= 127 && i + k <= n && line[i + k - 1] == line[i]; ++k)
        {
            best[i] = std::min(best[i], 2 + best[i + k]);
        }
    }
    return best[0];
}

// Commands of the shortest line: the shorter of plain and RLE8 data, each in
// 255-byte pieces and a last piece of the remainder.
size_t optimal_commands(size_t rle8, size_t width)
{
    const size_t data = std::min(rle8, width);
    return data + 4 * (data / 255 + 1);
}

} // namespace

TEST(ShortestRle8, LinesTheFirstPairScanCutsBadly)
{
    // A pair inside a short literal: the scan spends a run group and a second
    // literal group on it (3 + 2 + 3 in three groups, 12 bytes with the run
    // of blanks); one literal of 8 is a byte shorter.
    Bytes pair{1, 2, 3, 5, 5, 6, 7, 8};
    pair.resize(48, 0);
    EXPECT_EQ(rle8_data(encode(pair, Rle8Parse::FirstPair)).size(), 12u);
    EXPECT_EQ(encode(pair, Rle8Parse::Shortest),
              (Bytes{0x1B, 0xF0, 0x03, 11, 0x08, 1, 2, 3, 5, 5, 6, 7, 8, 0x80 | 40, 0}));
    expect_printer_reads(encode(pair, Rle8Parse::Shortest), pair);

    // A run that crosses the scan's 127-byte segment: the scan ends it there
    // and starts another run group.
    Bytes crossing(140, 0);
    for (size_t i = 0; i < 120; ++i)
    {
        crossing[i] = static_cast<unsigned char>(1 + i % 2);
    }
    const Bytes shortest = encode(crossing, Rle8Parse::Shortest);
    EXPECT_EQ(rle8_data(encode(crossing, Rle8Parse::FirstPair)).size(), 125u);
    ASSERT_EQ(shortest.size(), 4u + 123u);
    EXPECT_EQ(shortest[4], 120);
    EXPECT_EQ(Bytes(shortest.end() - 2, shortest.end()), (Bytes{0x80 | 20, 0}));
    expect_printer_reads(shortest, crossing);

    // Over 255 bytes of data: groups straddle the piece boundaries, which the
    // printer joins before it reads the groups.
    Bytes wide(700, 0);
    for (size_t i = 0; i < 600; ++i)
    {
        wide[i] = static_cast<unsigned char>(i % 7 == 3 ? wide[i - 1] : 1 + i % 5);
    }
    const Bytes pieces = encode(wide, Rle8Parse::Shortest);
    EXPECT_EQ(pieces.size(), optimal_commands(quadratic_rle8(wide), wide.size()));
    EXPECT_LT(pieces.size(), encode(wide, Rle8Parse::FirstPair).size());
    EXPECT_GT(pieces.size(), 2u * 259u + 4u); // three pieces
    expect_printer_reads(pieces, wide);
}

TEST(ShortestRle8, DataOfExactly255BytesIsEndedByAnEmptyPiece)
{
    // No two equal neighbours: plain, one full piece.  Without the empty
    // piece the printer would take the next line's piece as its rest.
    Bytes full(255);
    for (size_t i = 0; i < full.size(); ++i)
    {
        full[i] = static_cast<unsigned char>(1 + i % 2);
    }
    const Bytes commands = encode(full, Rle8Parse::Shortest);
    ASSERT_EQ(commands.size(), 4u + 255u + 4u);
    EXPECT_EQ(Bytes(commands.end() - 4, commands.end()), (Bytes{0x1B, 0xF0, 0x02, 0}));

    const Bytes next(255, 0x0F);
    Bytes stream = commands;
    const Bytes second = encode(next, Rle8Parse::Shortest);
    stream.insert(stream.end(), second.begin(), second.end());
    unsigned char end[QEL_PAGE_END_MAX];
    stream.insert(stream.end(), end, end + write_page_end(false, false, end));
    const qel_vp::DecodeResult decoded = qel_vp::decode_page_stream(stream);
    ASSERT_TRUE(decoded.ok());
    ASSERT_EQ(decoded.pages.size(), 1u);
    EXPECT_EQ(decoded.pages[0].lines, (std::vector<Bytes>{full, next}));
}

TEST(ShortestRle8, NoParseOfTheGroupsIsShorter)
{
    std::mt19937 rng(90210);
    for (int trial = 0; trial < 3000; ++trial)
    {
        // Small lines of few values against every parse; wider ones, with
        // runs past 127 bytes and data past 255, against the quadratic program.
        const bool small = trial % 2 == 0;
        const size_t width = small ? 1 + rng() % 11 : 1 + rng() % 900;
        const unsigned values = 1 + rng() % 3;
        Bytes line(width);
        for (auto& b : line)
        {
            b = static_cast<unsigned char>(rng() % values * 0x55);
        }
        if (!small && trial % 3 == 0)
        {
            const size_t from = rng() % width;
            std::fill(line.begin() + static_cast<ptrdiff_t>(from),
                      line.begin() + static_cast<ptrdiff_t>(std::min(width, from + rng() % 400)),
                      0xAA);
        }
        SCOPED_TRACE("trial " + std::to_string(trial) + " width " + std::to_string(width));
        const size_t optimum = small ? exhaustive_rle8(line) : quadratic_rle8(line);
        const Bytes commands = encode(line, Rle8Parse::Shortest);
        ASSERT_EQ(commands.size(), optimal_commands(optimum, width));
        if (optimum < width)
        {
            ASSERT_EQ(rle8_data(commands).size(), optimum);
        }
        ASSERT_NO_FATAL_FAILURE(expect_printer_reads(commands, line));
    }
}

TEST(ShortestRle8, StreamerUsesItOnlyWhenTheLayoutAsks)
{
    Bytes line{1, 2, 3, 5, 5, 6, 7, 8};
    line.resize(48, 0);
    TS_QEL_PAGE_LAYOUT layout;
    layout.width_bytes = static_cast<uint32_t>(line.size());
    layout.height = 3;
    auto page = [&](Rle8Parse parse)
    {
        layout.rle8_parse = parse;
        TS_QEL_PAGE_STREAMER streamer;
        TS_QEL_PAGE_STREAM out;
        streamer_begin(streamer, layout);
        for (int y = 0; y < 3; ++y)
        {
            streamer_add_line(streamer, line.data(), out);
        }
        streamer_finish(streamer, out);
        return out;
    };
    const Bytes repeat{0x1B, 0xF0, 0x04, 0x01, 2};
    const Bytes end{0x1B, 0xF0, 0x06, 0x01, 0};
    for (const Rle8Parse parse : {Rle8Parse::FirstPair, Rle8Parse::Shortest})
    {
        Bytes expected = encode(line, parse);
        expected.insert(expected.end(), repeat.begin(), repeat.end());
        expected.insert(expected.end(), end.begin(), end.end());
        EXPECT_EQ(page(parse), expected);
    }
}
