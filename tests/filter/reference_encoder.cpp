// Reference encoder of the tests: the step-by-step RLE8 scan and the copy
// loop over a whole page image.
#include "reference_encoder.h"

#include <algorithm>
#include <cstring>

namespace
{

constexpr uint32_t k_piece_max = 255;

// Writes `data` as pieces "1B F0 cmd m" + m bytes: 255-byte pieces and a last
// piece of the remainder, which is written even when it is empty; a single
// piece when the data fits in one.
uint32_t lo_pieces(unsigned char cmd, const unsigned char* data, uint32_t length,
                   unsigned char* out)
{
    const uint32_t i_parts = (length <= k_piece_max) ? 0 : length / k_piece_max;
    const uint32_t i_rest = (length <= k_piece_max) ? length : length % k_piece_max;
    uint32_t written = 0;
    for (uint32_t i_counter = 0; i_counter <= i_parts; ++i_counter)
    {
        const uint32_t piece = (i_counter == i_parts) ? i_rest : k_piece_max;
        out[written++] = QEL_CMD_ESC;
        out[written++] = QEL_CMD_PREFIX;
        out[written++] = cmd;
        out[written++] = static_cast<unsigned char>(piece);
        std::memcpy(out + written, data + i_counter * k_piece_max, piece);
        written += piece;
    }
    return written;
}

} // namespace

bool reference_rle8_scan(const unsigned char* line, uint32_t n, unsigned char* target,
                         uint64_t capacity, uint64_t* length)
{
    uint64_t size = 0;
    uint32_t dot_line = 0;
    // A literal group: its length byte, then the bytes from dot_line to `end`.
    auto append_literal = [&](uint32_t end)
    {
        const uint32_t literal = end - dot_line;
        if (!(literal < capacity - size))
        {
            return false;
        }
        target[size++] = static_cast<unsigned char>(literal);
        std::memcpy(target + size, line + dot_line, literal);
        size += literal;
        return true;
    };
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
            if (run_start > dot_line && !append_literal(run_start))
            {
                return false;
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
            if (!append_literal(j))
            {
                return false;
            }
            dot_line = j;
        }
    }
    *length = size;
    return true;
}

uint32_t set_graphics_dot_line(unsigned char* cmd_buffer, const uint32_t* size_buffer,
                               const unsigned char* ub_dot_line, uint32_t dot_line_size)
{
    if (cmd_buffer == nullptr || size_buffer == nullptr || ub_dot_line == nullptr ||
        dot_line_size == 0)
    {
        return 0;
    }
    const uint32_t n = dot_line_size;
    const uint64_t target = graphics_target_size(n);
    std::vector<unsigned char> ub_target(target);
    uint64_t rle_length = 0;
    std::vector<unsigned char> pub_data(target + 4 * (target / k_piece_max + 1));
    uint32_t i_new_size = 0;
    if (reference_rle8_scan(ub_dot_line, n, ub_target.data(), target, &rle_length) &&
        rle_length < n)
    {
        i_new_size = lo_pieces(QEL_CMD_COMPRESSED_RLE8, ub_target.data(),
                               static_cast<uint32_t>(rle_length), pub_data.data());
    }
    else if (target >= static_cast<uint64_t>(n) + 4)
    {
        i_new_size = lo_pieces(QEL_CMD_UNCOMPRESSED, ub_dot_line, n, pub_data.data());
    }
    std::memcpy(cmd_buffer + *size_buffer, pub_data.data(), i_new_size);
    return i_new_size;
}

uint32_t prepare_page(const cups_page_header2_t& header, const unsigned char* image_buffer,
                      uint32_t page_width_bytes, uint32_t page_height)
{
    uint32_t nr_of_rows =
        (header.AdvanceDistance < page_height) ? page_height - header.AdvanceDistance : 0;
    if (header_value(header.Duplex) == 1 && image_buffer != nullptr)
    {
        uint32_t empty_line_counter = 0;
        for (uint32_t row = nr_of_rows; row > 0; --row)
        {
            const unsigned char* line =
                image_buffer + static_cast<size_t>(row - 1) * page_width_bytes;
            const bool f_blank =
                std::all_of(line, line + page_width_bytes, [](unsigned char b) { return b == 0; });
            if (!f_blank)
            {
                break;
            }
            ++empty_line_counter;
        }
        nr_of_rows -= empty_line_counter;
    }
    return nr_of_rows;
}

uint32_t set_repeat_dot_line(unsigned char* cmd_buffer, const uint32_t* size_buffer,
                             uint32_t duplicate_counter)
{
    if (cmd_buffer == nullptr || size_buffer == nullptr || duplicate_counter == 0)
    {
        return 0;
    }
    unsigned char* out = cmd_buffer + *size_buffer;
    uint32_t written = 0;
    while (duplicate_counter > 0)
    {
        const uint32_t k = std::min<uint32_t>(duplicate_counter, 255);
        out[written++] = QEL_CMD_ESC;
        out[written++] = QEL_CMD_PREFIX;
        out[written++] = QEL_CMD_REPEAT_LINE;
        out[written++] = 0x01;
        out[written++] = static_cast<unsigned char>(k);
        duplicate_counter -= k;
    }
    return written;
}

void output_lines(const unsigned char* cmd_buffer, uint32_t size_buffer, TS_QEL_PAGE_STREAM& stream)
{
    if (cmd_buffer != nullptr && size_buffer > 0)
    {
        stream.insert(stream.end(), cmd_buffer, cmd_buffer + size_buffer);
    }
}

uint32_t first_printing_line(const cups_page_header2_t& header, const unsigned char* image_buffer,
                             uint32_t page_width_bytes, uint32_t nr_printing_lines)
{
    if (!header_trims_top(header) || image_buffer == nullptr)
    {
        return 0;
    }
    uint32_t row = 0;
    for (; row < nr_printing_lines; ++row)
    {
        const unsigned char* line = image_buffer + static_cast<size_t>(row) * page_width_bytes;
        if (!std::all_of(line, line + page_width_bytes, [](unsigned char b) { return b == 0; }))
        {
            break;
        }
    }
    return row;
}

void end_page(const cups_page_header2_t& header, TS_QEL_PAGE_STREAM& stream)
{
    if (header_value(header.AdvanceMedia) == 1)
    {
        stream.push_back(QEL_CMD_FORM_FEED);
    }
    stream.insert(stream.end(),
                  {QEL_CMD_ESC, QEL_CMD_PREFIX, QEL_CMD_CUT, 0x01,
                   static_cast<unsigned char>(header_value(header.CutMedia) != 0 ? 2 : 0)});
}

void copy_begin(TS_QEL_COPY_ENCODER& copy, const cups_page_header2_t& header,
                const unsigned char* image_buffer, uint32_t nr_printing_lines)
{
    copy.header = &header;
    copy.image_buffer = image_buffer;
    copy.page_width_bytes = header.cupsBytesPerLine;
    copy.nr_printing_lines = (image_buffer != nullptr) ? nr_printing_lines : 0;
    copy.current_line = 0;
    copy.duplicate_line_counter = 0;
    copy.f_has_last_line = false;
    copy.f_finished = false;
    copy.dot_last_line.assign(static_cast<size_t>(copy.page_width_bytes) + 1, 0);
    copy.cmd_buffer.assign(command_buffer_size(copy.page_width_bytes, header.cupsHeight), 0);
}

bool copy_encode(TS_QEL_COPY_ENCODER& copy, TS_QEL_PAGE_STREAM& stream, size_t min_bytes)
{
    if (copy.f_finished)
    {
        return true;
    }
    const uint32_t width = copy.page_width_bytes;
    const size_t start_size = stream.size();
    unsigned char* cmd_buffer = copy.cmd_buffer.data();
    while (copy.current_line < copy.nr_printing_lines)
    {
        const unsigned char* line =
            copy.image_buffer + static_cast<size_t>(copy.current_line) * width;
        uint32_t size_buffer = 0;
        if (copy.f_has_last_line && std::memcmp(line, copy.dot_last_line.data(), width) == 0)
        {
            ++copy.duplicate_line_counter;
        }
        else
        {
            if (copy.duplicate_line_counter != 0)
            {
                size_buffer +=
                    set_repeat_dot_line(cmd_buffer, &size_buffer, copy.duplicate_line_counter);
            }
            size_buffer += set_graphics_dot_line(cmd_buffer, &size_buffer, line, width);
            copy.duplicate_line_counter = 0;
            std::memcpy(copy.dot_last_line.data(), line, width);
            copy.f_has_last_line = true;
        }
        output_lines(cmd_buffer, size_buffer, stream);
        ++copy.current_line;
        if (stream.size() - start_size >= min_bytes && copy.current_line < copy.nr_printing_lines)
        {
            return false;
        }
    }

    uint32_t size_buffer = 0;
    if (copy.duplicate_line_counter != 0)
    {
        size_buffer += set_repeat_dot_line(cmd_buffer, &size_buffer, copy.duplicate_line_counter);
        copy.duplicate_line_counter = 0;
        output_lines(cmd_buffer, size_buffer, stream);
    }
    end_page(*copy.header, stream);
    copy.f_finished = true;
    return true;
}

void copy_abandon(TS_QEL_COPY_ENCODER& copy, TS_QEL_PAGE_STREAM& stream)
{
    if (copy.f_finished || copy.header == nullptr)
    {
        return;
    }
    end_page(*copy.header, stream);
    copy.f_finished = true;
}

void encode_page_copy(const cups_page_header2_t& header, const unsigned char* image_buffer,
                      uint32_t nr_printing_lines, TS_QEL_PAGE_STREAM& stream)
{
    TS_QEL_COPY_ENCODER copy;
    copy_begin(copy, header, image_buffer, nr_printing_lines);
    copy_encode(copy, stream, SIZE_MAX);
}

cups_page_header2_t page_header(uint32_t width, uint32_t height)
{
    cups_page_header2_t header;
    std::memset(&header, 0, sizeof header);
    header.cupsBytesPerLine = width;
    header.cupsHeight = height;
    header.cupsWidth = width * 8;
    header.NumCopies = 1;
    return header;
}
