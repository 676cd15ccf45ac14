// Decoder of the printer's page command stream: settings, dot lines (plain and RLE8, in
// 255-byte pieces), repeated lines, form feed and page end.
#include "page_stream.h"

#include <algorithm>
#include <cstdio>

namespace qel_vp
{

namespace
{

// Command bytes after 1B F0.
constexpr std::uint8_t kCmdSpeed = 0x01;
constexpr std::uint8_t kCmdPlain = 0x02;
constexpr std::uint8_t kCmdRle8 = 0x03;
constexpr std::uint8_t kCmdRepeat = 0x04;
constexpr std::uint8_t kCmdDensity = 0x05;
constexpr std::uint8_t kCmdPageEnd = 0x06;
constexpr std::uint8_t kCmdPath = 0x0D;
constexpr std::uint8_t kFormFeed = 0x0C;
constexpr std::size_t kPieceMax = 255;

std::string hex2(unsigned v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X", v & 0xFFu);
    return buf;
}

// Operand length each fixed command must carry (0: any length).
std::size_t fixed_operand_length(std::uint8_t cmd)
{
    switch (cmd)
    {
    case kCmdSpeed:
    case kCmdDensity:
    case kCmdRepeat:
    case kCmdPageEnd:
        return 1;
    case kCmdPath:
        return 2;
    default:
        return 0;
    }
}

bool known_command(std::uint8_t cmd)
{
    return cmd == kCmdSpeed || cmd == kCmdPlain || cmd == kCmdRle8 || cmd == kCmdRepeat ||
           cmd == kCmdDensity || cmd == kCmdPageEnd || cmd == kCmdPath;
}

} // namespace

ParseStatus parse_page_command(std::span<const std::uint8_t> buf, PageCommand& out,
                               std::string& why)
{
    if (buf.empty())
        return ParseStatus::NeedMore;
    if (buf[0] == kFormFeed)
    {
        out = PageCommand{kFormFeed, {}, 1};
        return ParseStatus::Complete;
    }
    if (buf[0] != 0x1B)
    {
        why = "byte " + hex2(buf[0]) + " does not start a page command";
        return ParseStatus::Invalid;
    }
    if (buf.size() < 2)
        return ParseStatus::NeedMore;
    if (buf[1] != 0xF0)
    {
        why = "1B " + hex2(buf[1]) + " is not a page command (1B F0 expected)";
        return ParseStatus::Invalid;
    }
    if (buf.size() < 3)
        return ParseStatus::NeedMore;
    const std::uint8_t cmd = buf[2];
    if (!known_command(cmd))
    {
        why = "unknown page command 1B F0 " + hex2(cmd);
        return ParseStatus::Invalid;
    }
    if (buf.size() < 4)
        return ParseStatus::NeedMore;
    const std::size_t len = buf[3];
    const std::size_t fixed = fixed_operand_length(cmd);
    if (fixed != 0 && len != fixed)
    {
        why = "page command 1B F0 " + hex2(cmd) + " with operand length " + std::to_string(len) +
              " (" + std::to_string(fixed) + " expected)";
        return ParseStatus::Invalid;
    }
    if (buf.size() < 4 + len)
        return ParseStatus::NeedMore;
    out = PageCommand{cmd, buf.subspan(4, len), 4 + len};
    return ParseStatus::Complete;
}

bool decode_rle8(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& line,
                 std::size_t& bad_index, std::string& why)
{
    std::size_t i = 0;
    while (i < data.size())
    {
        const std::uint8_t control = data[i];
        if (control == 0)
        {
            bad_index = i;
            why = "RLE8 control byte 00";
            return false;
        }
        if (control & 0x80)
        {
            if (i + 1 >= data.size())
            {
                bad_index = i;
                why = "RLE8 run group " + hex2(control) + " without its byte at the line end";
                return false;
            }
            line.insert(line.end(), control & 0x7Fu, data[i + 1]);
            i += 2;
        }
        else
        {
            if (i + 1 + control > data.size())
            {
                bad_index = i;
                why = "RLE8 literal group of " + std::to_string(control) +
                      " bytes crosses the line end (" + std::to_string(data.size() - i - 1) +
                      " left)";
                return false;
            }
            line.insert(line.end(), data.begin() + static_cast<std::ptrdiff_t>(i + 1),
                        data.begin() + static_cast<std::ptrdiff_t>(i + 1 + control));
            i += 1 + control;
        }
    }
    return true;
}

std::vector<std::uint8_t> Page::bitmap(std::size_t width) const
{
    if (width == 0)
        width = width_bytes;
    std::vector<std::uint8_t> image(width * lines.size(), 0);
    for (std::size_t row = 0; row < lines.size(); ++row)
    {
        const auto& line = lines[row];
        std::copy_n(line.begin(), std::min(width, line.size()), image.begin() + row * width);
    }
    return image;
}

void PageAssembler::start_page_if_needed(std::size_t offset)
{
    if (page_open_)
        return;
    current_ = Page{};
    current_.index = next_index_;
    current_.settings = settings_;
    current_.start_offset = offset;
    page_open_ = true;
    have_last_line_ = false;
}

bool PageAssembler::end_line(DecodeError& error)
{
    if (line_kind_ == 0)
        return true;
    std::vector<std::uint8_t> line;
    if (line_kind_ == kCmdPlain)
    {
        line = std::move(line_data_);
    }
    else
    {
        std::size_t bad = 0;
        std::string why;
        if (!decode_rle8(line_data_, line, bad, why))
        {
            // Map the data index back to the stream offset of the piece that holds it.
            std::size_t offset = piece_offsets_.front().second;
            for (const auto& [start, at] : piece_offsets_)
                if (start <= bad)
                    offset = at + (bad - start);
            error = DecodeError{offset, why};
            line_kind_ = 0;
            line_data_.clear();
            piece_offsets_.clear();
            return false;
        }
    }
    if (line_kind_ == kCmdPlain)
        ++current_.plain_lines;
    else
        ++current_.rle_lines;
    current_.width_bytes = std::max(current_.width_bytes, line.size());
    current_.lines.push_back(std::move(line));
    have_last_line_ = true;
    line_kind_ = 0;
    line_continues_ = false;
    line_data_.clear();
    piece_offsets_.clear();
    return true;
}

bool PageAssembler::apply(const PageCommand& command, std::size_t offset, DecodeError& error)
{
    start_page_if_needed(offset);
    current_.wire_bytes += command.length;

    const bool piece = command.cmd == kCmdPlain || command.cmd == kCmdRle8;
    // A 255-byte piece is continued only by a piece of the same kind.
    if (line_kind_ != 0 && !(piece && line_continues_ && command.cmd == line_kind_))
    {
        if (!end_line(error))
            return false;
    }

    switch (command.cmd)
    {
    case kCmdPlain:
    case kCmdRle8:
        if (line_kind_ == 0)
            line_kind_ = command.cmd;
        piece_offsets_.emplace_back(line_data_.size(), offset + 4);
        line_data_.insert(line_data_.end(), command.operand.begin(), command.operand.end());
        ++current_.pieces;
        line_continues_ = command.operand.size() == kPieceMax;
        if (!line_continues_)
            return end_line(error);
        return true;
    case kCmdRepeat:
    {
        const unsigned k = command.operand[0];
        if (k == 0)
        {
            error = DecodeError{offset + 4, "repeat-line command with count 0"};
            return false;
        }
        if (!have_last_line_)
        {
            error = DecodeError{offset, "repeat-line command without a previous dot line"};
            return false;
        }
        const std::vector<std::uint8_t> last = current_.lines.back();
        for (unsigned n = 0; n < k; ++n)
            current_.lines.push_back(last);
        ++current_.repeat_commands;
        current_.repeated_lines += k;
        return true;
    }
    case kCmdSpeed:
        settings_.speed = command.operand[0];
        current_.settings.speed = current_.sent.speed = command.operand[0];
        return true;
    case kCmdDensity:
        settings_.density = static_cast<std::int8_t>(command.operand[0]);
        current_.settings.density = current_.sent.density = settings_.density;
        return true;
    case kCmdPath:
        if (command.operand[0] != 0)
        {
            error = DecodeError{offset + 4, "paper path command with first operand byte " +
                                                hex2(command.operand[0]) + " (00 expected)"};
            return false;
        }
        settings_.path = command.operand[1];
        current_.settings.path = current_.sent.path = command.operand[1];
        return true;
    case kFormFeed:
        current_.form_feed = true;
        return true;
    case kCmdPageEnd:
        current_.cut = command.operand[0];
        current_.complete = true;
        current_.end_offset = offset + command.length;
        completed_.push_back(std::move(current_));
        current_ = Page{};
        page_open_ = false;
        have_last_line_ = false;
        ++next_index_;
        return true;
    default:
        error = DecodeError{offset + 2, "unknown page command 1B F0 " + hex2(command.cmd)};
        return false;
    }
}

bool PageAssembler::finish(std::size_t offset, DecodeError& error)
{
    if (!end_line(error))
        return false;
    if (!page_open_)
        return true;
    current_.end_offset = offset;
    error = DecodeError{offset, "stream ends inside page " + std::to_string(current_.index + 1) +
                                    " (no page end 1B F0 06)"};
    completed_.push_back(std::move(current_));
    current_ = Page{};
    page_open_ = false;
    return false;
}

DecodeResult decode_page_stream(std::span<const std::uint8_t> stream)
{
    DecodeResult result;
    result.bytes = stream.size();
    PageAssembler assembler;
    std::size_t pos = 0;
    DecodeError error;
    bool failed = false;
    while (pos < stream.size() && !failed)
    {
        if (stream[pos] == 0x00 && !assembler.page_open())
        {
            ++result.sync_bytes;
            ++pos;
            continue;
        }
        PageCommand command;
        std::string why;
        switch (parse_page_command(stream.subspan(pos), command, why))
        {
        case ParseStatus::Complete:
            if (!assembler.apply(command, pos, error))
                failed = true;
            pos += command.length;
            break;
        case ParseStatus::NeedMore:
            error = DecodeError{pos, "stream ends inside a page command (" +
                                         std::to_string(stream.size() - pos) + " bytes left)"};
            failed = true;
            break;
        case ParseStatus::Invalid:
            error = DecodeError{pos, why};
            failed = true;
            break;
        }
    }
    if (!failed && !assembler.finish(stream.size(), error))
        failed = true;
    result.pages = assembler.take_completed();
    if (failed)
    {
        // Keep what the broken page had so far.
        if (assembler.page_open())
            result.pages.push_back(assembler.current());
        result.errors.push_back(error);
    }
    return result;
}

} // namespace qel_vp
