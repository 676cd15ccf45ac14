// Runs one filter process the way CUPS does and measures it.
#include "process_probe.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qel_bench
{
namespace
{

double lo_now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double lo_seconds(const timeval& tv)
{
    return double(tv.tv_sec) + double(tv.tv_usec) * 1e-6;
}

// Closes a descriptor when it goes out of scope.
struct Fd
{
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    void reset()
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
};

} // namespace

ProbeResult probe_run(const ProbeRequest& request)
{
    ProbeResult r;
    if (request.argv.empty())
    {
        r.failure = "no program given";
        return r;
    }
    Fd in(open(request.stdin_path.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0)
    {
        r.failure = "cannot open " + request.stdin_path + ": " + std::strerror(errno);
        return r;
    }
    const std::string err_path = request.stderr_path.empty() ? "/dev/null" : request.stderr_path;
    Fd err(open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (err.fd < 0)
    {
        r.failure = "cannot open " + err_path + ": " + std::strerror(errno);
        return r;
    }
    int out_pipe[2], exec_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0)
    {
        r.failure = std::string("pipe: ") + std::strerror(errno);
        return r;
    }
    Fd out_r(out_pipe[0]), out_w(out_pipe[1]);
    if (pipe2(exec_pipe, O_CLOEXEC) != 0)
    {
        r.failure = std::string("pipe: ") + std::strerror(errno);
        return r;
    }
    Fd exec_r(exec_pipe[0]), exec_w(exec_pipe[1]);

    // Everything the child needs is built before fork: after it only
    // async-signal-safe calls are made.
    std::vector<char*> argv, envp;
    for (const auto& a : request.argv)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& e : request.env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    const double t0 = lo_now();
    const pid_t pid = fork();
    if (pid < 0)
    {
        r.failure = std::string("fork: ") + std::strerror(errno);
        return r;
    }
    if (pid == 0)
    {
        if (dup2(in.fd, 0) < 0 || dup2(out_w.fd, 1) < 0 || dup2(err.fd, 2) < 0)
            _exit(127);
        execve(argv[0], argv.data(), envp.data());
        const int e = errno;
        (void)!write(exec_w.fd, &e, sizeof e);
        _exit(127);
    }
    out_w.reset();
    exec_w.reset();
    in.reset();
    err.reset();

    // Drain standard output; note when its first byte arrives.
    static thread_local char buf[1 << 16];
    for (;;)
    {
        pollfd p{out_r.fd, POLLIN, 0};
        const int n = poll(&p, 1, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        const ssize_t got = read(out_r.fd, buf, sizeof buf);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        if (r.out_bytes == 0)
            r.first_byte_s = lo_now() - t0;
        r.out_bytes += uint64_t(got);
    }
    out_r.reset();

    int status = 0;
    rusage ru{};
    while (wait4(pid, &status, 0, &ru) < 0 && errno == EINTR)
    {
    }
    r.wall_s = lo_now() - t0;

    int exec_errno = 0;
    if (read(exec_r.fd, &exec_errno, sizeof exec_errno) == ssize_t(sizeof exec_errno))
    {
        r.failure = "cannot run " + request.argv[0] + ": " + std::strerror(exec_errno);
        return r;
    }
    r.started = true;
    if (WIFEXITED(status))
        r.exit_code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        r.term_signal = WTERMSIG(status);
    r.user_s = lo_seconds(ru.ru_utime);
    r.sys_s = lo_seconds(ru.ru_stime);
    r.max_rss_kib = ru.ru_maxrss;
    return r;
}

} // namespace qel_bench
