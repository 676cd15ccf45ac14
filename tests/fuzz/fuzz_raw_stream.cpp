// Fuzz target: the command boundary tracker that follows raw command streams
// on their way to the printer (the backend's and the printer application's
// raw intake).
//
// Any bytes, fed in any pieces, leave the tracker where feeding them whole
// leaves it; its state line reads back as the same state; its filler brings a
// stream it still follows to a command boundary outside a page.
//
// A valid page command stream (built from the input) never loses the tracker,
// and cut anywhere and completed with the filler it decodes in the printer
// emulator's decoder without error: the pages ended before the cut come out
// unchanged, the filler ends the page the cut left open without printing
// anything the host did not send.
//
// Input: byte 0 chooses the mode (low bit: arbitrary bytes or a built stream)
// and the piece sizes, byte 1 the cut point of a built stream; the rest are
// the stream bytes or the recipe of the built stream.
#include "fuzz_check.h"

#include "command_boundary.h"
#include "virtual_printer.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace
{

using Bytes = std::vector<uint8_t>;

struct LoReader
{
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool more() const { return at < size; }
    uint8_t next() { return at < size ? data[at++] : 0; }
};

bool lo_same_state(const qel::CommandBoundary& a, const qel::CommandBoundary& b)
{
    return qel::boundary_to_text(a) == qel::boundary_to_text(b);
}

// Feeds `bytes` in pieces of 0 to `max_piece` bytes (sizes from a small
// generator seeded by `seed`).
qel::CommandBoundary lo_feed_in_pieces(std::span<const uint8_t> bytes, uint32_t seed,
                                       size_t max_piece)
{
    qel::CommandBoundary state;
    uint32_t x = seed * 2654435761u + 1;
    size_t at = 0;
    while (at < bytes.size())
    {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        const size_t piece = std::min<size_t>(x % (max_piece + 1), bytes.size() - at);
        qel::boundary_feed(state, bytes.subspan(at, piece));
        at += piece;
    }
    return state;
}

// What holds for every state: the state line reads back, the description is
// there, the filler ends at a boundary outside a page (or is empty for a lost
// stream).
void lo_check_state(const qel::CommandBoundary& state)
{
    const auto text = qel::boundary_to_text(state);
    const auto back = qel::boundary_from_text(text);
    FUZZ_CHECK(back.has_value());
    FUZZ_CHECK(qel::boundary_to_text(*back) == text);
    FUZZ_CHECK(!qel::describe_boundary(state).empty());
    FUZZ_CHECK(state.operand_missing() <= 255);

    const Bytes filler = qel::boundary_filler(state);
    if (state.at == qel::ParserAt::Unknown)
    {
        FUZZ_CHECK(filler.empty());
        return;
    }
    // At most: the rest of a command, one more RLE8 piece and a page end.
    FUZZ_CHECK(filler.size() <= 3 * 259);
    qel::CommandBoundary after = state;
    qel::boundary_feed(after, filler);
    FUZZ_CHECK(after.on_boundary());
    FUZZ_CHECK(!after.page_open);
    FUZZ_CHECK(qel::boundary_filler(after).empty());
    if (state.on_boundary() && !state.page_open)
        FUZZ_CHECK(filler.empty());
}

void lo_check_arbitrary(std::span<const uint8_t> stream, uint8_t mode)
{
    qel::CommandBoundary whole;
    qel::boundary_feed(whole, stream);
    FUZZ_CHECK(whole.bytes == stream.size());
    const qel::CommandBoundary pieces = lo_feed_in_pieces(stream, mode, 1 + (mode >> 2) % 64);
    FUZZ_CHECK(lo_same_state(whole, pieces));
    lo_check_state(whole);
}

// Appends the command(s) of one dot line: 255-byte pieces and a last piece of
// the remainder, written even when empty.
void lo_append_line(Bytes& out, uint8_t kind, const Bytes& data)
{
    size_t at = 0;
    for (;;)
    {
        const size_t piece = std::min<size_t>(255, data.size() - at);
        out.insert(out.end(), {0x1B, 0xF0, kind, static_cast<uint8_t>(piece)});
        out.insert(out.end(), data.begin() + at, data.begin() + at + piece);
        at += piece;
        if (piece < 255)
            return;
    }
}

// A valid page command stream from the recipe bytes.
Bytes lo_build_stream(LoReader& recipe)
{
    Bytes out;
    bool page_open = false;
    bool line_in_page = false;
    while (recipe.more() && out.size() < 16384)
    {
        switch (recipe.next() % 9)
        {
        case 0:
            out.insert(out.end(), {0x1B, 0xF0, 0x01, 0x01, recipe.next()});
            page_open = true;
            break;
        case 1:
            out.insert(out.end(), {0x1B, 0xF0, 0x05, 0x01, recipe.next()});
            page_open = true;
            break;
        case 2:
            out.insert(out.end(), {0x1B, 0xF0, 0x0D, 0x02, 0x00, recipe.next()});
            page_open = true;
            break;
        case 3:
        {
            const size_t n = recipe.next() | (recipe.next() & 1u) << 8;
            Bytes data(n);
            for (auto& b : data)
                b = recipe.next();
            lo_append_line(out, 0x02, data);
            page_open = line_in_page = true;
            break;
        }
        case 4:
        {
            Bytes data;
            for (unsigned groups = recipe.next() % 24; groups > 0; --groups)
            {
                const uint8_t control = std::max<uint8_t>(recipe.next(), 1);
                data.push_back(control);
                for (unsigned k = (control & 0x80) ? 1 : control; k > 0; --k)
                    data.push_back(recipe.next());
            }
            lo_append_line(out, 0x03, data);
            page_open = line_in_page = true;
            break;
        }
        case 5:
            if (line_in_page)
                out.insert(out.end(),
                           {0x1B, 0xF0, 0x04, 0x01, std::max<uint8_t>(recipe.next(), 1)});
            break;
        case 6:
            out.push_back(0x0C);
            page_open = true;
            break;
        case 7:
            out.insert(out.end(), {0x1B, 0xF0, 0x06, 0x01, recipe.next()});
            page_open = line_in_page = false;
            break;
        case 8:
            if (!page_open)
                out.push_back(0x00);
            break;
        }
    }
    if (page_open)
        out.insert(out.end(), {0x1B, 0xF0, 0x06, 0x01, 0x02});
    return out;
}

void lo_check_built(LoReader& recipe, uint8_t mode, uint8_t cut_byte)
{
    const Bytes stream = lo_build_stream(recipe);
    const qel_vp::DecodeResult full = qel_vp::decode_page_stream(stream);
    FUZZ_CHECK(full.ok());

    const size_t cut = stream.size() * cut_byte / 255;
    const std::span<const uint8_t> sent(stream.data(), cut);
    qel::CommandBoundary state = lo_feed_in_pieces(sent, mode, 1 + (mode >> 2) % 300);
    qel::CommandBoundary whole;
    qel::boundary_feed(whole, sent);
    FUZZ_CHECK(lo_same_state(state, whole));
    FUZZ_CHECK(state.at != qel::ParserAt::Unknown);
    lo_check_state(state);

    Bytes completed(sent.begin(), sent.end());
    const Bytes filler = qel::boundary_filler(state);
    completed.insert(completed.end(), filler.begin(), filler.end());
    qel::boundary_feed(state, filler);
    const qel_vp::DecodeResult decoded = qel_vp::decode_page_stream(completed);
    FUZZ_CHECK(decoded.ok());
    FUZZ_CHECK(decoded.pages.size() == state.pages_ended);

    // Pages the host ended before the cut print as they would have.
    size_t ended_before_cut = 0;
    for (const auto& page : full.pages)
        if (page.end_offset <= cut)
            ++ended_before_cut;
    FUZZ_CHECK(decoded.pages.size() >= ended_before_cut);
    for (size_t i = 0; i < ended_before_cut; ++i)
    {
        FUZZ_CHECK(decoded.pages[i].lines == full.pages[i].lines);
        FUZZ_CHECK(decoded.pages[i].cut == full.pages[i].cut);
    }
    // The filler's page end does not cut, and adds no dot line with ink.
    if (decoded.pages.size() > ended_before_cut)
    {
        FUZZ_CHECK(decoded.pages.size() == ended_before_cut + 1);
        const auto& last = decoded.pages.back();
        FUZZ_CHECK(last.cut == 0);
        const auto& partial = full.pages[ended_before_cut].lines;
        FUZZ_CHECK(last.lines.size() <= partial.size());
        for (size_t i = 0; i < last.lines.size(); ++i)
        {
            const auto& line = last.lines[i];
            for (size_t j = 0; j < line.size(); ++j)
            {
                const uint8_t sent_dots = j < partial[i].size() ? partial[i][j] : 0;
                FUZZ_CHECK((line[j] & ~sent_dots) == 0);
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t mode = data[0];
    if ((mode & 1) == 0)
    {
        lo_check_arbitrary(std::span<const uint8_t>(data + 1, size - 1), mode);
    }
    else
    {
        LoReader recipe{data + 2, size - 2};
        lo_check_built(recipe, mode, data[1]);
    }
    return 0;
}
