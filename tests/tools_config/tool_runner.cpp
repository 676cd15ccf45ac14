// Child process runner for the end-to-end tool tests.
#include "tool_runner.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tool_runner
{

Result run(const std::string& program, const std::vector<std::string>& args,
           const std::string& stdin_text,
           const std::vector<std::pair<std::string, std::string>>& env, int limit_s)
{
    Result r;
    // Standard input from an unlinked temporary file, so a tool that does not read it
    // never blocks the test.
    const char* tmpdir = std::getenv("TMPDIR");
    std::string in_name = std::string(tmpdir ? tmpdir : "/tmp") + "/qel_tool_stdin_XXXXXX";
    const int in_fd = mkstemp(in_name.data());
    if (in_fd < 0)
        return r;
    unlink(in_name.c_str());
    if (!stdin_text.empty() && write(in_fd, stdin_text.data(), stdin_text.size()) !=
                                   static_cast<ssize_t>(stdin_text.size()))
    {
        close(in_fd);
        return r;
    }
    lseek(in_fd, 0, SEEK_SET);

    int out_pipe[2];
    if (pipe(out_pipe) != 0)
    {
        close(in_fd);
        return r;
    }

    const pid_t pid = fork();
    if (pid == 0)
    {
        dup2(in_fd, 0);
        dup2(out_pipe[1], 1);
        close(out_pipe[0]);
        close(out_pipe[1]);
        close(in_fd);
        for (const auto& [key, value] : env)
            setenv(key.c_str(), value.c_str(), 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(in_fd);
    close(out_pipe[1]);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limit_s);
    char buf[4096];
    for (;;)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
        {
            r.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd p{out_pipe[0], POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        const ssize_t n = read(out_pipe[0], buf, sizeof buf);
        if (n <= 0)
            break;
        r.out.append(buf, static_cast<std::size_t>(n));
    }
    close(out_pipe[0]);
    int wstatus = 0;
    if (waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus))
        r.status = WEXITSTATUS(wstatus);
    return r;
}

std::string mask_banner(const std::string& out, const std::string& tool)
{
    // "Mmm dd yyyy - hh:mm:ss": month name, day padded with a space, year, time.
    static const std::string kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const std::string prefix = "# Dornwaldt - " + tool + " - Version R4-V1.04-BETA - ";
    const std::size_t at = out.find(prefix);
    if (at == std::string::npos || (at > 0 && out[at - 1] != '\n'))
        return out;
    const std::size_t d = at + prefix.size();
    const std::string stamp = out.substr(d, 23);
    auto digit = [&](std::size_t i) { return stamp[i] >= '0' && stamp[i] <= '9'; };
    const bool month = stamp.size() == 23 && kMonths.find(stamp.substr(0, 3)) % 3 == 0 &&
                       kMonths.find(stamp.substr(0, 3)) != std::string::npos;
    const bool form = month && stamp[3] == ' ' && (stamp[4] == ' ' || digit(4)) && digit(5) &&
                      stamp[6] == ' ' && digit(7) && digit(8) && digit(9) && digit(10) &&
                      stamp.compare(11, 3, " - ") == 0 && digit(14) && digit(15) &&
                      stamp[16] == ':' && digit(17) && digit(18) && stamp[19] == ':' && digit(20) &&
                      digit(21) && stamp[22] == '\n';
    if (!form)
        return out;
    return out.substr(0, at) + "# <banner>\n" + out.substr(d + 23);
}

std::string hex(const unsigned char* p, std::size_t n)
{
    std::string s;
    char two[3];
    for (std::size_t i = 0; i < n; ++i)
    {
        std::snprintf(two, sizeof two, "%2.2X", p[i]);
        s += two;
    }
    return s;
}

} // namespace tool_runner
