// command_boundary.cpp - the printer's command parser, followed byte by byte.
#include "command_boundary.h"

#include <cinttypes>
#include <cstdio>

namespace qel
{

namespace
{

constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kPagePrefix = 0xF0;
constexpr uint8_t kFormFeed = 0x0C;
constexpr uint8_t kInquiry = 0x1D;
constexpr uint8_t kInquirySecond = 0x61;

constexpr uint8_t kSpeed = 0x01;
constexpr uint8_t kPlain = 0x02;
constexpr uint8_t kRle8 = 0x03;
constexpr uint8_t kRepeat = 0x04;
constexpr uint8_t kDensity = 0x05;
constexpr uint8_t kPageEnd = 0x06;
constexpr uint8_t kPath = 0x0D;
constexpr uint8_t kPieceMax = 255;

// The status inquiry the filler completes an unfinished inquiry with.
constexpr uint8_t kStatusInquiry[4] = {kInquiry, kInquirySecond, 0x00, 0x01};

// The printer's 1B F0 commands: code, operand length when it is fixed (0:
// any) and the name the diagnostics use.
struct CommandInfo
{
    uint8_t code;
    unsigned fixed_length;
    const char* name;
};
constexpr CommandInfo kCommands[] = {
    {kSpeed, 1, "print speed"},  {kPlain, 0, "plain dot data"},  {kRle8, 0, "RLE8 dot data"},
    {kRepeat, 1, "repeat line"}, {kDensity, 1, "print density"}, {kPageEnd, 1, "page end"},
    {kPath, 2, "paper path"},
};

const CommandInfo* command_info(uint8_t cmd)
{
    for (const CommandInfo& info : kCommands)
        if (info.code == cmd)
            return &info;
    return nullptr;
}

bool known_command(uint8_t cmd)
{
    return command_info(cmd) != nullptr;
}

unsigned fixed_length(uint8_t cmd)
{
    const CommandInfo* info = command_info(cmd);
    return info ? info->fixed_length : 0;
}

const char* command_name(uint8_t cmd)
{
    const CommandInfo* info = command_info(cmd);
    return info ? info->name : "unknown";
}

bool rle_group_open(const CommandBoundary& s)
{
    return !s.rle_control_next;
}

// A dot line ends (any command but a continuing piece of its kind): an RLE8
// line must end on a group boundary.
void end_line(CommandBoundary& s)
{
    if (s.line_kind == kRle8 && rle_group_open(s))
        s.at = ParserAt::Unknown;
    s.line_kind = 0;
    s.rle_owed = 0;
    s.rle_control_next = true;
}

void command_complete(CommandBoundary& s)
{
    s.at = ParserAt::Boundary;
    if (s.command == kPlain || s.command == kRle8)
    {
        if (s.operand_size == kPieceMax)
            s.line_kind = s.command; // a following piece of this kind continues the line
        else
        {
            s.line_kind = s.command;
            end_line(s);
        }
    }
    else if (s.command == kPageEnd)
    {
        s.page_open = false;
        ++s.pages_ended;
    }
}

// Only a 255-byte piece continues its line, so a shorter piece must end on a
// group boundary. Every group takes at least two bytes: once the open group
// needs more than the rest of the piece, or leaves exactly one byte after it,
// the line can only end inside a group, whatever follows.
bool rle_piece_cannot_end(const CommandBoundary& s)
{
    if (s.operand_size == kPieceMax)
        return false;
    const unsigned left = s.operand_size - s.operand_seen;
    const unsigned owed = rle_group_open(s) ? s.rle_owed : 0;
    return owed > left || left - owed == 1;
}

void rle_data_byte(CommandBoundary& s, uint8_t b)
{
    if (s.rle_control_next)
    {
        if (b == 0)
        {
            s.at = ParserAt::Unknown; // the printer has no group with control byte 00
            return;
        }
        s.rle_owed = (b & 0x80) ? 1 : b;
        s.rle_control_next = false;
        if (rle_piece_cannot_end(s))
            s.at = ParserAt::Unknown;
        return;
    }
    if (--s.rle_owed == 0)
        s.rle_control_next = true;
}

void feed_byte(CommandBoundary& s, uint8_t b)
{
    switch (s.at)
    {
    case ParserAt::Boundary:
        if (b == kEsc)
            s.at = ParserAt::Escape;
        else if (b == kFormFeed)
        {
            end_line(s);
            if (s.at != ParserAt::Unknown)
                s.page_open = true;
        }
        else if (b == kInquiry)
        {
            s.at = ParserAt::Inquiry;
            s.inquiry_seen = 1;
        }
        else if (b != 0x00) // synchronisation bytes are skipped
            s.at = ParserAt::Unknown;
        return;
    case ParserAt::Escape:
        s.at = b == kPagePrefix ? ParserAt::Prefix : ParserAt::Unknown;
        return;
    case ParserAt::Prefix:
        if (!known_command(b))
        {
            s.at = ParserAt::Unknown;
            return;
        }
        if (s.line_kind != 0 && b != s.line_kind)
        {
            end_line(s);
            if (s.at == ParserAt::Unknown)
                return;
        }
        s.command = b;
        s.page_open = true;
        s.at = ParserAt::CommandByte;
        return;
    case ParserAt::CommandByte:
    {
        const unsigned fixed = fixed_length(s.command);
        if (fixed != 0 && b != fixed)
        {
            s.at = ParserAt::Unknown;
            return;
        }
        s.operand_size = b;
        s.operand_seen = 0;
        s.at = ParserAt::Operand;
        if (s.command == kRle8 && rle_piece_cannot_end(s))
        {
            s.at = ParserAt::Unknown;
            return;
        }
        if (b == 0)
            command_complete(s);
        return;
    }
    case ParserAt::Operand:
        ++s.operand_seen;
        if (s.command == kRle8)
            rle_data_byte(s, b);
        if (s.at != ParserAt::Unknown && s.operand_seen == s.operand_size)
            command_complete(s);
        return;
    case ParserAt::Inquiry:
        if (s.inquiry_seen == 1 && b != kInquirySecond)
        {
            s.at = ParserAt::Unknown;
            return;
        }
        if (++s.inquiry_seen == sizeof kStatusInquiry)
        {
            s.at = ParserAt::Boundary;
            s.inquiry_seen = 0;
        }
        return;
    case ParserAt::Unknown:
        return;
    }
}

// The next filler byte for a parser that is not done, or nullopt when done.
std::optional<uint8_t> next_filler_byte(const CommandBoundary& s)
{
    switch (s.at)
    {
    case ParserAt::Boundary:
        if ((s.line_kind == kRle8 && rle_group_open(s)) || s.page_open)
            return kEsc;
        return std::nullopt;
    case ParserAt::Escape:
        return kPagePrefix;
    case ParserAt::Prefix:
        // A line that owes RLE8 bytes gets another piece; otherwise the page ends.
        return s.line_kind == kRle8 && rle_group_open(s) ? kRle8 : kPageEnd;
    case ParserAt::CommandByte:
        if (fixed_length(s.command) != 0)
            return static_cast<uint8_t>(fixed_length(s.command));
        if (s.command == kRle8 && s.line_kind == kRle8 && rle_group_open(s))
            return s.rle_owed; // just the bytes the open group needs
        return 0;              // an empty piece
    case ParserAt::Operand:
        switch (s.command)
        {
        case kSpeed:
        case kRepeat:
            return 1;
        case kPath:
            return s.operand_seen == 0 ? 0x00 : 0x04;
        case kRle8:
        {
            if (rle_group_open(s))
                return 0x00; // blank dots for the open group
            const unsigned left = s.operand_size - s.operand_seen;
            // Groups that fill the piece exactly: 02 00 00 once for an odd
            // count, then 81 00 (one blank byte) pairs. A single byte left
            // in a 255-byte piece opens a group the next piece finishes.
            return left % 2 == 1 && left >= 3 ? 0x02 : 0x81;
        }
        default: // density 0, page end without a cut, plain blank dots
            return 0x00;
        }
    case ParserAt::Inquiry:
        return kStatusInquiry[s.inquiry_seen];
    case ParserAt::Unknown:
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

bool CommandBoundary::on_boundary() const
{
    return at == ParserAt::Boundary && !(line_kind == kRle8 && rle_group_open(*this));
}

unsigned CommandBoundary::operand_missing() const
{
    return at == ParserAt::Operand ? unsigned(operand_size) - operand_seen : 0u;
}

void boundary_feed(CommandBoundary& state, std::span<const uint8_t> bytes)
{
    for (uint8_t b : bytes)
        feed_byte(state, b);
    state.bytes += bytes.size();
}

std::vector<uint8_t> boundary_filler(const CommandBoundary& state)
{
    std::vector<uint8_t> out;
    CommandBoundary s = state;
    // Each command of the filler is at most 259 bytes; three of them at most.
    for (int guard = 0; guard < 1024; ++guard)
    {
        const auto b = next_filler_byte(s);
        if (!b)
            break;
        out.push_back(*b);
        feed_byte(s, *b);
    }
    return out;
}

std::string describe_boundary(const CommandBoundary& s)
{
    char text[160];
    switch (s.at)
    {
    case ParserAt::Boundary:
        if (s.line_kind == kRle8 && rle_group_open(s))
            std::snprintf(text, sizeof text,
                          "between pieces of an RLE8 dot line, %u group bytes missing",
                          unsigned(s.rle_owed));
        else
            std::snprintf(text, sizeof text, "on a command boundary%s",
                          s.page_open ? " inside an unfinished page" : "");
        break;
    case ParserAt::Escape:
        std::snprintf(text, sizeof text, "after 1B");
        break;
    case ParserAt::Prefix:
        std::snprintf(text, sizeof text, "after 1B F0");
        break;
    case ParserAt::CommandByte:
        std::snprintf(text, sizeof text, "inside 1B F0 %02X (%s), operand length missing",
                      unsigned(s.command), command_name(s.command));
        break;
    case ParserAt::Operand:
        std::snprintf(text, sizeof text, "inside 1B F0 %02X (%s), %u operand bytes missing",
                      unsigned(s.command), command_name(s.command), s.operand_missing());
        break;
    case ParserAt::Inquiry:
        std::snprintf(text, sizeof text, "inside an inquiry, %u bytes missing",
                      unsigned(sizeof kStatusInquiry - s.inquiry_seen));
        break;
    case ParserAt::Unknown:
        std::snprintf(text, sizeof text, "lost (bytes that are no printer command were sent)");
        break;
    }
    return text;
}

std::string boundary_to_text(const CommandBoundary& s)
{
    char text[256];
    std::snprintf(text, sizeof text,
                  "qel-boundary 1 at=%d cmd=%u size=%u seen=%u inquiry=%u page=%d line=%u "
                  "owed=%u control=%d bytes=%" PRIu64 " pages=%" PRIu64,
                  int(s.at), unsigned(s.command), unsigned(s.operand_size),
                  unsigned(s.operand_seen), unsigned(s.inquiry_seen), int(s.page_open),
                  unsigned(s.line_kind), unsigned(s.rle_owed), int(s.rle_control_next), s.bytes,
                  s.pages_ended);
    return text;
}

std::optional<CommandBoundary> boundary_from_text(const std::string& text)
{
    int at = 0, page = 0, control = 0, used = 0;
    unsigned cmd = 0, size = 0, seen = 0, inquiry = 0, line = 0, owed = 0;
    uint64_t bytes = 0, pages = 0;
    if (std::sscanf(text.c_str(),
                    "qel-boundary 1 at=%d cmd=%u size=%u seen=%u inquiry=%u page=%d line=%u "
                    "owed=%u control=%d bytes=%" SCNu64 " pages=%" SCNu64 "%n",
                    &at, &cmd, &size, &seen, &inquiry, &page, &line, &owed, &control, &bytes,
                    &pages, &used) != 11)
        return std::nullopt;
    if (at < int(ParserAt::Boundary) || at > int(ParserAt::Unknown) || cmd > 0xFF || size > 0xFF ||
        seen > size || inquiry > 3 || line > 0xFF || owed > 0x7F)
        return std::nullopt;
    CommandBoundary s;
    s.at = ParserAt(at);
    s.command = uint8_t(cmd);
    s.operand_size = uint8_t(size);
    s.operand_seen = uint8_t(seen);
    s.inquiry_seen = uint8_t(inquiry);
    s.page_open = page != 0;
    s.line_kind = uint8_t(line);
    s.rle_owed = uint8_t(owed);
    s.rle_control_next = control != 0;
    s.bytes = bytes;
    s.pages_ended = pages;
    return s;
}

} // namespace qel
