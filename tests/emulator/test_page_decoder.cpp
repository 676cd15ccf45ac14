// Tests of the page command stream decoder on hand-built streams.
#include "virtual_printer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

using qel_vp::decode_page_stream;
using Bytes = std::vector<std::uint8_t>;

namespace
{

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes settings(std::uint8_t speed, std::uint8_t density, std::uint8_t path)
{
    return {0x1B, 0xF0,    0x01, 0x01, speed, 0x1B, 0xF0, 0x05,
            0x01, density, 0x1B, 0xF0, 0x0D,  0x02, 0x00, path};
}

Bytes page_end(bool feed, std::uint8_t cut)
{
    Bytes b;
    if (feed)
        b.push_back(0x0C);
    b.insert(b.end(), {0x1B, 0xF0, 0x06, 0x01, cut});
    return b;
}

Bytes repeat(std::uint8_t k)
{
    return {0x1B, 0xF0, 0x04, 0x01, k};
}

// Splits data into pieces of 255 with a final shorter piece (possibly empty), as the printer
// expects for a dot line longer than one piece.
Bytes pieces(std::uint8_t cmd, const Bytes& data)
{
    Bytes out;
    if (data.size() <= 255)
    {
        out = {0x1B, 0xF0, cmd, static_cast<std::uint8_t>(data.size())};
        out.insert(out.end(), data.begin(), data.end());
        return out;
    }
    std::size_t pos = 0;
    for (std::size_t part = 0; part <= data.size() / 255; ++part)
    {
        const std::size_t n = std::min<std::size_t>(255, data.size() - pos);
        out.insert(out.end(), {0x1B, 0xF0, cmd, static_cast<std::uint8_t>(n)});
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(pos),
                   data.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
    }
    return out;
}

// A simple RLE8 coder (runs of 2..127 as run groups, the rest as literal groups): any valid
// group sequence must decode, not only the filter's.
Bytes rle8(const Bytes& line)
{
    Bytes out;
    std::size_t i = 0;
    while (i < line.size())
    {
        std::size_t run = 1;
        while (i + run < line.size() && line[i + run] == line[i] && run < 127)
            ++run;
        if (run >= 2)
        {
            out.push_back(static_cast<std::uint8_t>(0x80 | run));
            out.push_back(line[i]);
            i += run;
            continue;
        }
        std::size_t lit = 1;
        while (i + lit < line.size() && lit < 127 &&
               !(i + lit + 1 < line.size() && line[i + lit] == line[i + lit + 1]))
            ++lit;
        out.push_back(static_cast<std::uint8_t>(lit));
        out.insert(out.end(), line.begin() + static_cast<std::ptrdiff_t>(i),
                   line.begin() + static_cast<std::ptrdiff_t>(i + lit));
        i += lit;
    }
    return out;
}

} // namespace

TEST(PageDecoder, FilterExampleLinesDecodeToTheirSource)
{
    // Encodings of single dot lines as the filter writes them.
    const Bytes zeros72(72, 0);
    Bytes ramp600(600);
    for (std::size_t i = 0; i < ramp600.size(); ++i)
        ramp600[i] = static_cast<std::uint8_t>(i * 7 + 1); // no equal neighbours
    Bytes run130(130, 0x05);
    run130.insert(run130.end(), {0x01, 0x02});

    struct Case
    {
        Bytes wire;
        Bytes line;
    } cases[] = {
        {{0x1B, 0xF0, 0x03, 0x02, 0xC8, 0x00}, zeros72},
        {{0x1B, 0xF0, 0x03, 0x04, 0xFF, 0x00, 0xC9, 0x00}, Bytes(200, 0)},
        {{0x1B, 0xF0, 0x02, 0x04, 0x41, 0x42, 0x42, 0x43}, {0x41, 0x42, 0x42, 0x43}},
        {{0x1B, 0xF0, 0x02, 0x01, 0x7E}, {0x7E}},
        {pieces(0x02, ramp600), ramp600},
        {{0x1B, 0xF0, 0x03, 0x0A, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xDC, 0x00},
         Bytes(600, 0)},
        {{0x1B, 0xF0, 0x03, 0x07, 0xFF, 0x05, 0x83, 0x05, 0x02, 0x01, 0x02}, run130},
        {{0x1B, 0xF0, 0x03, 0x06, 0xFF, 0x00, 0xFF, 0x00, 0x82, 0x00}, Bytes(256, 0)},
    };
    for (const Case& c : cases)
    {
        const auto r = decode_page_stream(cat({c.wire, page_end(false, 0)}));
        ASSERT_TRUE(r.ok()) << r.errors[0].message;
        ASSERT_EQ(r.pages.size(), 1u);
        ASSERT_EQ(r.pages[0].lines.size(), 1u);
        EXPECT_EQ(r.pages[0].lines[0], c.line);
        EXPECT_EQ(r.pages[0].width_bytes, std::max<std::size_t>(72, c.line.size()));
    }
}

TEST(PageDecoder, PiecesOfOneLineJoinIncludingAnEmptyLastPiece)
{
    Bytes ramp510(510);
    for (std::size_t i = 0; i < ramp510.size(); ++i)
        ramp510[i] = static_cast<std::uint8_t>(i % 2 ? i : ~i);
    const Bytes wire = pieces(0x02, ramp510);
    ASSERT_EQ(wire.size(), 3 * 4 + 510u); // 255 + 255 + an empty final piece
    const Bytes second = {0x1B, 0xF0, 0x02, 0x03, 1, 2, 3};

    // An RLE8 group that crosses a piece boundary must still decode.
    Bytes line(700);
    for (std::size_t i = 0; i < line.size(); ++i)
        line[i] = static_cast<std::uint8_t>((i / 3) * 31);
    const Bytes rle = rle8(line);
    ASSERT_GT(rle.size(), 255u);

    const auto r = decode_page_stream(cat({wire, second, pieces(0x03, rle), page_end(false, 2)}));
    ASSERT_TRUE(r.ok()) << r.errors[0].message;
    ASSERT_EQ(r.pages[0].lines.size(), 3u);
    EXPECT_EQ(r.pages[0].lines[0], ramp510);
    EXPECT_EQ(r.pages[0].lines[1], (Bytes{1, 2, 3}));
    EXPECT_EQ(r.pages[0].lines[2], line);
    EXPECT_EQ(r.pages[0].plain_lines, 2u);
    EXPECT_EQ(r.pages[0].rle_lines, 1u);
    EXPECT_EQ(r.pages[0].width_bytes, 700u);
}

TEST(PageDecoder, PageStructureSettingsRepeatsAndCopies)
{
    const Bytes a = {0x1B, 0xF0, 0x03, 0x02, 0xC8, 0xAA};             // 72 x AA
    const Bytes b = {0x1B, 0xF0, 0x03, 0x04, 0x81, 0x0F, 0xC7, 0x00}; // 0F then 71 zeros
    // Page with settings, A A A B, then 600 copies of B (255, 255, 90); second copy without
    // settings.
    const Bytes copy = cat({a, repeat(2), b, repeat(255), repeat(255), repeat(90)});
    const Bytes stream = cat(
        {Bytes(10, 0), settings(3, 0x9C, 4), copy, page_end(true, 2), copy, page_end(false, 0)});
    const auto r = decode_page_stream(stream);
    ASSERT_TRUE(r.ok()) << r.errors[0].message;
    EXPECT_EQ(r.sync_bytes, 10u);
    ASSERT_EQ(r.pages.size(), 2u);
    for (const auto& p : r.pages)
    {
        ASSERT_EQ(p.lines.size(), 3u + 1u + 600u);
        EXPECT_EQ(p.lines[2], Bytes(72, 0xAA));
        Bytes bl(72, 0);
        bl[0] = 0x0F;
        EXPECT_EQ(p.lines[3], bl);
        EXPECT_EQ(p.lines.back(), bl);
        EXPECT_EQ(p.repeat_commands, 4u);
        EXPECT_EQ(p.repeated_lines, 602u);
        // Settings persist into the second copy, which sent none of its own.
        EXPECT_EQ(p.settings.speed, 3);
        EXPECT_EQ(p.settings.density, -100);
        EXPECT_EQ(p.settings.path, 4);
        EXPECT_TRUE(p.complete);
    }
    EXPECT_TRUE(r.pages[0].sent.speed.has_value());
    EXPECT_FALSE(r.pages[1].sent.speed.has_value());
    EXPECT_TRUE(r.pages[0].form_feed);
    EXPECT_EQ(r.pages[0].cut, 2);
    EXPECT_FALSE(r.pages[1].form_feed);
    EXPECT_EQ(r.pages[1].cut, 0);
    EXPECT_EQ(r.pages[0].end_offset, r.pages[1].start_offset);
    EXPECT_EQ(r.pages[1].end_offset, stream.size());
    EXPECT_EQ(r.pages[0].wire_bytes + r.pages[1].wire_bytes + 10, stream.size());
}

TEST(PageDecoder, BlankPageWithoutLinesStillCounts)
{
    const auto r = decode_page_stream(cat({settings(0, 0x0A, 1), page_end(true, 2)}));
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(r.pages.size(), 1u);
    EXPECT_TRUE(r.pages[0].lines.empty());
    EXPECT_EQ(r.pages[0].settings.density, 10);
    EXPECT_TRUE(r.pages[0].bitmap().empty());
}

TEST(PageDecoder, RandomPagesRoundTripPixelForPixel)
{
    std::mt19937 rng(1234);
    for (int trial = 0; trial < 20; ++trial)
    {
        const std::size_t width = 72;
        const std::size_t height = 1 + rng() % 300;
        std::vector<Bytes> src(height, Bytes(width));
        Bytes stream = settings(static_cast<std::uint8_t>(rng()), 0x14, 2);
        const Bytes* last = nullptr;
        unsigned pending = 0;
        auto flush = [&]
        {
            while (pending > 0)
            {
                const unsigned k = std::min(pending, 255u);
                const Bytes r = repeat(static_cast<std::uint8_t>(k));
                stream.insert(stream.end(), r.begin(), r.end());
                pending -= k;
            }
        };
        for (std::size_t y = 0; y < height; ++y)
        {
            Bytes& line = src[y];
            const unsigned style = rng() % 4;
            if (style == 0 && y > 0)
                line = src[y - 1];
            else if (style == 1)
                for (auto& byte : line)
                    byte = static_cast<std::uint8_t>(rng() % 3 == 0 ? rng() : 0);
            else
                for (auto& byte : line)
                    byte = static_cast<std::uint8_t>(rng());
            if (last && line == *last)
            {
                ++pending;
                continue;
            }
            flush();
            const Bytes rle = rle8(line);
            const Bytes enc = rle.size() < width ? pieces(0x03, rle) : pieces(0x02, line);
            stream.insert(stream.end(), enc.begin(), enc.end());
            last = &line;
        }
        flush();
        const Bytes end = page_end(trial % 2, 2);
        stream.insert(stream.end(), end.begin(), end.end());

        const auto r = decode_page_stream(stream);
        ASSERT_TRUE(r.ok()) << r.errors[0].message;
        ASSERT_EQ(r.pages.size(), 1u);
        Bytes expect;
        for (const Bytes& l : src)
            expect.insert(expect.end(), l.begin(), l.end());
        ASSERT_EQ(r.pages[0].bitmap(), expect) << "trial " << trial;
    }
}

TEST(PageDecoder, MalformedStreamsReportTheOffendingOffset)
{
    const Bytes good = {0x1B, 0xF0, 0x02, 0x02, 0x01, 0x02};
    struct Case
    {
        const char* what;
        Bytes stream;
        std::size_t offset;
        std::size_t pages_kept;
    } cases[] = {
        {"unknown command", cat({good, {0x1B, 0xF0, 0x09, 0x00}}), 6, 1},
        {"not a page command", cat({good, {0x1B, 0xFF, 0x46, 0x00}}), 6, 1},
        {"stray byte", cat({good, {0x41}}), 6, 1},
        {"wrong operand length", {0x1B, 0xF0, 0x01, 0x02, 0x03, 0x04}, 0, 0},
        {"path without 00", {0x1B, 0xF0, 0x0D, 0x02, 0x01, 0x02}, 4, 1},
        {"repeat count 0", cat({good, repeat(0)}), 10, 1},
        {"repeat first", cat({repeat(3), good}), 0, 1},
        {"repeat after page end", cat({good, page_end(false, 0), repeat(1)}), 11, 2},
        {"RLE8 control 00", {0x1B, 0xF0, 0x03, 0x03, 0x81, 0x05, 0x00}, 6, 1},
        {"RLE8 literal too long", {0x1B, 0xF0, 0x03, 0x03, 0x05, 0x01, 0x02}, 4, 1},
        {"RLE8 run without byte", {0x1B, 0xF0, 0x03, 0x03, 0x01, 0x01, 0x85}, 6, 1},
        {"truncated command", cat({good, {0x1B, 0xF0, 0x02, 0x05, 1, 2}}), 6, 1},
        {"no page end", good, 6, 1},
        {"zero byte inside a page", cat({good, {0x00}, page_end(false, 0)}), 6, 1},
    };
    for (const Case& c : cases)
    {
        const auto r = decode_page_stream(c.stream);
        ASSERT_EQ(r.errors.size(), 1u) << c.what;
        EXPECT_EQ(r.errors[0].offset, c.offset) << c.what << ": " << r.errors[0].message;
        EXPECT_FALSE(r.errors[0].message.empty());
        EXPECT_EQ(r.pages.size(), c.pages_kept) << c.what;
    }
    // A broken page keeps the lines that came before the fault.
    const auto r = decode_page_stream(cat({good, good, {0x1B, 0xF0, 0x09, 0x00}}));
    ASSERT_EQ(r.pages.size(), 1u);
    EXPECT_EQ(r.pages[0].lines.size(), 2u);
    EXPECT_FALSE(r.pages[0].complete);
}

TEST(PageDecoder, PageFilesHoldTheImageAndSettings)
{
    Bytes stream = cat(
        {settings(3, 0x9C, 1), {0x1B, 0xF0, 0x02, 0x02, 0x80, 0x01}, repeat(1), page_end(true, 2)});
    const auto r = decode_page_stream(stream);
    ASSERT_TRUE(r.ok());
    const std::string dir = ::testing::TempDir() + "vp_page_files";
    std::string err;
    ASSERT_TRUE(qel_vp::write_page_files(r.pages[0], dir, &err)) << err;

    std::ifstream pbm(dir + "/page-001.pbm", std::ios::binary);
    const std::string pbm_text((std::istreambuf_iterator<char>(pbm)), {});
    std::string expect = "P4\n576 2\n";
    Bytes rows(144, 0);
    rows[0] = rows[72] = 0x80;
    rows[1] = rows[73] = 0x01;
    expect.append(rows.begin(), rows.end());
    EXPECT_EQ(pbm_text, expect);

    std::ifstream png(dir + "/page-001.png", std::ios::binary);
    const std::string png_text((std::istreambuf_iterator<char>(png)), {});
    ASSERT_GT(png_text.size(), 8u);
    EXPECT_EQ(png_text.substr(1, 3), "PNG");

    std::ifstream txt(dir + "/page-001.txt");
    const std::string settings_text((std::istreambuf_iterator<char>(txt)), {});
    EXPECT_NE(settings_text.find("density=-100\n"), std::string::npos);
    EXPECT_NE(settings_text.find("path=1\n"), std::string::npos);
    EXPECT_NE(settings_text.find("lines=2\n"), std::string::npos);
    EXPECT_NE(settings_text.find("cut=2\n"), std::string::npos);

    EXPECT_FALSE(qel_vp::write_png(r.pages[0], "/nonexistent-dir/x.png", &err));
    EXPECT_NE(err.find("/nonexistent-dir/x.png"), std::string::npos);
}

TEST(PageDecoder, Crc16CheckValues)
{
    const std::string text = "123456789";
    EXPECT_EQ(qel_vp::crc16({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}),
              0x906E);
    const Bytes abc = {'a', 'b', 'c'};
    EXPECT_EQ(qel_vp::crc16(abc), 0x9E25);
    EXPECT_EQ(qel_vp::crc16({}), 0x0000);
}
