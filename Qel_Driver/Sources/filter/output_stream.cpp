// Buffered writer of the printer command stream to standard output.
#include "output_stream.h"

#include "job_cancel.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace
{

constexpr size_t k_buffer_size = 16384;

int i_output_fd = 1;
int i_output_error = 0;
size_t n_buffered = 0;
std::array<unsigned char, k_buffer_size> ub_output_buffer;

// After a cancel the filter still finishes the command in progress and the
// page end, but a printer that takes no more data must not keep the job
// (and the queue) alive: the rest of the output gets this long to drain.
constexpr long k_cancel_drain_ms = 5000;
bool f_cancel_drain_started = false;
timespec s_cancel_drain_start = {};

long lo_ms_since(const timespec& start)
{
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start.tv_sec) * 1000L + (now.tv_nsec - start.tv_nsec) / 1000000L;
}

// True once a cancelled job has used up its drain time. The first call after
// the cancel switches the descriptor to non-blocking, so that a write cannot
// block past that time.
bool lo_cancel_drain_expired()
{
    if (!cancel_requested())
    {
        return false;
    }
    if (!f_cancel_drain_started)
    {
        f_cancel_drain_started = true;
        clock_gettime(CLOCK_MONOTONIC, &s_cancel_drain_start);
        const int flags = fcntl(i_output_fd, F_GETFL);
        if (flags >= 0)
        {
            fcntl(i_output_fd, F_SETFL, flags | O_NONBLOCK);
        }
        return false;
    }
    return lo_ms_since(s_cancel_drain_start) >= k_cancel_drain_ms;
}

// Writes all bytes, waiting while a non-blocking descriptor is full.
bool lo_write_all(const unsigned char* data, size_t size)
{
    if (i_output_error != 0)
    {
        return false;
    }
    while (size > 0)
    {
        if (lo_cancel_drain_expired())
        {
            i_output_error = ECANCELED;
            return false;
        }
        const ssize_t written = write(i_output_fd, data, size);
        if (written > 0)
        {
            data += written;
            size -= static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR)
        {
            continue;
        }
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        {
            pollfd wait_for = {i_output_fd, POLLOUT, 0};
            poll(&wait_for, 1, cancel_requested() ? 100 : 1000);
            continue;
        }
        i_output_error = (written < 0) ? errno : EIO;
        return false;
    }
    return true;
}

} // namespace

void output_open(int fd)
{
    i_output_fd = fd;
    i_output_error = 0;
    n_buffered = 0;
}

bool output_write(const unsigned char* data, size_t size)
{
    if (i_output_error != 0)
    {
        return false;
    }
    if (size == 0 || data == nullptr)
    {
        return true;
    }
    if (n_buffered + size > k_buffer_size)
    {
        if (!output_flush())
        {
            return false;
        }
        if (size >= k_buffer_size)
        {
            return lo_write_all(data, size);
        }
    }
    std::memcpy(ub_output_buffer.data() + n_buffered, data, size);
    n_buffered += size;
    return true;
}

bool output_flush()
{
    const size_t size = n_buffered;
    n_buffered = 0;
    return size == 0 ? i_output_error == 0 : lo_write_all(ub_output_buffer.data(), size);
}

int output_error()
{
    return i_output_error;
}
