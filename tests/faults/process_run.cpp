// Child processes for the fault tests: fork, exec, pipes and time limits.
#include "process_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace faults
{
namespace
{

using Clock = std::chrono::steady_clock;

long lo_ms_since(Clock::time_point start)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Forks and execs; the child's stdin, stdout come from the given descriptors
// (-1: /dev/null).  Returns the pid or -1.
pid_t lo_spawn(const std::string& program, const std::vector<std::string>& args, const Env& env,
               int in_fd, int out_fd)
{
    std::vector<std::string> argv_text{program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_text)
    {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid != 0)
    {
        return pid;
    }
    const int null_fd = open("/dev/null", O_RDWR);
    dup2(in_fd >= 0 ? in_fd : null_fd, 0);
    dup2(out_fd >= 0 ? out_fd : null_fd, 1);
    for (const auto& [name, value] : env)
    {
        setenv(name.c_str(), value.c_str(), 1);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
}

} // namespace

bool start_printer(const std::string& program, const std::vector<std::string>& args, const Env& env,
                   PrinterProcess& printer)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
    {
        printer.error = "pipe failed";
        return false;
    }
    printer.pid = lo_spawn(program, args, env, -1, out[1]);
    close(out[1]);
    if (printer.pid < 0)
    {
        close(out[0]);
        printer.error = "fork failed";
        return false;
    }
    std::string text;
    const auto start = Clock::now();
    bool ready = false;
    while (!ready && lo_ms_since(start) < 20000)
    {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 200) <= 0)
        {
            continue;
        }
        char buf[512];
        const ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0)
        {
            break;
        }
        text.append(buf, static_cast<size_t>(n));
        for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        {
            const std::string line = text.substr(at, end - at);
            if (line.rfind("UMOCKDEV_DIR=", 0) == 0)
            {
                printer.umockdev_dir = line.substr(13);
            }
            else if (line.rfind("READY ", 0) == 0)
            {
                printer.port = line.substr(6);
                ready = true;
            }
        }
    }
    close(out[0]);
    if (!ready)
    {
        printer.error = "no READY line; output: " + text;
        stop_printer(printer);
    }
    return ready;
}

void stop_printer(PrinterProcess& printer)
{
    if (printer.pid <= 0)
    {
        return;
    }
    kill(printer.pid, SIGTERM);
    int status = 0;
    const auto start = Clock::now();
    while (waitpid(printer.pid, &status, WNOHANG) == 0)
    {
        if (lo_ms_since(start) > 10000)
        {
            kill(printer.pid, SIGKILL);
            waitpid(printer.pid, &status, 0);
            break;
        }
        usleep(10000);
    }
    printer.pid = -1;
}

ToolResult run_tool(const std::string& program, const std::vector<std::string>& args,
                    const std::string& stdin_text, const Env& env, long limit_ms)
{
    ToolResult result;
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
    {
        return result;
    }
    const auto start = Clock::now();
    const pid_t pid = lo_spawn(program, args, env, in[0], out[1]);
    close(in[0]);
    close(out[1]);
    // The block line fits the pipe buffer, so this write never blocks.
    if (!stdin_text.empty() && write(in[1], stdin_text.data(), stdin_text.size()) !=
                                   static_cast<ssize_t>(stdin_text.size()))
    {
        result.out = "(standard input not written)";
    }
    close(in[1]);

    int status = 0;
    bool exited = false;
    while (!exited)
    {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 50) > 0)
        {
            char buf[4096];
            const ssize_t n = read(out[0], buf, sizeof buf);
            if (n > 0)
            {
                result.out.append(buf, static_cast<size_t>(n));
            }
        }
        if (waitpid(pid, &status, WNOHANG) == pid)
        {
            exited = true;
        }
        else if (lo_ms_since(start) > limit_ms)
        {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.killed = true;
            exited = true;
        }
    }
    result.elapsed_ms = lo_ms_since(start);
    char buf[4096];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0)
    {
        result.out.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    result.status = (!result.killed && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace faults
