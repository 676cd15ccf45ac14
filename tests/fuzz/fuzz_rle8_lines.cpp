// Fuzz target: dot lines through the shipped encoder (the dot line encoder
// and the streaming page encoder), checked against the tests' reference
// encoder and decoded again by the virtual printer's page decoder.  The
// decoded lines must equal the input lines, byte for byte.  Single lines also
// go through the shortest RLE8 parse, which must decode the same and never be
// longer than the first-pair scan.
//
// Input: byte 0 and the low bits of byte 1 choose the width of the single
// lines, the high bits of byte 1 the copy count and the page end, byte 2 how
// often the streamed output is taken; the rest are the dot bytes.
#include "fuzz_check.h"

#include "page_streamer.h"
#include "reference_encoder.h"
#include "virtual_printer.h"

#include <algorithm>
#include <vector>

namespace
{

using Line = std::vector<unsigned char>;

// Lines of `width` bytes cut from `bytes`; a last partial line is padded with zeros.
std::vector<Line> lo_cut_lines(const unsigned char* bytes, size_t n, uint32_t width,
                               size_t max_lines)
{
    std::vector<Line> lines;
    for (size_t at = 0; at < n && lines.size() < max_lines; at += width)
    {
        Line line(width, 0);
        std::copy_n(bytes + at, std::min<size_t>(width, n - at), line.begin());
        lines.push_back(std::move(line));
    }
    return lines;
}

// True when the printer reads `commands` + a page end as one page of `line`.
bool lo_printer_reads(TS_QEL_PAGE_STREAM commands, const Line& line)
{
    unsigned char end[QEL_PAGE_END_MAX];
    commands.insert(commands.end(), end, end + write_page_end(false, false, end));
    const qel_vp::DecodeResult decoded = qel_vp::decode_page_stream(commands);
    return decoded.ok() && decoded.pages.size() == 1 && decoded.pages[0].lines.size() == 1 &&
           decoded.pages[0].lines[0] == line;
}

// One graphics command per line, each decoded on its own page.  Any width is
// allowed here: with a page end after every line no piece can run into the
// next line.
void lo_check_single_lines(const std::vector<Line>& lines, uint32_t width)
{
    for (const Line& line : lines)
    {
        std::vector<unsigned char> buffer(dot_line_room(width), 0xA5);
        const uint32_t n = encode_dot_line(buffer.data(), line.data(), width);
        FUZZ_CHECK(n > 0);
        FUZZ_CHECK(n <= 2 * width + 4);
        TS_QEL_PAGE_STREAM stream(buffer.begin(), buffer.begin() + n);

        std::vector<unsigned char> reference(2 * width + 4, 0x5A);
        const uint32_t used = 0;
        reference.resize(set_graphics_dot_line(reference.data(), &used, line.data(), width));
        FUZZ_CHECK(stream == reference);
        FUZZ_CHECK(lo_printer_reads(stream, line));

        // The shortest parse: never longer (but for the empty piece it puts
        // behind a single full piece), and the printer reads the same line.
        std::vector<unsigned char> shortest(dot_line_room(width), 0xA5);
        shortest.resize(encode_dot_line(shortest.data(), line.data(), width, Rle8Parse::Shortest));
        FUZZ_CHECK(shortest.size() <= n + (n == 4 + 255 ? 4u : 0u));
        FUZZ_CHECK(lo_printer_reads(shortest, line));
    }
}

// The streaming encoder over a whole page, its output taken whenever it
// holds `piece` bytes or more, as the filter does, and compared with the
// reference copy loop and the input.  Lines stay below 97 bytes so that
// neither form of a line fills a 255-byte piece, which the printer would
// continue with the next line.
void lo_check_copy_loop(const std::vector<Line>& lines, uint32_t width, unsigned copies,
                        bool form_feed, size_t piece)
{
    std::vector<unsigned char> image;
    for (const Line& line : lines)
    {
        image.insert(image.end(), line.begin(), line.end());
    }
    cups_page_header2_t header{};
    header.cupsBytesPerLine = width;
    header.cupsWidth = width * 8;
    header.cupsHeight = static_cast<unsigned>(lines.size());
    header.cupsBitsPerPixel = 1;
    header.NumCopies = copies;
    set_header_value(header.AdvanceMedia, form_feed ? 1u : 0u);
    const uint32_t nr_lines = prepare_page(header, image.data(), width, header.cupsHeight);
    FUZZ_CHECK(nr_lines == lines.size());

    TS_QEL_PAGE_LAYOUT layout;
    layout.width_bytes = width;
    layout.height = static_cast<uint32_t>(lines.size());
    layout.f_form_feed = form_feed;
    TS_QEL_PAGE_STREAM whole;
    TS_QEL_PAGE_STREAM pieces;
    TS_QEL_PAGE_STREAMER streamer;
    for (unsigned copy_nr = 0; copy_nr < copies; ++copy_nr)
    {
        encode_page_copy(header, image.data(), nr_lines, whole);
        streamer_begin(streamer, layout);
        TS_QEL_PAGE_STREAM out;
        for (const Line& line : lines)
        {
            streamer_add_line(streamer, line.data(), out);
            if (out.size() >= piece)
            {
                pieces.insert(pieces.end(), out.begin(), out.end());
                out.clear();
            }
        }
        streamer_finish(streamer, out);
        pieces.insert(pieces.end(), out.begin(), out.end());
    }
    FUZZ_CHECK(whole == pieces);

    const qel_vp::DecodeResult decoded = qel_vp::decode_page_stream(whole);
    FUZZ_CHECK(decoded.ok());
    FUZZ_CHECK(decoded.pages.size() == copies);
    for (const qel_vp::Page& page : decoded.pages)
    {
        FUZZ_CHECK(page.complete);
        FUZZ_CHECK(page.form_feed == form_feed);
        FUZZ_CHECK(page.lines == lines);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    if (size < 4)
    {
        return 0;
    }
    const uint32_t width = 1 + (data[0] | ((data[1] & 0x07u) << 8)); // 1 .. 2048
    const unsigned copies = 1 + ((data[1] >> 4) & 0x01u);
    const bool form_feed = (data[1] & 0x80u) != 0;
    const size_t piece = data[2];
    const unsigned char* dots = data + 3;
    const size_t n = size - 3;

    lo_check_single_lines(lo_cut_lines(dots, n, width, 16), width);

    const uint32_t narrow = 1 + data[0] % 96;
    lo_check_copy_loop(lo_cut_lines(dots, n, narrow, 4096), narrow, copies, form_feed, piece);
    return 0;
}
