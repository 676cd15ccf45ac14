// The command boundary tracker against the printer emulator's own parser: a
// job cut at any byte, followed by the filler and the next job, must leave the
// next job's page intact and the printer without a single error.
#include "command_boundary.h"
#include "virtual_printer.h"

#include <gtest/gtest.h>

#include <random>

namespace
{
using Bytes = std::vector<uint8_t>;
using qel::boundary_feed;
using qel::boundary_filler;
using qel::CommandBoundary;

CommandBoundary after(const Bytes& written)
{
    CommandBoundary s;
    boundary_feed(s, written);
    return s;
}

Bytes cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes zeros(size_t n)
{
    return Bytes(n, 0x00);
}

const Bytes kPageEnd = {0x1B, 0xF0, 0x06, 0x01, 0x00};

TEST(CommandBoundary, FillerForEachPlaceInACommand)
{
    const Bytes plain72_cut = cat({0x1B, 0xF0, 0x02, 0x48}, zeros(10));
    struct Case
    {
        Bytes written;
        Bytes filler;
        unsigned missing;
        const char* text;
    } cases[] = {
        {{}, {}, 0, "on a command boundary"},
        {{0x00, 0x00, 0x1D, 0x61, 0x00, 0x01}, {}, 0, "on a command boundary"},
        {{0x1D, 0x61}, {0x00, 0x01}, 0, "inside an inquiry, 2 bytes missing"},
        {{0x1B}, {0xF0, 0x06, 0x01, 0x00}, 0, "after 1B"},
        {{0x1B, 0xF0}, {0x06, 0x01, 0x00}, 0, "after 1B F0"},
        {{0x1B, 0xF0, 0x0D},
         cat({0x02, 0x00, 0x04}, kPageEnd),
         0,
         "inside 1B F0 0D (paper path), operand length missing"},
        {{0x1B, 0xF0, 0x01, 0x01},
         cat({0x01}, kPageEnd),
         1,
         "inside 1B F0 01 (print speed), 1 operand bytes missing"},
        {plain72_cut, cat(zeros(62), kPageEnd), 62,
         "inside 1B F0 02 (plain dot data), 62 operand bytes missing"},
        // RLE8: the open run group gets its byte, 3 bytes left make one literal group.
        {{0x1B, 0xF0, 0x03, 0x05, 0x81},
         cat({0x00, 0x02, 0x00, 0x00}, kPageEnd),
         4,
         "inside 1B F0 03 (RLE8 dot data), 4 operand bytes missing"},
        // A 255-byte RLE8 piece ending inside a literal group: one more piece.
        {cat(cat({0x1B, 0xF0, 0x03, 0xFF}, Bytes(252, 0x81)), {0x05, 0x11, 0x22}),
         cat({0x1B, 0xF0, 0x03, 0x03, 0x00, 0x00, 0x00}, kPageEnd), 0,
         "between pieces of an RLE8 dot line, 3 group bytes missing"},
        {{0x1B, 0xF0, 0x06, 0x01},
         {0x00},
         1,
         "inside 1B F0 06 (page end), 1 operand bytes missing"},
        {{0x1B, 0xF0, 0x0D, 0x02, 0x00, 0x04},
         kPageEnd,
         0,
         "on a command boundary inside an unfinished page"},
        {{0x1B, 0xF0, 0x07}, {}, 0, "lost (bytes that are no printer command were sent)"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.text);
        const CommandBoundary s = after(c.written);
        EXPECT_EQ(boundary_filler(s), c.filler);
        EXPECT_EQ(s.operand_missing(), c.missing);
        EXPECT_EQ(qel::describe_boundary(s), c.text);
        EXPECT_EQ(s.on_boundary(),
                  c.text == std::string("on a command boundary") || c.filler == kPageEnd);
        // The state file keeps the state whole.
        const auto back = qel::boundary_from_text(qel::boundary_to_text(s));
        ASSERT_TRUE(back);
        EXPECT_EQ(boundary_filler(*back), c.filler);
        EXPECT_EQ(back->bytes, c.written.size());
    }
    EXPECT_FALSE(qel::boundary_from_text("qel-boundary 1 at=9 cmd=0"));
}

// A random job as the filter writes it: settings, dot lines plain and RLE8 of
// up to 600 bytes in 255-byte pieces (the last piece possibly empty), repeats,
// form feeds, page ends with and without a cut, synchronisation bytes between
// pages.
Bytes random_job(std::mt19937& rng)
{
    auto pick = [&](unsigned lo, unsigned hi)
    { return std::uniform_int_distribution<unsigned>(lo, hi)(rng); };
    Bytes out;
    auto command = [&](uint8_t cmd, const Bytes& operand)
    {
        out.insert(out.end(), {0x1B, 0xF0, cmd, uint8_t(operand.size())});
        out.insert(out.end(), operand.begin(), operand.end());
    };
    auto pieces = [&](uint8_t cmd, const Bytes& data)
    {
        size_t at = 0;
        do
        {
            const size_t n = std::min<size_t>(255, data.size() - at);
            command(cmd, Bytes(data.begin() + at, data.begin() + at + n));
            at += n;
            if (n < 255)
                break;
        } while (true);
    };
    for (unsigned page = pick(1, 3); page > 0; --page)
    {
        out.insert(out.end(), pick(0, 2), 0x00);
        command(0x01, {uint8_t(pick(1, 10))});
        command(0x05, {uint8_t(pick(0, 255))});
        command(0x0D, {0x00, uint8_t(pick(0, 4))});
        for (unsigned line = pick(0, 6); line > 0; --line)
        {
            Bytes data;
            const unsigned size = pick(1, 600);
            if (pick(0, 1))
            {
                for (unsigned i = 0; i < size; ++i)
                    data.push_back(uint8_t(pick(0, 255)));
                pieces(0x02, data);
            }
            else
            {
                while (data.size() < size)
                {
                    if (pick(0, 1))
                    {
                        const unsigned n = pick(1, 127);
                        data.push_back(uint8_t(n));
                        for (unsigned i = 0; i < n; ++i)
                            data.push_back(uint8_t(pick(0, 255)));
                    }
                    else
                        data.insert(data.end(), {uint8_t(pick(0x82, 0xFF)), uint8_t(pick(0, 255))});
                }
                pieces(0x03, data);
            }
            if (pick(0, 2) == 0)
                command(0x04, {uint8_t(pick(1, 255))});
            if (pick(0, 5) == 0)
                out.push_back(0x0C);
        }
        command(0x06, {uint8_t(pick(0, 1) * 2)});
    }
    return out;
}

TEST(CommandBoundary, JobCutAtEveryByteThenFillerThenNextJobPrintsRight)
{
    std::mt19937 rng(20240611);
    // The next customer's receipt: one text line, blank line, cut.
    const Bytes next = {0x1B, 0xF0, 0x0D, 0x02, 0x00, 0x04, 0x1B, 0xF0, 0x02,
                        0x04, 0x41, 0x42, 0x42, 0x43, 0x1B, 0xF0, 0x03, 0x02,
                        0xC8, 0x00, 0x1B, 0xF0, 0x06, 0x01, 0x02};
    const auto expected = qel_vp::decode_page_stream(next);
    ASSERT_TRUE(expected.ok());
    ASSERT_EQ(expected.pages.size(), 1u);

    for (int job = 0; job < 6; ++job)
    {
        const Bytes stream = random_job(rng);
        ASSERT_TRUE(qel_vp::decode_page_stream(stream).ok()) << "generator";
        for (size_t cut = 0; cut <= stream.size(); ++cut)
        {
            SCOPED_TRACE("job " + std::to_string(job) + " cut at " + std::to_string(cut));
            const Bytes written(stream.begin(), stream.begin() + cut);
            CommandBoundary s = after(written);
            const Bytes filler = boundary_filler(s);
            boundary_feed(s, filler);
            ASSERT_TRUE(s.on_boundary() && !s.page_open) << qel::describe_boundary(s);

            qel_vp::ProtocolEngine printer;
            printer.feed(written);
            printer.job_start();
            printer.feed(filler);
            printer.feed(next);
            ASSERT_TRUE(printer.errors().empty())
                << printer.errors().front().offset << ": " << printer.errors().front().message;
            ASSERT_FALSE(printer.pages().empty());
            const qel_vp::Page& last = printer.pages().back();
            ASSERT_EQ(last.lines, expected.pages[0].lines);
            ASSERT_EQ(last.cut, 2);
            // The tracker counted every page the printer completed.
            ASSERT_EQ(s.pages_ended + 1, printer.pages().size());
        }
    }
}

} // namespace
