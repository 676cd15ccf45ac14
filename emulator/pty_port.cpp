// Pseudo-terminal attachment: the printer sits on the master side, the host opens the slave
// through a link whose name tells the printer access library what kind of port it is.
#include "printer_core.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

namespace qel_vp
{

namespace
{

// Gap between two chunks so that the host sees split answers as separate arrivals.
constexpr auto kChunkGap = std::chrono::milliseconds(3);

bool fail(std::string* error, const std::string& what)
{
    if (error)
        *error = what + ": " + std::strerror(errno);
    return false;
}

} // namespace

PtyPort::~PtyPort()
{
    stop();
}

void PtyPort::wake(void* self)
{
    auto* port = static_cast<PtyPort*>(self);
    const char byte = 1;
    if (port->wake_pipe_[1] >= 0) [[maybe_unused]]
        auto n = ::write(port->wake_pipe_[1], &byte, 1);
}

bool PtyPort::start(std::string* error)
{
    if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0)
        return fail(error, "openpty");
    // A USB printer-class node gets no termios from the library: make the line raw here. A
    // serial line ("Ttys") keeps the pty's defaults so that the library's settings matter.
    if (options_.kind == PortKind::Lp)
    {
        termios t{};
        ::tcgetattr(slave_, &t);
        ::cfmakeraw(&t);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 1;
        ::tcsetattr(slave_, TCSANOW, &t);
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    if (::pipe2(wake_pipe_, O_NONBLOCK | O_CLOEXEC) != 0)
        return fail(error, "pipe");

    const std::string& link = options_.link_path;
    std::error_code ec;
    const auto parent = std::filesystem::path(link).parent_path();
    if (!parent.empty())
        std::filesystem::create_directories(parent, ec);
    ::unlink(link.c_str()); // a link left by an earlier run
    const char* slave_name = ::ttyname(slave_);
    if (!slave_name || ::symlink(slave_name, link.c_str()) != 0)
        return fail(error, "cannot link " + link);
    linked_ = true;
    // The host's opens and closes of the slave mark its jobs. (Our own descriptor was opened
    // before the watch and is never opened again.)
    watch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ < 0 || ::inotify_add_watch(watch_, slave_name, IN_OPEN | IN_CLOSE) < 0)
        return fail(error, "inotify on " + std::string(slave_name));

    core_.set_waker(&PtyPort::wake, this);
    core_.set_connected(true);
    thread_ = std::thread([this] { run(); });
    return true;
}

void PtyPort::read_host(std::vector<std::uint8_t>& buf, std::size_t limit)
{
    const ssize_t n = ::read(master_, buf.data(), std::min(buf.size(), limit));
    if (n > 0)
        core_.host_sent(std::span<const std::uint8_t>(buf.data(), static_cast<std::size_t>(n)));
}

void PtyPort::host_opened_or_closed(std::vector<std::uint8_t>& buf)
{
    alignas(inotify_event) char events[4096];
    ssize_t n;
    // A host that opened while the bytes before a close were being read may have written some
    // of its own among them: the start of its job cannot be placed, and is not checked.
    bool drained = false;
    while ((n = ::read(watch_, events, sizeof events)) > 0)
    {
        for (char* p = events; p < events + n;)
        {
            const auto* e = reinterpret_cast<const inotify_event*>(p);
            p += sizeof(inotify_event) + e->len;
            if (e->mask & IN_OPEN)
            {
                // The first open after none is a new job.
                if (host_opens_++ == 0)
                {
                    if (!drained)
                        core_.job_start();
                    core_.set_host_attached(true);
                }
            }
            else if ((e->mask & IN_CLOSE) && host_opens_ > 0 && --host_opens_ == 0)
            {
                // What the host wrote before it closed belongs to the job that ended; its last
                // bytes may still be on their way through the pty (hence the short wait).
                pollfd fd{master_, POLLIN, 0};
                while (::poll(&fd, 1, 10) > 0 && (fd.revents & POLLIN) &&
                       core_.may_take(Clock::now(), nullptr) > 0)
                    read_host(buf, core_.may_take(Clock::now(), nullptr));
                drained = true;
                core_.set_host_attached(false);
            }
        }
    }
}

void PtyPort::run()
{
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    std::vector<std::uint8_t> buf(4096);
    Clock::time_point not_before{};
    std::optional<Chunk> sending;
    std::size_t sent = 0;
    bool gone = false;
    while (!stop_ && !gone && !core_.disconnect_requested())
    {
        Clock::time_point now = Clock::now();
        Clock::time_point due{};
        if (!sending && now >= not_before)
        {
            sending = core_.take_due(now, &due);
            sent = 0;
        }
        if (sending)
        {
            while (sent < sending->bytes.size())
            {
                const ssize_t n =
                    ::write(master_, sending->bytes.data() + sent, sending->bytes.size() - sent);
                if (n <= 0)
                    break;
                sent += static_cast<std::size_t>(n);
            }
            if (sent >= sending->bytes.size())
            {
                gone = sending->disconnect;
                sending.reset();
                not_before = Clock::now() + kChunkGap;
                continue;
            }
        }

        int timeout_ms = 50;
        now = Clock::now();
        if (!sending && not_before > now)
            timeout_ms =
                1 + static_cast<int>(duration_cast<milliseconds>(not_before - now).count());
        else if (!sending && due != Clock::time_point{})
            timeout_ms = 1 + static_cast<int>(duration_cast<milliseconds>(due - now).count());
        // A stalled printer takes nothing from the line (nor notices the host's jobs).
        Clock::time_point resume{};
        const std::size_t allowed = core_.may_take(now, &resume);
        if (allowed == 0)
            timeout_ms =
                std::min(timeout_ms,
                         1 + static_cast<int>(duration_cast<milliseconds>(resume - now).count()));
        pollfd fds[3] = {{master_, static_cast<short>(allowed ? POLLIN : 0), 0},
                         {wake_pipe_[0], POLLIN, 0},
                         {allowed ? watch_ : -1, POLLIN, 0}};
        if (sending)
            fds[0].events |= POLLOUT;
        ::poll(fds, 3, std::max(0, timeout_ms));
        if (fds[1].revents & POLLIN)
        {
            char drain[64];
            while (::read(wake_pipe_[0], drain, sizeof drain) > 0)
            {
            }
        }
        // Opens and closes first, in order: a close takes what the ending job wrote, an open
        // marks where the next job begins.
        if (fds[2].revents & POLLIN)
            host_opened_or_closed(buf);
        if (fds[0].revents & POLLIN)
            read_host(buf, core_.may_take(Clock::now(), nullptr));
    }
    if (!stop_)
    {
        // The printer went away: the host's next read or write on the slave fails.
        ::close(master_);
        master_ = -1;
        ::close(slave_);
        slave_ = -1;
        core_.set_connected(false);
    }
}

void PtyPort::stop()
{
    stop_ = true;
    if (thread_.joinable())
    {
        wake(this);
        thread_.join();
    }
    core_.set_waker(nullptr, nullptr);
    core_.set_connected(false);
    if (linked_)
    {
        ::unlink(options_.link_path.c_str());
        linked_ = false;
    }
    for (int* fd : {&master_, &slave_, &wake_pipe_[0], &wake_pipe_[1], &watch_})
        if (*fd >= 0)
        {
            ::close(*fd);
            *fd = -1;
        }
}

} // namespace qel_vp
