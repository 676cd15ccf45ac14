// Child process runner and expected-output helpers for the end-to-end tool tests.
#include "tool_runner.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <filesystem>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qel_inq_test
{
namespace
{

void replace_all(std::string& text, const std::string& from, const std::string& to)
{
    for (size_t pos = text.find(from); pos != std::string::npos;
         pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
}

std::vector<std::string> child_environment(const std::vector<std::string>& extra)
{
    std::vector<std::string> env;
    for (char** pp = environ; *pp != nullptr; pp++)
    {
        std::string entry = *pp;
        std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& e : extra)
            replaced = replaced || e.substr(0, e.find('=')) == name;
        if (!replaced)
            env.push_back(entry);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

} // namespace

ToolRun run_tool(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& extraEnv, unsigned iTimeoutMs)
{
    ToolRun result;
    std::vector<std::string> argStore = {program};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : argStore)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore = child_environment(extraEnv);
    std::vector<char*> envp;
    for (std::string& s : envStore)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    int aiOut[2], aiErr[2];
    if (pipe2(aiOut, O_CLOEXEC) != 0 || pipe2(aiErr, O_CLOEXEC) != 0)
        return result;
    pid_t pid = fork();
    if (pid == 0)
    {
        dup2(aiOut[1], STDOUT_FILENO);
        dup2(aiErr[1], STDERR_FILENO);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(aiOut[1]);
    close(aiErr[1]);

    /* Collect both streams until the child closes them or the time is up. */
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(iTimeoutMs);
    pollfd asFds[2] = {{aiOut[0], POLLIN, 0}, {aiErr[0], POLLIN, 0}};
    std::string* apsTarget[2] = {&result.out, &result.err};
    int nOpen = 2;
    while (nOpen > 0)
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
        {
            result.fTimedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        if (poll(asFds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; i++)
        {
            if (asFds[i].fd < 0 || (asFds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                continue;
            char acBuf[4096];
            ssize_t n = read(asFds[i].fd, acBuf, sizeof acBuf);
            if (n > 0)
            {
                apsTarget[i]->append(acBuf, static_cast<size_t>(n));
            }
            else if (n == 0 || errno != EINTR)
            {
                close(asFds[i].fd);
                asFds[i].fd = -1;
                nOpen--;
            }
        }
    }
    for (pollfd& s : asFds)
        if (s.fd >= 0)
            close(s.fd);
    int iStatus = 0;
    while (waitpid(pid, &iStatus, 0) < 0 && errno == EINTR)
    {
    }
    if (WIFEXITED(iStatus))
        result.iExit = WEXITSTATUS(iStatus);
    return result;
}

Background start_background(const std::string& program, const std::vector<std::string>& args)
{
    Background bg;
    std::vector<std::string> argStore = {program};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : argStore)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    int aiOut[2];
    if (pipe2(aiOut, O_CLOEXEC) != 0)
        return bg;
    pid_t pid = fork();
    if (pid == 0)
    {
        dup2(aiOut[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(aiOut[1]);
    bg.iPid = pid;
    bg.fdOut = aiOut[0];
    return bg;
}

std::string read_line(Background& bg, unsigned iTimeoutMs)
{
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(iTimeoutMs);
    while (bg.fdOut >= 0)
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd s = {bg.fdOut, POLLIN, 0};
        if (left.count() <= 0 || poll(&s, 1, static_cast<int>(left.count())) <= 0)
            break;
        char c;
        if (read(bg.fdOut, &c, 1) != 1 || c == '\n')
            break;
        line += c;
    }
    return line;
}

void stop_background(Background& bg)
{
    if (bg.iPid > 0)
    {
        kill(bg.iPid, SIGTERM);
        int iStatus = 0;
        while (waitpid(bg.iPid, &iStatus, 0) < 0 && errno == EINTR)
        {
        }
    }
    if (bg.fdOut >= 0)
        close(bg.fdOut);
    bg = Background{};
}

std::string expected_text(const std::string& name, const std::string& port,
                          const std::string& message)
{
    std::ifstream in(std::string(QEL_INQ_EXPECTED_DIR) + "/" + name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    if (text.empty())
        return "<missing expected file " + name + ">";
    replace_all(text, "@PORT@", port);
    replace_all(text, "@MESSAGE@", message);
    return text;
}

namespace
{

// "Feb  6 2021 - 16:49:30": the compiler's date and time forms, joined as in the banner.
bool is_build_moment(const std::string& text)
{
    static const std::string k_months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    static const std::string k_shape = "Mmm Dd YYYY - hh:mm:ss";
    if (text.size() != k_shape.size())
        return false;
    size_t month = k_months.find(text.substr(0, 3));
    if (month == std::string::npos || month % 3 != 0)
        return false;
    for (size_t i = 3; i < k_shape.size(); i++)
    {
        char c = text[i];
        bool digit = c >= '0' && c <= '9';
        switch (k_shape[i])
        {
        case 'D':
            if (!(c == ' ' || (c >= '1' && c <= '3')))
                return false;
            break;
        case 'd':
        case 'Y':
        case 'h':
        case 'm':
        case 's':
            if (!digit)
                return false;
            break;
        default:
            if (c != k_shape[i])
                return false;
        }
    }
    return true;
}

} // namespace

std::string mask_build_moment(const std::string& out)
{
    static const std::string k_head = "# Dornwaldt - ";
    static const std::string k_version = " - Version R4-V1.04-BETA - ";
    std::string masked;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
    {
        size_t at = line.find(k_version);
        if (line.rfind(k_head, 0) == 0 && at != std::string::npos &&
            is_build_moment(line.substr(at + k_version.size())))
            line = line.substr(0, at + k_version.size()) + "@DATE@ - @TIME@";
        masked += line;
        if (!lines.eof())
            masked += '\n';
    }
    return masked;
}

std::string make_test_dir()
{
    const char* pszBase = std::getenv("TMPDIR");
    std::string tmpl =
        std::string(pszBase != nullptr && *pszBase ? pszBase : "/tmp") + "/inqXXXXXX";
    std::filesystem::create_directories(std::filesystem::path(tmpl).parent_path());
    if (mkdtemp(tmpl.data()) == nullptr)
        return {};
    return tmpl;
}

void remove_test_dir(const std::string& dir)
{
    std::error_code ec;
    if (!dir.empty())
        std::filesystem::remove_all(dir, ec);
}

} // namespace qel_inq_test
