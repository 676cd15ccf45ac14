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

    core_.set_waker(&PtyPort::wake, this);
    core_.set_connected(true);
    thread_ = std::thread([this] { run(); });
    return true;
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
        pollfd fds[2] = {{master_, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
        if (sending)
            fds[0].events |= POLLOUT;
        ::poll(fds, 2, std::max(0, timeout_ms));
        if (fds[1].revents & POLLIN)
        {
            char drain[64];
            while (::read(wake_pipe_[0], drain, sizeof drain) > 0)
            {
            }
        }
        if (fds[0].revents & POLLIN)
        {
            const ssize_t n = ::read(master_, buf.data(), buf.size());
            if (n > 0)
                core_.host_sent(
                    std::span<const std::uint8_t>(buf.data(), static_cast<std::size_t>(n)));
        }
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
    for (int* fd : {&master_, &slave_, &wake_pipe_[0], &wake_pipe_[1]})
        if (*fd >= 0)
        {
            ::close(*fd);
            *fd = -1;
        }
}

} // namespace qel_vp
