// job.cpp - the job flow of the qel backend.
#include "job.h"

#include "boundary_store.h"
#include "printer_link.h"
#include "side_channel.h"
#include "status_lines.h"

#include <cups/backend.h>
#include <cups/sidechannel.h>

#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace qel_backend
{

namespace
{

volatile sig_atomic_t g_cancelled = 0;

void on_sigterm(int)
{
    g_cancelled = 1;
}

double now_s()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

std::string hex16(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
    return text;
}

// Bytes written per call: a cancel is noticed within one call.
constexpr int kWriteChunk = 512;
constexpr unsigned long kWriteTimeoutMs = 250;
constexpr unsigned long kInquiryTimeoutMs = 1000;

class Job
{
  public:
    Job(const qel::DeviceUri& uri, int input_fd, bool side_channel)
        : uri_(uri), input_fd_(input_fd),
          store_(uri.kind == qel::DeviceKind::BySerialNumber
                     ? qel::BoundaryStore::serial_key(uri.serial_number)
                     : qel::BoundaryStore::port_key(
                           uri.kind == qel::DeviceKind::UsbDevice ? usb_path(uri) : uri.path)),
          link_(uri, store_, load_state()), side_channel_(side_channel)
    {
    }

    int run();

  private:
    static std::string usb_path(const qel::DeviceUri& uri)
    {
        char p[40];
        std::snprintf(p, sizeof p, "/dev/bus/usb/%03u/%03u", uri.bus, uri.address);
        return p;
    }

    qel::CommandBoundary load_state()
    {
        std::string note;
        const qel::CommandBoundary state = store_.load(&note);
        if (!note.empty())
            debug("state file: " + note);
        return state;
    }

    bool wait_for_printer();
    bool write_all(const unsigned char* data, size_t size, bool stop_on_cancel);
    bool finish_open_command(const char* why);
    bool final_answer();
    void serve_side_channel(double timeout_s);
    void pause(double seconds);
    void note_page_progress();
    static bool drain(void* context) { return static_cast<Job*>(context)->drained_; }

    qel::DeviceUri uri_;
    int input_fd_;
    qel::BoundaryStore store_;
    PrinterLink link_;
    bool side_channel_;
    SideChannelFacts facts_;
    StateReason offline_{"offline-report"};
    StateReason warning_{"other-warning"};
    bool drained_ = true;
    bool write_failed_ = false;
    uint64_t pages_reported_ = 0; // page ends seen in the printer's stream
    uint64_t first_page_ = 0;     // ... before this job
    bool forwarding_ = false;     // the job's stream is being sent
    bool page_started_ = false;
};

void Job::serve_side_channel(double timeout_s)
{
    facts_.connected = link_.is_open();
    if (side_channel_)
        side_channel_answer(facts_, timeout_s, drain, this);
}

// Sleeps while answering the side channel; returns early on a cancel.
void Job::pause(double seconds)
{
    const double end = now_s() + seconds;
    while (!g_cancelled && now_s() < end)
    {
        const double left = end - now_s();
        if (side_channel_)
            serve_side_channel(left < 0.1 ? left : 0.1);
        else
            ::usleep(useconds_t((left < 0.1 ? left : 0.1) * 1e6));
    }
}

void Job::note_page_progress()
{
    if (!forwarding_)
        return; // the pages of the job's own stream only
    const qel::CommandBoundary& b = link_.boundary();
    while (pages_reported_ < b.pages_ended)
    {
        ++pages_reported_;
        page_started_ = false;
        info("Page " + std::to_string(pages_reported_ - first_page_) + " sent to the printer");
    }
    if (!page_started_ && b.page_open)
    {
        page_started_ = true;
        info("Printing page " + std::to_string(pages_reported_ - first_page_ + 1));
    }
}

// Opens the port and waits until a QEL printer answers a status inquiry; the
// command a cancelled job left unfinished is completed first. False on cancel.
bool Job::wait_for_printer()
{
    unsigned unanswered = 0;
    bool said_busy = false;
    while (!g_cancelled)
    {
        if (!link_.is_open())
        {
            switch (link_.open())
            {
            case OpenResult::Open:
                break;
            case OpenResult::NotFound:
                offline_.set(true);
                info("Waiting for the printer: nothing found at " + link_.where());
                pause(2);
                continue;
            case OpenResult::Busy:
                if (!said_busy)
                    info("The printer at " + link_.where() +
                         " is in use by another program; will retry every 2 seconds");
                said_busy = true;
                pause(2);
                continue;
            case OpenResult::Refused:
                offline_.set(true);
                info("Waiting for the printer: " + link_.where() +
                     " cannot be opened as a QEL printer");
                pause(5);
                continue;
            }
            if (!finish_open_command("the last job on this printer ended inside a command"))
                return false;
        }
        const PrinterStatus status = link_.status(kInquiryTimeoutMs);
        if (status.answered)
        {
            offline_.set(false);
            facts_.online = true;
            if (status.error_code != 0)
            {
                facts_.warning = true;
                warning_.set(true);
                info("The printer reports error code 0x" + hex16(status.error_code) +
                     "; printing anyway");
            }
            facts_.device_id = link_.ask_device_id(kInquiryTimeoutMs);
            return true;
        }
        facts_.online = false;
        offline_.set(true);
        info("No QEL printer answers at " + link_.where() + " (" + status.why + ")");
        // Reopen now and then: a printer that went away comes back elsewhere.
        if (++unanswered % 3 == 0)
            link_.close();
        pause(1);
    }
    return false;
}

// Writes everything, reporting a printer that takes nothing for a while.
// False on a failed write or (when stop_on_cancel) on a cancel.
bool Job::write_all(const unsigned char* data, size_t size, bool stop_on_cancel)
{
    size_t done = 0;
    double last_progress = now_s();
    unsigned quick_failures = 0;
    while (done < size)
    {
        if (stop_on_cancel && g_cancelled)
            return false;
        const int piece = int(std::min<size_t>(size - done, kWriteChunk));
        const double start = now_s();
        const int n = link_.write(data + done, piece, kWriteTimeoutMs);
        note_page_progress();
        if (n > 0)
        {
            done += size_t(n);
            last_progress = now_s();
            quick_failures = 0;
            offline_.set(false);
            continue;
        }
        // Nothing moved: a full printer waits the whole time-out; a port that
        // is gone fails at once.
        if (now_s() - start < kWriteTimeoutMs / 2000.0)
        {
            if (++quick_failures >= 3)
            {
                write_failed_ = true;
                error("Unable to write print data to " + link_.where() +
                      ": the port failed (printer unplugged or switched off?)");
                return false;
            }
            pause(0.1);
        }
        const double stalled = now_s() - last_progress;
        if (stalled >= kStallReportSeconds && !offline_.on())
        {
            offline_.set(true);
            info("The printer at " + link_.where() + " has taken no data for " +
                 std::to_string(unsigned(stalled)) + " s");
        }
        // A port whose device node is gone (unplugged, re-enumerated) takes
        // nothing ever again: a write failure, as CUPS's usb backend has it.
        if (stalled >= 1 && !link_.device_present())
        {
            write_failed_ = true;
            error("Unable to write print data to " + link_.where() +
                  ": the printer is gone (unplugged or switched off?)");
            return false;
        }
        if (side_channel_)
            serve_side_channel(0);
    }
    return true;
}

// Brings the printer's parser back to a command boundary outside a page.
bool Job::finish_open_command(const char* why)
{
    const std::vector<uint8_t> filler = qel::boundary_filler(link_.boundary());
    if (filler.empty())
        return true;
    info("Completing the unfinished command on " + link_.where() + " (" + why + ": " +
         qel::describe_boundary(link_.boundary()) + ")");
    return write_all(filler.data(), filler.size(), false);
}

// After the last byte: the printer has taken the job once it answers again.
bool Job::final_answer()
{
    const double start = now_s();
    const double end = start + kFinalAnswerSeconds;
    while (!g_cancelled && now_s() < end)
    {
        const PrinterStatus status = link_.status(kInquiryTimeoutMs);
        if (status.answered)
        {
            offline_.set(false);
            return true;
        }
        if (!offline_.on() && now_s() - start >= kStallReportSeconds)
        {
            offline_.set(true);
            info("Waiting for the printer at " + link_.where() + " to answer after the job");
        }
        pause(0.5);
    }
    return false;
}

int Job::run()
{
    const double start = now_s();
    if (!wait_for_printer())
        return CUPS_BACKEND_FAILED;
    char took[96];
    std::snprintf(took, sizeof took, "printer found and answering after %.1f ms",
                  (now_s() - start) * 1000.0);
    debug(took);
    info("Sending data to the printer at " + link_.where());
    pages_reported_ = first_page_ = link_.boundary().pages_ended;
    forwarding_ = true;

    std::vector<unsigned char> buffer(8192);
    bool input_done = false;
    while (!input_done && !g_cancelled)
    {
        pollfd fds[2] = {{input_fd_, POLLIN, 0}, {CUPS_SC_FD, POLLIN, 0}};
        const int nfds = side_channel_ ? 2 : 1;
        if (::poll(fds, nfds, 1000) < 0 && errno != EINTR)
            break;
        if (nfds == 2 && (fds[1].revents & POLLIN))
            serve_side_channel(0);
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const ssize_t n = ::read(input_fd_, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
        {
            input_done = true;
            break;
        }
        drained_ = false;
        if (!write_all(buffer.data(), size_t(n), true))
            break;
        drained_ = true;
    }

    if (write_failed_)
        return CUPS_BACKEND_FAILED;
    if (g_cancelled)
    {
        // The stream stops here; what the printer's parser is inside is
        // finished now if the printer takes it, else by the next job.
        if (!link_.boundary().on_boundary() || link_.boundary().page_open)
        {
            const double end = now_s() + 2;
            const std::vector<uint8_t> filler = qel::boundary_filler(link_.boundary());
            size_t done = 0;
            while (done < filler.size() && now_s() < end)
            {
                const int n =
                    link_.write(filler.data() + done, int(filler.size() - done), kWriteTimeoutMs);
                done += size_t(n > 0 ? n : 0);
            }
            info(done == filler.size()
                     ? "Job cancelled; the page was ended without a cut"
                     : "Job cancelled; the next job completes the unfinished command (" +
                           qel::describe_boundary(link_.boundary()) + ")");
        }
        return CUPS_BACKEND_FAILED;
    }
    if (!link_.boundary().on_boundary() || link_.boundary().page_open)
    {
        if (!finish_open_command("the job's data ended inside a page"))
            return CUPS_BACKEND_FAILED;
    }
    note_page_progress();
    if (!final_answer())
    {
        if (!g_cancelled)
            error("The printer at " + link_.where() + " did not answer within " +
                  std::to_string(kFinalAnswerSeconds) + " s after the job");
        return CUPS_BACKEND_FAILED;
    }
    info("The printer took the job (" + std::to_string(pages_reported_ - first_page_) + " pages)");
    return CUPS_BACKEND_OK;
}

} // namespace

int run_job(const qel::DeviceUri& uri, int input_fd, bool side_channel)
{
    struct sigaction action = {};
    action.sa_handler = on_sigterm;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    Job job(uri, input_fd, side_channel);
    return job.run();
}

} // namespace qel_backend
