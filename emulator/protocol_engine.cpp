// Protocol engine of the virtual printer: splits the host's bytes into frames and plays the
// printer's side of each exchange (inquiry, configuration, hard reset, upload, page data).
#include "enum_names.h"
#include "page_stream.h"

#include <algorithm>
#include <cstdio>

namespace qel_vp
{

namespace
{

constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kFrame = 0xFF;   // 1B FF type size: tool frames
constexpr std::uint8_t kControl = 0xF2; // 1B F2 03 00: hard reset
constexpr std::uint8_t kPage = 0xF0;    // 1B F0 ...: page commands
constexpr std::uint8_t kGs = 0x1D;      // 1D 61 n1 n2: inquiry

std::string hex2(unsigned v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X", v & 0xFFu);
    return buf;
}

// The frames of the exchanges that faults select; in transcripts they carry the exchange's name.
constexpr struct
{
    FrameKind kind;
    Exchange exchange;
} kExchangeFrames[] = {
    {FrameKind::Inquiry, Exchange::Inquiry},
    {FrameKind::ConfigDownload, Exchange::ConfigDownload},
    {FrameKind::ConfigUpload, Exchange::ConfigUpload},
    {FrameKind::UploadStart, Exchange::UploadStart},
    {FrameKind::UploadBlock, Exchange::UploadBlock},
    {FrameKind::UploadEnd, Exchange::UploadEnd},
    {FrameKind::HardReset, Exchange::HardReset},
};

// Any: a frame that no fault selects by itself.
Exchange exchange_of(FrameKind kind)
{
    for (const auto& row : kExchangeFrames)
        if (row.kind == kind)
            return row.exchange;
    return Exchange::Any;
}

// The names of the other frames.
constexpr Named<FrameKind> kOtherFrameNames[] = {
    {FrameKind::Sync, "sync"},          {FrameKind::PageCommand, "page-command"},
    {FrameKind::FormFeed, "form-feed"}, {FrameKind::OtherFrame, "other-frame"},
    {FrameKind::Garbage, "garbage"},
};

// Exchanges the printer answers; "any" faults count only these.
bool answered(Exchange e)
{
    return e == Exchange::Inquiry || e == Exchange::ConfigDownload || e == Exchange::ConfigUpload ||
           e == Exchange::UploadStart || e == Exchange::UploadEnd;
}

std::vector<std::uint8_t> header(std::uint8_t type, std::uint8_t size)
{
    return {kEsc, kFrame, type, size};
}

} // namespace

const char* frame_kind_name(FrameKind kind)
{
    const Exchange exchange = exchange_of(kind);
    return exchange == Exchange::Any ? name_in(kOtherFrameNames, kind) : exchange_name(exchange);
}

struct ProtocolEngine::Impl
{
    PrinterData data;
    std::vector<Fault> faults;
    std::array<unsigned, 8> exchange_counts{}; // by Exchange
    std::vector<std::uint8_t> pending;         // bytes not yet part of a complete frame
    std::size_t base = 0;                      // stream offset of pending[0]
    std::vector<Frame> transcript;
    std::vector<DecodeError> errors;
    std::vector<DecodeError> boundary_errors;
    std::optional<std::size_t> job_first_byte; // a job began here; its first command not seen yet
    std::vector<Upload> uploads;
    bool upload_running = false;
    std::optional<ConfigBlock> pending_config;
    unsigned resets = 0;
    PageAssembler pages_in;
    std::vector<Page> pages;
    std::vector<std::uint8_t> held; // a merged answer waiting for the next one
    void (*sink)(const Page&, void*) = nullptr;
    void* sink_user = nullptr;

    void record(FrameKind kind, std::size_t at, std::size_t length);
    void error(std::size_t offset, std::string message);
    // Frame length at the start of `pending`, 0 when more bytes are needed.
    static std::size_t frame_length(std::span<const std::uint8_t> b, FrameKind& kind,
                                    std::string& why);
    void handle(const Frame& frame, std::vector<Reply>& out);
    std::vector<std::uint8_t> answer(const Frame& frame);
    void emit(Exchange exchange, std::vector<std::uint8_t> bytes, std::vector<Reply>& out);
    void collect_pages();
};

void ProtocolEngine::Impl::record(FrameKind kind, std::size_t at, std::size_t length)
{
    // Runs of sync bytes and of garbage are one frame each.
    if ((kind == FrameKind::Sync || kind == FrameKind::Garbage) && !transcript.empty())
    {
        Frame& last = transcript.back();
        if (last.kind == kind && last.offset + last.bytes.size() == base + at)
        {
            last.bytes.insert(last.bytes.end(), pending.begin() + static_cast<std::ptrdiff_t>(at),
                              pending.begin() + static_cast<std::ptrdiff_t>(at + length));
            return;
        }
    }
    Frame f;
    f.kind = kind;
    f.offset = base + at;
    f.bytes.assign(pending.begin() + static_cast<std::ptrdiff_t>(at),
                   pending.begin() + static_cast<std::ptrdiff_t>(at + length));
    transcript.push_back(std::move(f));
}

void ProtocolEngine::Impl::error(std::size_t offset, std::string message)
{
    errors.push_back(DecodeError{offset, std::move(message)});
}

std::size_t ProtocolEngine::Impl::frame_length(std::span<const std::uint8_t> b, FrameKind& kind,
                                               std::string& why)
{
    const std::uint8_t first = b[0];
    if (first == 0x00)
    {
        kind = FrameKind::Sync;
        return 1;
    }
    if (first == 0x0C)
    {
        kind = FrameKind::FormFeed;
        return 1;
    }
    if (first == kGs)
    {
        if (b.size() < 2)
            return 0;
        if (b[1] != 0x61)
        {
            kind = FrameKind::Garbage;
            why = "1D " + hex2(b[1]) + " is no request the printer knows";
            return 1;
        }
        kind = FrameKind::Inquiry;
        return b.size() < 4 ? 0 : 4;
    }
    if (first != kEsc)
    {
        kind = FrameKind::Garbage;
        why = "byte " + hex2(first) + " starts no frame";
        return 1;
    }
    if (b.size() < 2)
        return 0;
    if (b[1] == kPage)
    {
        PageCommand command;
        switch (parse_page_command(b, command, why))
        {
        case ParseStatus::Complete:
            kind = FrameKind::PageCommand;
            return command.length;
        case ParseStatus::NeedMore:
            return 0;
        case ParseStatus::Invalid:
            kind = FrameKind::Garbage;
            return 1;
        }
    }
    if (b[1] == kControl)
    {
        if (b.size() < 4)
            return 0;
        if (b[2] == 0x03 && b[3] == 0x00)
        {
            kind = FrameKind::HardReset;
            return 4;
        }
        kind = FrameKind::Garbage;
        why = "unknown control command 1B F2 " + hex2(b[2]) + " " + hex2(b[3]);
        return 1;
    }
    if (b[1] != kFrame)
    {
        kind = FrameKind::Garbage;
        why = "1B " + hex2(b[1]) + " starts no frame";
        return 1;
    }
    if (b.size() < 4)
        return 0;
    const std::uint8_t type = b[2];
    const std::size_t size = b[3];
    struct Known
    {
        std::uint8_t type;
        FrameKind kind;
        int size; // -1: 1..255
    };
    static constexpr Known kKnown[] = {
        {0x46, FrameKind::ConfigDownload, 0}, {0x26, FrameKind::ConfigUpload, 255},
        {0x20, FrameKind::UploadStart, 8},    {0x22, FrameKind::UploadBlock, -1},
        {0x24, FrameKind::UploadEnd, 2},
    };
    kind = FrameKind::OtherFrame;
    for (const Known& k : kKnown)
        if (k.type == type)
        {
            if ((k.size >= 0 && size != static_cast<std::size_t>(k.size)) ||
                (k.size < 0 && size == 0))
            {
                why = "frame type " + hex2(type) + " with size " + std::to_string(size);
                kind = FrameKind::OtherFrame;
            }
            else
                kind = k.kind;
        }
    if (kind == FrameKind::OtherFrame && why.empty())
        why = "unknown frame type 1B FF " + hex2(type);
    return b.size() < 4 + size ? 0 : 4 + size;
}

std::vector<std::uint8_t> ProtocolEngine::Impl::answer(const Frame& frame)
{
    const std::vector<std::uint8_t>& b = frame.bytes;
    std::vector<std::uint8_t> out;
    switch (frame.kind)
    {
    case FrameKind::Inquiry:
    {
        // The tools ask for one kind at a time; several bits are answered in bit order.
        const unsigned mask = static_cast<unsigned>(b[2]) << 8 | b[3];
        for (unsigned bit = 0; bit < 16; ++bit)
        {
            const InquiryKind* kind = (mask >> bit & 1) ? inquiry_kind(bit) : nullptr;
            if (!kind)
                continue;
            const std::vector<std::uint8_t>& record = data.records[bit];
            const auto h = header(kind->type, static_cast<std::uint8_t>(record.size()));
            out.insert(out.end(), h.begin(), h.end());
            out.insert(out.end(), record.begin(), record.end());
        }
        return out;
    }
    case FrameKind::ConfigDownload:
        out = header(0x47, 0xFF);
        out.insert(out.end(), data.config.begin(), data.config.end());
        return out;
    case FrameKind::ConfigUpload:
    {
        ConfigBlock block;
        std::copy(b.begin() + 4, b.end(), block.begin());
        pending_config = block;
        return header(0x27, 0x00);
    }
    case FrameKind::UploadStart:
    {
        if (upload_running)
            error(frame.offset, "upload start while an upload was running (abandoned)");
        Upload u;
        u.type_mask = static_cast<std::uint16_t>(b[6] | b[7] << 8);
        u.size = static_cast<std::uint32_t>(b[8]) | static_cast<std::uint32_t>(b[9]) << 8 |
                 static_cast<std::uint32_t>(b[10]) << 16 | static_cast<std::uint32_t>(b[11]) << 24;
        if (b[4] != 0 || b[5] != 0)
            error(frame.offset + 4, "upload start with payload bytes " + hex2(b[4]) + " " +
                                        hex2(b[5]) + " (00 00 expected)");
        uploads.push_back(std::move(u));
        upload_running = true;
        out = header(0x21, 0x01);
        out.push_back(0x00);
        return out;
    }
    case FrameKind::UploadEnd:
    {
        out = header(0x25, 0x01);
        if (!upload_running)
        {
            error(frame.offset, "upload end without an upload start");
            out.push_back(0x01);
            return out;
        }
        Upload& u = uploads.back();
        u.ended = true;
        u.crc_received = static_cast<std::uint16_t>(b[4] | b[5] << 8);
        u.crc_ok = u.data.size() == u.size && crc16(u.data) == u.crc_received;
        u.end_status = u.crc_ok ? 0x00 : 0x01;
        upload_running = false;
        out.push_back(u.end_status);
        return out;
    }
    default:
        return out;
    }
}

void ProtocolEngine::Impl::emit(Exchange exchange, std::vector<std::uint8_t> bytes,
                                std::vector<Reply>& out)
{
    const unsigned n = ++exchange_counts[static_cast<std::size_t>(exchange)];
    const unsigned any_n =
        answered(exchange) ? ++exchange_counts[static_cast<std::size_t>(Exchange::Any)] : 0;
    unsigned delay = 0;
    bool merge = false;
    bool disconnect = false;
    std::vector<std::size_t> split;
    for (const Fault& f : faults)
    {
        const unsigned count = f.on == Exchange::Any ? any_n : n;
        if ((f.on != Exchange::Any && f.on != exchange) || count == 0 ||
            (f.nth != 0 && f.nth != count))
            continue;
        switch (f.kind)
        {
        case FaultKind::Silent:
            bytes.clear();
            break;
        case FaultKind::Late:
            delay += f.delay_ms;
            break;
        case FaultKind::WrongType:
            if (bytes.size() > 2)
                ++bytes[2];
            break;
        case FaultKind::WrongSize:
            if (bytes.size() > 3)
                --bytes[3];
            break;
        case FaultKind::WrongFirstByte:
            if (!bytes.empty())
                bytes[0] = 0x00;
            break;
        case FaultKind::WrongSecondByte:
            if (bytes.size() > 1)
                bytes[1] = 0x00;
            break;
        case FaultKind::ShortData:
            bytes.resize(bytes.size() - std::min<std::size_t>(bytes.size(), f.count ? f.count : 1));
            break;
        case FaultKind::CancelStatus:
            if (exchange == Exchange::UploadStart || exchange == Exchange::UploadEnd)
            {
                if (!bytes.empty())
                    bytes.back() = 0x01;
                // A cancelled start leaves no upload running.
                if (exchange == Exchange::UploadStart)
                    upload_running = false;
            }
            else if (bytes.size() > 3)
                bytes[3] = 0x01;
            break;
        case FaultKind::StrayBytes:
        {
            std::vector<std::uint8_t> stray = f.stray;
            if (stray.empty())
                stray = f.count ? std::vector<std::uint8_t>(f.count, 0xEE)
                                : std::vector<std::uint8_t>{0x11, 0x22, 0x33};
            bytes.insert(bytes.begin(), stray.begin(), stray.end());
            break;
        }
        case FaultKind::Split:
            split.push_back(f.count ? f.count : 1);
            break;
        case FaultKind::Merge:
            merge = true;
            break;
        case FaultKind::Disconnect:
            disconnect = true;
            break;
        }
    }
    if (disconnect)
    {
        // The port goes away instead of answering; what was held is lost with it.
        held.clear();
        out.push_back(Reply{{}, delay, true});
        return;
    }
    if (bytes.empty())
        return;
    if (!held.empty())
    {
        bytes.insert(bytes.begin(), held.begin(), held.end());
        held.clear();
    }
    if (merge)
    {
        held = std::move(bytes);
        return;
    }
    if (split.empty())
    {
        out.push_back(Reply{std::move(bytes), delay, false});
        return;
    }
    const std::size_t piece = split.front();
    for (std::size_t at = 0; at < bytes.size(); at += piece)
    {
        const std::size_t n_piece = std::min(piece, bytes.size() - at);
        out.push_back(Reply{
            std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                      bytes.begin() + static_cast<std::ptrdiff_t>(at + n_piece)),
            at == 0 ? delay : 0, false});
    }
}

void ProtocolEngine::Impl::collect_pages()
{
    for (Page& p : pages_in.take_completed())
    {
        if (sink)
            sink(p, sink_user);
        pages.push_back(std::move(p));
    }
}

void ProtocolEngine::Impl::handle(const Frame& frame, std::vector<Reply>& out)
{
    switch (frame.kind)
    {
    case FrameKind::PageCommand:
    case FrameKind::FormFeed:
    {
        PageCommand command;
        std::string why;
        parse_page_command(frame.bytes, command, why);
        DecodeError e;
        if (!pages_in.apply(command, frame.offset, e))
            errors.push_back(e);
        collect_pages();
        return;
    }
    case FrameKind::UploadBlock:
    {
        const Exchange ex = Exchange::UploadBlock;
        const unsigned n = ++exchange_counts[static_cast<std::size_t>(ex)];
        bool dropped = false;
        for (const Fault& f : faults)
        {
            if (f.on != ex || (f.nth != 0 && f.nth != n))
                continue;
            if (f.kind == FaultKind::Disconnect)
            {
                out.push_back(Reply{{}, 0, true});
                return;
            }
            if (f.kind == FaultKind::Silent)
                dropped = true;
        }
        if (!upload_running)
            error(frame.offset, "data upload block without an upload start");
        else if (!dropped)
        {
            Upload& u = uploads.back();
            u.data.insert(u.data.end(), frame.bytes.begin() + 4, frame.bytes.end());
            ++u.blocks;
        }
        return;
    }
    case FrameKind::HardReset:
    {
        ++resets;
        const unsigned n = ++exchange_counts[static_cast<std::size_t>(Exchange::HardReset)];
        if (pending_config)
        {
            data.config = *pending_config;
            pending_config.reset();
        }
        upload_running = false;
        for (const Fault& f : faults)
            if (f.on == Exchange::HardReset && f.kind == FaultKind::Disconnect &&
                (f.nth == 0 || f.nth == n))
            {
                out.push_back(Reply{{}, 0, true});
                return;
            }
        return;
    }
    case FrameKind::Inquiry:
    case FrameKind::ConfigDownload:
    case FrameKind::ConfigUpload:
    case FrameKind::UploadStart:
    case FrameKind::UploadEnd:
        emit(exchange_of(frame.kind), answer(frame), out);
        return;
    default:
        return;
    }
}

ProtocolEngine::ProtocolEngine(PrinterData data) : impl_(std::make_unique<Impl>())
{
    impl_->data = std::move(data);
}

ProtocolEngine::~ProtocolEngine() = default;

std::vector<Reply> ProtocolEngine::feed(std::span<const std::uint8_t> bytes)
{
    Impl& m = *impl_;
    std::vector<Reply> out;
    m.pending.insert(m.pending.end(), bytes.begin(), bytes.end());
    std::size_t used = 0;
    while (used < m.pending.size())
    {
        FrameKind kind = FrameKind::Garbage;
        std::string why;
        const std::size_t length =
            Impl::frame_length(std::span<const std::uint8_t>(m.pending).subspan(used), kind, why);
        if (length == 0)
            break;
        const std::size_t offset = m.base + used;
        if (m.job_first_byte && kind != FrameKind::Sync)
        {
            if (kind == FrameKind::Garbage)
                m.boundary_errors.push_back(
                    {offset,
                     "the job begins inside a command (the tail of a cut-off one?): " + why});
            m.job_first_byte.reset();
        }
        if (kind == FrameKind::Sync && m.pages_in.page_open())
            m.error(offset, "byte 00 inside a page (ignored)");
        if (kind == FrameKind::Garbage || kind == FrameKind::OtherFrame)
        {
            // One message per run of undecodable bytes.
            const bool continues =
                !m.transcript.empty() && m.transcript.back().kind == FrameKind::Garbage &&
                m.transcript.back().offset + m.transcript.back().bytes.size() == offset;
            if (!(kind == FrameKind::Garbage && continues))
                m.error(offset, why);
        }
        m.record(kind, used, length);
        if (kind != FrameKind::Sync && kind != FrameKind::Garbage)
            m.handle(m.transcript.back(), out);
        used += length;
    }
    m.pending.erase(m.pending.begin(), m.pending.begin() + static_cast<std::ptrdiff_t>(used));
    m.base += used;
    return out;
}

void ProtocolEngine::job_start()
{
    Impl& m = *impl_;
    const std::size_t at = m.base + m.pending.size();
    if (!m.pending.empty())
    {
        m.boundary_errors.push_back({at, "a new job begins while the command at offset " +
                                             std::to_string(m.base) + " is unfinished (" +
                                             std::to_string(m.pending.size()) +
                                             " bytes of it received)"});
        m.job_first_byte.reset(); // the new bytes go on with the unfinished command
        return;
    }
    m.job_first_byte = at;
}

const std::vector<DecodeError>& ProtocolEngine::boundary_errors() const
{
    return impl_->boundary_errors;
}

void ProtocolEngine::set_faults(std::vector<Fault> faults)
{
    impl_->faults = std::move(faults);
}
void ProtocolEngine::add_fault(const Fault& fault)
{
    impl_->faults.push_back(fault);
}
const std::vector<Frame>& ProtocolEngine::transcript() const
{
    return impl_->transcript;
}
const std::vector<Page>& ProtocolEngine::pages() const
{
    return impl_->pages;
}
const std::vector<DecodeError>& ProtocolEngine::errors() const
{
    return impl_->errors;
}
const std::vector<Upload>& ProtocolEngine::uploads() const
{
    return impl_->uploads;
}
const ConfigBlock& ProtocolEngine::config() const
{
    return impl_->data.config;
}
const std::optional<ConfigBlock>& ProtocolEngine::pending_config() const
{
    return impl_->pending_config;
}
unsigned ProtocolEngine::hard_resets() const
{
    return impl_->resets;
}
std::size_t ProtocolEngine::received_bytes() const
{
    return impl_->base + impl_->pending.size();
}
PrinterData& ProtocolEngine::data()
{
    return impl_->data;
}
void ProtocolEngine::set_page_sink(void (*sink)(const Page& page, void* user), void* user)
{
    impl_->sink = sink;
    impl_->sink_user = user;
}

} // namespace qel_vp
