// Width-aware decoder of the page command stream used by the filter tests.
#include "line_decoder.h"

#include <cstdio>

namespace qel_filter_test
{

bool decode_rle8(const unsigned char* data, size_t size, std::vector<unsigned char>& out)
{
    size_t i = 0;
    while (i < size)
    {
        const unsigned char c = data[i++];
        if (c == 0 || c == 0x80 || c == 0x81)
        {
            return false; // the encoder never writes empty groups or runs of 0 or 1
        }
        if (c & 0x80)
        {
            if (i >= size)
            {
                return false;
            }
            out.insert(out.end(), c & 0x7F, data[i++]);
        }
        else
        {
            if (i + c > size)
            {
                return false;
            }
            out.insert(out.end(), data + i, data + i + c);
            i += c;
        }
    }
    return true;
}

namespace
{

std::string lo_at(size_t offset, const char* what)
{
    char text[128];
    std::snprintf(text, sizeof text, "offset %zu: %s", offset, what);
    return text;
}

} // namespace

TS_DECODED_STREAM decode_stream(const std::vector<unsigned char>& s, size_t width)
{
    TS_DECODED_STREAM result;
    TS_DECODED_COPY copy;
    bool f_copy_open = false;
    size_t pos = 0;
    auto fail = [&](size_t at, const char* what)
    {
        result.error = lo_at(at, what);
        return result;
    };

    while (pos < s.size())
    {
        if (s[pos] == 0x0C)
        {
            copy.form_feed = true;
            f_copy_open = true;
            ++pos;
            continue;
        }
        if (pos + 4 > s.size() || s[pos] != 0x1B || s[pos + 1] != 0xF0)
        {
            return fail(pos, "not a command");
        }
        const unsigned char cmd = s[pos + 2];
        const size_t len = s[pos + 3];
        if (pos + 4 + len > s.size())
        {
            return fail(pos, "command runs past the end");
        }
        const unsigned char* operand = s.data() + pos + 4;
        switch (cmd)
        {
        case 0x01:
        case 0x05:
            if (len != 1)
            {
                return fail(pos, "bad setting length");
            }
            (cmd == 0x01 ? result.speed : result.density) = operand[0];
            ++result.settings_commands;
            pos += 5;
            break;
        case 0x0D:
            if (len != 2 || operand[0] != 0)
            {
                return fail(pos, "bad path command");
            }
            result.path = operand[1];
            ++result.settings_commands;
            pos += 6;
            break;
        case 0x04:
            if (len != 1 || operand[0] == 0 || copy.lines.empty())
            {
                return fail(pos, "bad repeat command");
            }
            for (int k = 0; k < operand[0]; ++k)
            {
                copy.lines.push_back(copy.lines.back());
            }
            pos += 5;
            break;
        case 0x06:
            if (len != 1)
            {
                return fail(pos, "bad cut command");
            }
            copy.cut = operand[0];
            result.copies.push_back(copy);
            copy = TS_DECODED_COPY{};
            f_copy_open = false;
            pos += 5;
            break;
        case 0x02:
        case 0x03:
        {
            // Collect the pieces of one dot line: a single piece of up to 255
            // bytes, or 255-byte pieces closed by a shorter (maybe empty) one.
            std::vector<unsigned char> data;
            size_t pieces = 0;
            for (;;)
            {
                if (pos + 4 > s.size() || s[pos] != 0x1B || s[pos + 1] != 0xF0 || s[pos + 2] != cmd)
                {
                    return fail(pos, "graphics line ends without its last piece");
                }
                const size_t piece = s[pos + 3];
                if (pos + 4 + piece > s.size())
                {
                    return fail(pos, "piece runs past the end");
                }
                data.insert(data.end(), s.begin() + pos + 4, s.begin() + pos + 4 + piece);
                pos += 4 + piece;
                ++pieces;
                if (piece < 255)
                {
                    break;
                }
                // A single 255-byte piece is a whole line when it already
                // makes one; otherwise more pieces must follow.
                if (pieces == 1)
                {
                    std::vector<unsigned char> probe;
                    const bool f_whole =
                        (cmd == 0x02)
                            ? data.size() == width
                            : decode_rle8(data.data(), data.size(), probe) && probe.size() == width;
                    if (f_whole)
                    {
                        break;
                    }
                }
            }
            std::vector<unsigned char> line;
            if (cmd == 0x02)
            {
                line = data;
                if (data.size() > 255 && data.size() % 255 != 0 && pieces != data.size() / 255 + 1)
                {
                    return fail(pos, "plain line cut into wrong pieces");
                }
            }
            else
            {
                if (data.size() >= width)
                {
                    return fail(pos, "RLE8 data not smaller than the line");
                }
                if (!decode_rle8(data.data(), data.size(), line))
                {
                    return fail(pos, "malformed RLE8 data");
                }
            }
            if (line.size() != width)
            {
                return fail(pos, "dot line of the wrong width");
            }
            copy.lines.push_back(line);
            f_copy_open = true;
            break;
        }
        default:
            return fail(pos, "unknown command");
        }
    }
    if (f_copy_open || !copy.lines.empty())
    {
        result.error = lo_at(pos, "stream ends inside a copy");
    }
    return result;
}

} // namespace qel_filter_test
