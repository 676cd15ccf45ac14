// Test support for rastertoqel: raster files and runs of the filter.
#include "filter_harness.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef QEL_FILTER_BINARY
#error "QEL_FILTER_BINARY must name the built filter"
#endif

namespace qel_filter_test
{

cups_page_header2_t raster_header(unsigned width_bytes, unsigned height)
{
    return test_support::k1_page_header(width_bytes * 8, height);
}

TS_RASTER_PAGE claimed_size_page(unsigned base_width_bytes, unsigned width_bytes, unsigned height)
{
    TS_RASTER_PAGE page;
    page.header = raster_header(base_width_bytes, 1);
    page.header.cupsBytesPerLine = width_bytes;
    page.header.cupsWidth = width_bytes * 8;
    page.header.cupsHeight = height;
    return page;
}

TS_RASTER_PAGE pattern_page(unsigned width_bytes, unsigned height, unsigned seed)
{
    TS_RASTER_PAGE page;
    page.header = raster_header(width_bytes, height);
    page.image.assign(static_cast<size_t>(width_bytes) * height, 0);
    for (unsigned y = 0; y < height; ++y)
    {
        if ((y / 16 + seed) % 5 == 4)
        {
            continue; // blank stretch
        }
        unsigned char* line = page.image.data() + static_cast<size_t>(y) * width_bytes;
        line[0] = static_cast<unsigned char>(y + seed);
        const unsigned run = (y * 7 + seed) % width_bytes;
        std::memset(line + width_bytes - run, 0xFF, run);
    }
    return page;
}

void write_raster(const std::string& path, const std::vector<TS_RASTER_PAGE>& pages)
{
    test_support::RasterWriter raster(path);
    if (!raster.failure().empty())
    {
        throw std::runtime_error(raster.failure());
    }
    for (const auto& page : pages)
    {
        // A header or line that libcups refuses does not stop the ones after it.
        raster.page(page.header);
        const size_t width = page.header.cupsBytesPerLine;
        for (size_t offset = 0; width > 0 && offset + width <= page.image.size(); offset += width)
            raster.pixels(page.image.data() + offset, width);
    }
}

std::vector<TS_RASTER_PAGE> read_raster(const std::string& path)
{
    return test_support::read_raster_pages(path);
}

bool read_output(int fd, Bytes& out, size_t limit, size_t chunk)
{
    Bytes buffer(chunk);
    while (out.size() < limit)
    {
        const ssize_t got = read(fd, buffer.data(), buffer.size());
        if (got <= 0)
        {
            return false;
        }
        out.insert(out.end(), buffer.begin(), buffer.begin() + got);
    }
    return true;
}

Bytes read_bytes(const std::string& path)
{
    const std::string text = read_file(path);
    return Bytes(text.begin(), text.end());
}

std::vector<std::string> job_args(const std::string& file)
{
    return {"42", "tester", "receipt", "1", "", file};
}

TS_FILTER_RUN run_filter(const TS_FILTER_OPTIONS& options)
{
    TS_FILTER_RUN run;
    const test_support::TempDir dir;
    if (!dir.ok())
    {
        throw std::runtime_error("no scratch directory for a filter run");
    }
    const std::string out_path = dir.file("stdout"), err_path = dir.file("stderr");
    const std::string program = options.program.empty() ? QEL_FILTER_BINARY : options.program;

    int out_pipe[2] = {-1, -1};
    if (options.stdout_mode == EV_STDOUT_BROKEN_PIPE || options.stdout_mode == EV_STDOUT_SLOW_PIPE)
    {
        if (pipe(out_pipe) != 0)
        {
            throw std::runtime_error("pipe failed");
        }
        if (options.stdout_mode == EV_STDOUT_BROKEN_PIPE)
        {
            close(out_pipe[0]);
            out_pipe[0] = -1;
        }
    }

    std::vector<std::string> argv_text = {program};
    argv_text.insert(argv_text.end(), options.args.begin(), options.args.end());
    std::vector<char*> argv;
    for (auto& arg : argv_text)
    {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0)
    {
        const std::string in_path = options.stdin_path.empty() ? "/dev/null" : options.stdin_path;
        const int in = open(in_path.c_str(), O_RDONLY);
        int out = -1;
        switch (options.stdout_mode)
        {
        case EV_STDOUT_FILE:
            out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            break;
        case EV_STDOUT_DEV_FULL:
        case EV_STDOUT_CLOSED:
            out = open("/dev/full", O_WRONLY);
            break;
        default:
            out = out_pipe[1];
            if (out_pipe[0] >= 0)
            {
                close(out_pipe[0]);
            }
            break;
        }
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0)
        {
            _exit(127);
        }
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (options.stdout_mode == EV_STDOUT_CLOSED)
        {
            close(1);
        }
        // The filter starts with standard input, output and error only, as
        // under cupsd, so its first own descriptor is 3.
        close_range(3, ~0u, 0);
        // The filter decides about SIGPIPE itself, as under cupsd.
        signal(SIGPIPE, SIG_DFL);
        if (options.ppd.empty())
        {
            unsetenv("PPD");
        }
        else
        {
            setenv("PPD", options.ppd.c_str(), 1);
        }
        execv(program.c_str(), argv.data());
        _exit(126);
    }
    if (out_pipe[1] >= 0)
    {
        close(out_pipe[1]);
    }
    if (options.stdout_mode == EV_STDOUT_SLOW_PIPE)
    {
        options.on_stdout(pid, out_pipe[0], run.out);
        close(out_pipe[0]);
    }

    int status = 0;
    struct rusage usage = {};
    if (options.time_limit_s > 0)
    {
        const auto give_up =
            std::chrono::steady_clock::now() + std::chrono::seconds(options.time_limit_s);
        while (wait4(pid, &status, WNOHANG, &usage) == 0)
        {
            if (std::chrono::steady_clock::now() >= give_up)
            {
                kill(pid, SIGKILL);
            }
            usleep(10 * 1000);
        }
    }
    else
    {
        while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR)
        {
        }
    }
    run.max_rss_kb = usage.ru_maxrss;
    if (WIFEXITED(status))
    {
        run.status = WEXITSTATUS(status);
    }
    else if (WIFSIGNALED(status))
    {
        run.signal = WTERMSIG(status);
    }
    if (options.stdout_mode == EV_STDOUT_FILE)
    {
        run.out = read_bytes(out_path);
    }
    run.err = read_file(err_path);
    return run;
}

std::vector<std::string> split_lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
    {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> status_lines(const std::string& err)
{
    std::vector<std::string> lines;
    for (const auto& line : split_lines(err))
    {
        if (line.rfind("INFO: Printing page ", 0) != 0)
        {
            lines.push_back(line);
        }
    }
    return lines;
}

} // namespace qel_filter_test
