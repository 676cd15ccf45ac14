// The virtual printer on a port: shared state, answer scheduling, transcript file, and the
// public VirtualPrinter object that ties the engine to a pty or an emulated USB device.
#include "printer_core.h"

#include <algorithm>

namespace qel_vp
{

PrinterCore::PrinterCore(const PrinterOptions& options)
    : engine(options.data), protocol_(options.protocol), out_dir_(options.out_dir),
      stalls_(options.stalls.begin(), options.stalls.end())
{
    if (!options.serial.empty())
        set_serial_number(engine.data(), options.serial);
    std::sort(stalls_.begin(), stalls_.end(),
              [](const Stall& a, const Stall& b) { return a.after_bytes < b.after_bytes; });
    engine.set_faults(options.faults);
    if (!out_dir_.empty())
        engine.set_page_sink(&PrinterCore::page_done, this);
    if (!options.transcript_file.empty())
        transcript_ = std::fopen(options.transcript_file.c_str(), "w");
}

PrinterCore::~PrinterCore()
{
    if (transcript_)
        std::fclose(transcript_);
}

void PrinterCore::page_done(const Page& page, void* user)
{
    auto* self = static_cast<PrinterCore*>(user);
    std::string error;
    if (!write_page_files(page, self->out_dir_, &error))
        std::fprintf(stderr, "qel-printer-emulator: %s\n", error.c_str());
}

void PrinterCore::host_sent(std::span<const std::uint8_t> bytes)
{
    {
        std::lock_guard lock(mutex);
        received.insert(received.end(), bytes.begin(), bytes.end());
        total_received_ += bytes.size();
        while (!stalls_.empty() && stalls_.front().after_bytes <= total_received_)
        {
            const Clock::time_point now = Clock::now();
            stall_end_ = std::max(now, stall_end_) + std::chrono::milliseconds(stalls_.front().ms);
            std::fprintf(stderr, "STALL offset %zu on %s: %u ms\n", total_received_, label_.c_str(),
                         stalls_.front().ms);
            stalls_.pop_front();
        }
        if (protocol_)
        {
            for (Reply& r : engine.feed(bytes))
            {
                const Clock::time_point now = Clock::now();
                last_due_ = std::max(now, last_due_) + std::chrono::milliseconds(r.delay_ms);
                queue_.push_back(Chunk{std::move(r.bytes), last_due_, r.disconnect});
            }
            write_transcript(false);
            report_boundary_errors();
        }
        else if (transcript_)
        {
            std::fprintf(transcript_, "%zu raw %zu", total_received_ - bytes.size(), bytes.size());
            for (std::uint8_t b : bytes)
                std::fprintf(transcript_, " %02X", b);
            std::fputs("\n", transcript_);
            std::fflush(transcript_);
        }
    }
    changed.notify_all();
    wake();
}

void PrinterCore::write_transcript(bool final)
{
    if (!transcript_ || !protocol_)
        return;
    const auto& frames = engine.transcript();
    for (; frames_seen < frames.size(); ++frames_seen)
    {
        const Frame& f = frames[frames_seen];
        // A run of sync bytes may still grow; it is written once the next frame has come.
        if (!final && f.kind == FrameKind::Sync && frames_seen + 1 == frames.size())
            break;
        const bool long_page = f.kind == FrameKind::PageCommand && f.bytes.size() > 16;
        std::fprintf(transcript_, "%zu %s %zu", f.offset, frame_kind_name(f.kind), f.bytes.size());
        const std::size_t n = long_page ? 16 : f.bytes.size();
        for (std::size_t i = 0; i < n; ++i)
            std::fprintf(transcript_, " %02X", f.bytes[i]);
        std::fputs(long_page ? " ...\n" : "\n", transcript_);
    }
    std::fflush(transcript_);
}

void PrinterCore::report_boundary_errors()
{
    const auto& errors = engine.boundary_errors();
    for (; boundary_reported_ < errors.size(); ++boundary_reported_)
        std::fprintf(stderr, "BOUNDARY-ERROR offset %zu on %s: %s\n",
                     errors[boundary_reported_].offset, label_.c_str(),
                     errors[boundary_reported_].message.c_str());
}

void PrinterCore::job_start()
{
    std::lock_guard lock(mutex);
    if (!protocol_)
        return;
    engine.job_start();
    report_boundary_errors();
}

std::size_t PrinterCore::may_take(Clock::time_point now, Clock::time_point* resume)
{
    std::lock_guard lock(mutex);
    if (now < stall_end_)
    {
        if (resume)
            *resume = stall_end_;
        return 0;
    }
    if (stalls_.empty())
        return SIZE_MAX;
    return stalls_.front().after_bytes - total_received_;
}

void PrinterCore::set_label(std::string label)
{
    std::lock_guard lock(mutex);
    label_ = std::move(label);
}

void PrinterCore::finish()
{
    std::lock_guard lock(mutex);
    write_transcript(true);
}

std::optional<Chunk> PrinterCore::take_due(Clock::time_point now, Clock::time_point* next_due)
{
    std::lock_guard lock(mutex);
    if (queue_.empty())
        return std::nullopt;
    if (queue_.front().due > now)
    {
        if (next_due)
            *next_due = queue_.front().due;
        return std::nullopt;
    }
    Chunk c = std::move(queue_.front());
    queue_.pop_front();
    changed.notify_all();
    return c;
}

void PrinterCore::put_back(Chunk chunk)
{
    std::lock_guard lock(mutex);
    queue_.push_front(std::move(chunk));
}

void PrinterCore::queue(std::vector<std::uint8_t> bytes)
{
    {
        std::lock_guard lock(mutex);
        last_due_ = std::max(Clock::now(), last_due_);
        queue_.push_back(Chunk{std::move(bytes), last_due_, false});
    }
    wake();
}

bool PrinterCore::queue_empty() const
{
    std::lock_guard lock(mutex);
    return queue_.empty();
}

void PrinterCore::request_disconnect()
{
    disconnect_ = true;
    wake();
}

void PrinterCore::set_connected(bool connected)
{
    connected_ = connected;
    changed.notify_all();
}

void PrinterCore::set_waker(void (*waker)(void*), void* user)
{
    waker_ = waker;
    waker_user_ = user;
}

void PrinterCore::wake()
{
    if (waker_)
        waker_(waker_user_);
}

// ---------------------------------------------------------------------------------------------

struct VirtualPrinter::Impl
{
    PrinterOptions options;
    std::unique_ptr<PrinterCore> core;
    std::unique_ptr<PtyPort> pty;
    std::unique_ptr<UsbDevice> usb;

    template <typename F> auto locked(F f) const
    {
        std::lock_guard lock(core->mutex);
        return f(*core);
    }
};

VirtualPrinter::VirtualPrinter(PrinterOptions options) : impl_(std::make_unique<Impl>())
{
    impl_->options = std::move(options);
    impl_->core = std::make_unique<PrinterCore>(impl_->options);
}

VirtualPrinter::~VirtualPrinter()
{
    stop();
}

bool VirtualPrinter::start(std::string* error)
{
    if (impl_->pty || impl_->usb)
        return true;
    if (impl_->options.kind == PortKind::Usb)
    {
        auto usb = std::make_unique<UsbDevice>(*impl_->core, impl_->options);
        if (!usb->start(error))
            return false;
        impl_->usb = std::move(usb);
        impl_->core->set_label(impl_->usb->name());
        return true;
    }
    const std::string& path = impl_->options.link_path;
    const char* marker = impl_->options.kind == PortKind::Ttys ? "Ttys" : "/dev/usb/lp";
    if (path.find(marker) == std::string::npos)
    {
        if (error)
            *error = "link path \"" + path + "\" must contain \"" + marker + "\"";
        return false;
    }
    impl_->core->set_label(path);
    auto pty = std::make_unique<PtyPort>(*impl_->core, impl_->options);
    if (!pty->start(error))
        return false;
    impl_->pty = std::move(pty);
    return true;
}

void VirtualPrinter::stop()
{
    if (impl_->pty)
        impl_->pty->stop();
    if (impl_->usb)
        impl_->usb->stop();
    impl_->core->finish();
}

std::string VirtualPrinter::port_name() const
{
    if (impl_->usb)
        return impl_->usb->name();
    return impl_->options.link_path;
}

UsbActivity VirtualPrinter::usb_activity() const
{
    return impl_->usb ? impl_->usb->activity() : UsbActivity{};
}

std::string VirtualPrinter::umockdev_dir() const
{
    return impl_->usb ? impl_->usb->root_dir() : std::string();
}

std::vector<std::uint8_t> VirtualPrinter::received() const
{
    return impl_->locked([](PrinterCore& c) { return c.received; });
}

std::vector<Frame> VirtualPrinter::transcript() const
{
    return impl_->locked([](PrinterCore& c) { return c.engine.transcript(); });
}

std::vector<Page> VirtualPrinter::pages() const
{
    return impl_->locked([](PrinterCore& c) { return c.engine.pages(); });
}

std::vector<DecodeError> VirtualPrinter::errors() const
{
    return impl_->locked([](PrinterCore& c) { return c.engine.errors(); });
}

std::vector<Upload> VirtualPrinter::uploads() const
{
    return impl_->locked([](PrinterCore& c) { return c.engine.uploads(); });
}

ConfigBlock VirtualPrinter::config() const
{
    return impl_->locked([](PrinterCore& c) { return c.engine.config(); });
}

std::optional<ConfigBlock> VirtualPrinter::pending_config() const
{
    return impl_->locked([](PrinterCore& c) { return c.engine.pending_config(); });
}

unsigned VirtualPrinter::hard_resets() const
{
    return impl_->locked([](PrinterCore& c) { return c.engine.hard_resets(); });
}

std::vector<DecodeError> VirtualPrinter::boundary_errors() const
{
    return impl_->locked([](PrinterCore& c) { return c.engine.boundary_errors(); });
}

bool VirtualPrinter::replug(unsigned address, std::string* error)
{
    if (!impl_->usb)
    {
        if (error)
            *error = "only a USB printer can be plugged in again";
        return false;
    }
    if (!impl_->usb->move_to(address, error))
        return false;
    impl_->core->set_label(impl_->usb->name());
    return true;
}

void VirtualPrinter::queue_answer(std::vector<std::uint8_t> bytes)
{
    impl_->core->queue(std::move(bytes));
}

void VirtualPrinter::clear_received()
{
    impl_->locked(
        [](PrinterCore& c)
        {
            c.received.clear();
            return 0;
        });
}

void VirtualPrinter::set_faults(std::vector<Fault> faults)
{
    impl_->locked(
        [&](PrinterCore& c)
        {
            c.engine.set_faults(std::move(faults));
            return 0;
        });
}

void VirtualPrinter::add_fault(const Fault& fault)
{
    impl_->locked(
        [&](PrinterCore& c)
        {
            c.engine.add_fault(fault);
            return 0;
        });
}

void VirtualPrinter::disconnect()
{
    impl_->core->request_disconnect();
}

bool VirtualPrinter::host_attached() const
{
    return impl_->core->host_attached();
}

bool VirtualPrinter::connected() const
{
    return impl_->core->connected();
}

namespace
{

template <typename Pred> bool wait_until(const PrinterCore& core, unsigned timeout_ms, Pred pred)
{
    std::unique_lock lock(core.mutex);
    return core.changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), pred);
}

} // namespace

bool VirtualPrinter::wait_for_bytes(std::size_t n, unsigned timeout_ms) const
{
    const PrinterCore& c = *impl_->core;
    return wait_until(c, timeout_ms, [&] { return c.received.size() >= n; });
}

bool VirtualPrinter::wait_for_frames(std::size_t n, unsigned timeout_ms) const
{
    const PrinterCore& c = *impl_->core;
    return wait_until(c, timeout_ms,
                      [&]
                      {
                          const auto& t = c.engine.transcript();
                          return static_cast<std::size_t>(
                                     std::count_if(t.begin(), t.end(),
                                                   [](const Frame& f)
                                                   { return f.kind != FrameKind::Sync; })) >= n;
                      });
}

bool VirtualPrinter::wait_idle(unsigned timeout_ms) const
{
    const auto until = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!impl_->core->queue_empty())
    {
        if (Clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace qel_vp
