// pty_peer.cpp - pseudo-terminal pairs standing in for a printer port.
#include "pty_peer.h"

#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace test_support
{

PtyPeer::PtyPeer(const std::string& link_path, bool raw) : link_(link_path)
{
    if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0)
    {
        master_ = slave_ = -1;
        return;
    }
    make_raw(master_, false);
    if (raw)
        make_raw(slave_, true);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(link_).parent_path(), ec);
    std::filesystem::remove(link_, ec);
    if (symlink(ttyname(slave_), link_.c_str()) != 0)
    {
        close(master_);
        close(slave_);
        master_ = slave_ = -1;
    }
}

PtyPeer::~PtyPeer()
{
    if (master_ >= 0)
    {
        unlink(link_.c_str());
        close(master_);
        close(slave_);
    }
}

void PtyPeer::send(const std::vector<unsigned char>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size())
    {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
        {
            return;
        }
        done += static_cast<std::size_t>(n);
    }
    tcdrain(master_);
}

std::vector<unsigned char> PtyPeer::receive(std::size_t n, int timeout_ms)
{
    std::vector<unsigned char> got;
    unsigned char chunk[256];
    int waited = 0;
    while (got.size() < n && waited < timeout_ms)
    {
        struct pollfd p = {master_, POLLIN, 0};
        if (poll(&p, 1, 10) > 0)
        {
            const ssize_t r = read(master_, chunk, sizeof chunk);
            if (r > 0)
            {
                got.insert(got.end(), chunk, chunk + r);
                continue;
            }
        }
        waited += 10;
    }
    return got;
}

void make_raw(int fd, bool timed_reads)
{
    termios settings{};
    tcgetattr(fd, &settings);
    cfmakeraw(&settings);
    if (timed_reads)
    {
        settings.c_cc[VMIN] = 0;
        settings.c_cc[VTIME] = 1;
    }
    tcsetattr(fd, TCSANOW, &settings);
}

} // namespace test_support
