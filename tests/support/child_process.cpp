// child_process.cpp - fork, exec, pipes and time limits.
#include "child_process.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace test_support
{
namespace
{
using Clock = std::chrono::steady_clock;

long ms_since(Clock::time_point start)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Forks and execs with the child's descriptors 0, 1 and 2 from in, out and err (-1: /dev/null
// for 0 and 1, the test's own for 2). Returns the pid or -1.
pid_t spawn(const std::string& program, const std::vector<std::string>& args, const Env& env,
            int in, int out, int err)
{
    std::vector<std::string> argv_text{program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_text)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    const int null_fd = open("/dev/null", O_RDWR);
    dup2(in >= 0 ? in : null_fd, 0);
    dup2(out >= 0 ? out : null_fd, 1);
    if (err >= 0)
        dup2(err, 2);
    for (const auto& [name, value] : env)
        if (value.empty())
            unsetenv(name.c_str());
        else
            setenv(name.c_str(), value.c_str(), 1);
    execv(program.c_str(), argv.data());
    _exit(127);
}

void wait_for(pid_t pid, int* status)
{
    while (waitpid(pid, status, 0) < 0 && errno == EINTR)
    {
    }
}
} // namespace

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& stdin_text, const Env& env, long limit_ms)
{
    RunResult result;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return result;
    const auto start = Clock::now();
    const pid_t pid = spawn(program, args, env, in[0], out[1], err[1]);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    fcntl(in[1], F_SETFL, O_NONBLOCK);

    // Feeds standard input and collects both outputs until the child closes them or the time
    // is up.
    std::size_t fed = 0;
    pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
    std::string* target[2] = {&result.out, &result.err};
    if (stdin_text.empty())
    {
        close(in[1]);
        fds[2].fd = -1;
    }
    while (pid > 0 && (fds[0].fd >= 0 || fds[1].fd >= 0))
    {
        const long left = limit_ms - ms_since(start);
        if (left <= 0)
        {
            result.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 3, static_cast<int>(left)) < 0 && errno != EINTR)
            break;
        if (fds[2].fd >= 0 && fds[2].revents != 0)
        {
            const ssize_t n = write(in[1], stdin_text.data() + fed, stdin_text.size() - fed);
            fed += n > 0 ? static_cast<std::size_t>(n) : 0;
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || fed == stdin_text.size())
            {
                close(in[1]);
                fds[2].fd = -1;
            }
        }
        for (int i = 0; i < 2; ++i)
        {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0)
                target[i]->append(buffer, static_cast<std::size_t>(n));
            else if (n == 0 || errno != EINTR)
            {
                close(fds[i].fd);
                fds[i].fd = -1;
            }
        }
    }
    for (const pollfd& p : fds)
        if (p.fd >= 0)
            close(p.fd);
    int status = 0;
    if (pid > 0)
        wait_for(pid, &status);
    result.elapsed_ms = ms_since(start);
    if (pid > 0 && !result.timed_out && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    return result;
}

Background start_background(const std::string& program, const std::vector<std::string>& args,
                            const Env& env)
{
    Background bg;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return bg;
    bg.pid = spawn(program, args, env, -1, out[1], -1);
    close(out[1]);
    bg.out = out[0];
    return bg;
}

std::string read_line(Background& bg, unsigned timeout_ms)
{
    std::string line;
    const auto start = Clock::now();
    while (bg.out >= 0)
    {
        const long left = static_cast<long>(timeout_ms) - ms_since(start);
        pollfd p = {bg.out, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        char c;
        if (read(bg.out, &c, 1) != 1 || c == '\n')
            break;
        line += c;
    }
    return line;
}

int stop_background(Background& bg)
{
    int status = -1;
    if (bg.pid > 0)
    {
        kill(bg.pid, SIGTERM);
        wait_for(bg.pid, &status);
    }
    if (bg.out >= 0)
        close(bg.out);
    bg = Background{};
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool start_emulator(const std::string& program, const std::vector<std::string>& args,
                    EmulatorProcess& emulator, const Env& env)
{
    emulator.process = start_background(program, args, env);
    std::string text;
    const auto start = Clock::now();
    while (emulator.process.pid > 0 && ms_since(start) < 20000)
    {
        const std::string line = read_line(emulator.process, 20000);
        if (line.rfind("UMOCKDEV_DIR=", 0) == 0)
            emulator.umockdev_dir = line.substr(13);
        else if (line.rfind("READY ", 0) == 0)
        {
            emulator.port = line.substr(6);
            return true;
        }
        else if (line.empty())
            break;
        text += line + "\n";
    }
    emulator.error = "no READY line; output: " + text;
    stop_background(emulator.process);
    return false;
}

int stop_emulator(EmulatorProcess& emulator)
{
    return stop_background(emulator.process);
}

std::vector<std::string> emulator_port_args(const std::string& kind, const std::string& dir)
{
    if (kind == "lp")
        return {"--lp", dir + "/dev/usb/lp0"};
    if (kind == "tty")
        return {"--tty", dir + "/dev/Ttys0"};
    return {"--usb"};
}

Env emulator_client_env(const std::string& umockdev_dir)
{
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string own = asan != nullptr && *asan != 0 ? std::string(asan) + ":" : "";
    Env env = {{"ASAN_OPTIONS", own + "verify_asan_link_order=0"}};
    if (!umockdev_dir.empty())
        env.insert(env.end(),
                   {{"LD_PRELOAD", "libumockdev-preload.so.0"}, {"UMOCKDEV_DIR", umockdev_dir}});
    return env;
}

} // namespace test_support
