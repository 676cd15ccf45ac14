// named_pipes.cpp - FIFOs between the raster filter and the print monitor daemon.
#include "Qel_Tb.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace
{
// How long a non-blocking open keeps trying (a writer waits for its reader).
constexpr unsigned long lo_open_timeout_ms = 3000;
// Longest pause between two empty tries of an open, a read or a write.
constexpr unsigned long lo_idle_pause_ms = 10;
// Mode of the FIFOs made here: read and write for their owner and group,
// nothing for others.
constexpr mode_t lo_fifo_mode = 0660;
// CUPS runs its filters as user and group "lp".  The print monitor runs as
// root; the FIFOs it makes go to that group so that the filter can open them
// and nobody else can.
constexpr const char* lo_filter_group = "lp";

void lo_pause_after_empty_try(unsigned long timeout_ms)
{
    const unsigned long pause_ms = timeout_ms < lo_idle_pause_ms ? timeout_ms : lo_idle_pause_ms;
    if (pause_ms != 0)
        usleep(static_cast<useconds_t>(pause_ms * 1000));
}

// A write to a FIFO whose reader went away raises SIGPIPE, whose default
// action would kill the caller (the filter).  Block it around the write and
// swallow the signal this write caused; the write then just counts as empty.
ssize_t lo_write_without_sigpipe(int fd, const unsigned char* data, size_t size)
{
    sigset_t sigpipe_set;
    sigset_t old_mask;
    sigemptyset(&sigpipe_set);
    sigaddset(&sigpipe_set, SIGPIPE);

    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    const bool was_pending = sigismember(&pending, SIGPIPE) == 1;

    pthread_sigmask(SIG_BLOCK, &sigpipe_set, &old_mask);
    ssize_t result = write(fd, data, size);
    const int saved_errno = errno;
    if (result < 0 && saved_errno == EPIPE && !was_pending)
    {
        const struct timespec no_wait = {0, 0};
        while (sigtimedwait(&sigpipe_set, nullptr, &no_wait) < 0 && errno == EINTR)
        {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    errno = saved_errno;
    return result;
}

// The shared time-out loop of read and write: one try at least, a short
// pause after every try that moved nothing, stop once the age reaches the
// time-out or everything has been moved.
template <typename Transfer>
unsigned long lo_transfer(unsigned long size, unsigned long timeout_ms, Transfer transfer)
{
    struct timespec start;
    qel_tb_set_time_stamp(&start);
    unsigned long done = 0;
    while (done < size)
    {
        const ssize_t moved = transfer(done, size - done);
        if (moved > 0)
            done += static_cast<unsigned long>(moved);
        else
            lo_pause_after_empty_try(timeout_ms);
        if (qel_tb_calc_age_in_ms(&start) >= timeout_ms)
            break;
    }
    return done;
}
} // namespace

extern "C" int qel_tb_initialize_named_pipe(const char* named_pipe_path)
{
    if (named_pipe_path == nullptr)
        return -1;
    // The FIFOs carry page images and the monitor's commands: only the
    // owner and, for a root daemon, the filter's group may use them.
    if (mkfifo(named_pipe_path, lo_fifo_mode) != 0 && errno != EEXIST)
        return -1;
    // Whatever is at the path now (made here, or found there) must be our
    // own FIFO.  /tmp is shared: a link, a file or a FIFO of another user
    // put there is left as it is and never followed.
    struct stat named;
    if (lstat(named_pipe_path, &named) != 0 || !S_ISFIFO(named.st_mode) ||
        named.st_uid != geteuid())
        return -1;
    // The mode is set through a descriptor of that very FIFO (the umask
    // may have taken bits of the creation mode; an existing FIFO may have
    // more).  The read end of a FIFO opens at once.
    const int fd = open(named_pipe_path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat opened;
    const bool f_same = fstat(fd, &opened) == 0 && opened.st_dev == named.st_dev &&
                        opened.st_ino == named.st_ino && S_ISFIFO(opened.st_mode);
    bool f_ok = f_same && fchmod(fd, lo_fifo_mode) == 0;
    if (f_ok && geteuid() == 0)
    {
        const struct group* filter_group = getgrnam(lo_filter_group);
        if (filter_group != nullptr)
            f_ok = fchown(fd, static_cast<uid_t>(-1), filter_group->gr_gid) == 0;
    }
    const int result = f_ok ? 0 : -1;
    close(fd);
    return result;
}

extern "C" int qel_tb_remove_named_pipe_file(const char* named_pipe_path)
{
    if (named_pipe_path == nullptr)
        return -1;
    return std::remove(named_pipe_path);
}

extern "C" int qel_tb_open_named_pipe(const char* named_pipe_path,
                                      ET_QEL_TB_DRIVER_IO_PIPE_ACCESS pipe_access)
{
    int flags = -1;
    if (pipe_access == EV_QEL_TB_DRIVER_IO_PIPE_ACCESS_READ)
        flags = O_RDONLY | O_NONBLOCK;
    else if (pipe_access == EV_QEL_TB_DRIVER_IO_PIPE_ACCESS_WRITE)
        flags = O_WRONLY | O_NONBLOCK;

    struct timespec start;
    qel_tb_set_time_stamp(&start);
    int fd = -1;
    // The write end of a FIFO opens only while a reader holds it: keep
    // trying, 10 ms apart, until the reader shows up or time runs out.
    for (;;)
    {
        if (flags != -1 && named_pipe_path != nullptr)
            fd = open(named_pipe_path, flags);
        if (fd != -1 || qel_tb_calc_age_in_ms(&start) >= lo_open_timeout_ms)
            break;
        lo_pause_after_empty_try(lo_open_timeout_ms);
    }
    return fd;
}

extern "C" void qel_tb_close_named_pipe(int pipe)
{
    if (pipe >= 0)
        close(pipe);
}

extern "C" unsigned long qel_tb_read_named_pipe(int pipe, unsigned char* data, unsigned long size,
                                                unsigned long timeout_ms)
{
    if (pipe < 0 || data == nullptr || size == 0)
        return 0;
    return lo_transfer(size, timeout_ms,
                       [&](unsigned long offset, unsigned long left)
                       { return read(pipe, data + offset, left); });
}

extern "C" unsigned long qel_tb_write_named_pipe(int pipe, const unsigned char* data,
                                                 unsigned long size, unsigned long timeout_ms)
{
    if (pipe < 0 || data == nullptr || size == 0)
        return 0;
    return lo_transfer(size, timeout_ms,
                       [&](unsigned long offset, unsigned long left)
                       { return lo_write_without_sigpipe(pipe, data + offset, left); });
}
