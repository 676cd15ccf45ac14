// A scripted stand-in for the print monitor daemon.
#include "fake_monitor.h"

#include "Qel_Tb.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace qel_filter_test
{

namespace
{

constexpr const char* k_request = QEL_TB_PRINT_MONITOR_REQUEST_FIFO;
constexpr const char* k_answer = QEL_TB_PRINT_MONITOR_ANSWER_FIFO;

uint64_t lo_get(const unsigned char* p, int bytes)
{
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
    {
        value = (value << 8) | p[i];
    }
    return value;
}

void lo_put(unsigned char* p, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
    {
        p[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

// Opens the answer pipe once the filter holds its read end, then writes the
// answer.  The filter opens it right after sending its poll.
void lo_answer(TS_FAKE_MONITOR& monitor, const TS_MONITOR_ANSWER& answer)
{
    unsigned char bytes[24] = {};
    lo_put(bytes, answer.f_bad_sync ? 0x02020202u : QEL_TB_DRIVER_IO_SYNCHRONIZATION, 8);
    lo_put(bytes + 8, 24, 4);
    lo_put(bytes + 12, static_cast<uint32_t>(answer.id), 4);
    if (answer.delay_ms > 0)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(answer.delay_ms));
    }
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    int fd = -1;
    while (monitor.f_running && std::chrono::steady_clock::now() < give_up)
    {
        fd = open(k_answer, O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
        {
            break;
        }
        usleep(500);
    }
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)))
    {
        close(fd); // a test put something else there: a daemon answers on its FIFO only
        fd = -1;
    }
    if (fd >= 0)
    {
        [[maybe_unused]] const ssize_t written =
            answer.raw.empty() ? write(fd, bytes, sizeof bytes)
                               : write(fd, answer.raw.data(), answer.raw.size());
        close(fd);
    }
}

void lo_serve(TS_FAKE_MONITOR* monitor)
{
    std::vector<unsigned char> pending;
    bool f_last_page_seen = false;
    unsigned char chunk[65536];
    while (monitor->f_running)
    {
        pollfd wait_for = {monitor->request_fd, POLLIN, 0};
        if (poll(&wait_for, 1, 20) <= 0)
        {
            continue;
        }
        const ssize_t got = read(monitor->request_fd, chunk, sizeof chunk);
        if (got <= 0)
        {
            continue;
        }
        pending.insert(pending.end(), chunk, chunk + got);
        // Take every complete package off the front of the byte stream.
        while (pending.size() >= 24)
        {
            TS_MONITOR_PACKAGE package;
            package.synchronization = lo_get(pending.data(), 8);
            package.header_size = static_cast<int32_t>(lo_get(pending.data() + 8, 4));
            package.id = static_cast<int32_t>(lo_get(pending.data() + 12, 4));
            package.data_size = lo_get(pending.data() + 16, 8);
            if (pending.size() < 24 + package.data_size)
            {
                break;
            }
            package.data.assign(pending.begin() + 24,
                                pending.begin() + 24 + static_cast<ptrdiff_t>(package.data_size));
            pending.erase(pending.begin(),
                          pending.begin() + 24 + static_cast<ptrdiff_t>(package.data_size));
            size_t received = 0;
            {
                std::lock_guard<std::mutex> guard(monitor->lock);
                monitor->packages.push_back(package);
                received = monitor->packages.size();
            }
            if (monitor->die_after_packages != 0 && received >= monitor->die_after_packages)
            {
                close(monitor->request_fd);
                monitor->request_fd = -1;
                monitor->f_running = false;
                return;
            }
            if (package.id == EV_QEL_TB_DRIVER_IO_MSG_REQUEST_LAST_PAGE)
            {
                f_last_page_seen = true;
            }
            if (package.id == EV_QEL_TB_DRIVER_IO_MSG_REQUEST_IS_PRINTING)
            {
                TS_MONITOR_ANSWER answer = monitor->default_answer;
                if (f_last_page_seen && monitor->f_stop_after_last_page)
                {
                    answer = monitor_answer(EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_STOP_PRINTING);
                }
                else if (!monitor->script.empty())
                {
                    answer = monitor->script.front();
                    monitor->script.pop_front();
                }
                lo_answer(*monitor, answer);
            }
        }
    }
}

} // namespace

bool fake_monitor_start(TS_FAKE_MONITOR& monitor)
{
    unlink(k_request);
    unlink(k_answer);
    for (const char* fifo : {k_request, k_answer})
    {
        if (fifo == k_answer && !monitor.f_answer_fifo)
        {
            break;
        }
        if (qel_tb_initialize_named_pipe(fifo) != 0 ||
            ((monitor.owner_uid >= 0 || monitor.owner_gid >= 0) &&
             lchown(fifo, static_cast<uid_t>(monitor.owner_uid),
                    static_cast<gid_t>(monitor.owner_gid)) != 0) ||
            (monitor.mode != 0 && chmod(fifo, monitor.mode) != 0))
        {
            return false;
        }
    }
    // Read-write keeps the request pipe readable between the filter's
    // open-write-close exchanges, as a running daemon does.
    monitor.request_fd = open(k_request, O_RDWR | O_NONBLOCK);
    if (monitor.request_fd < 0)
    {
        return false;
    }
    monitor.f_running = true;
    monitor.worker = std::thread(lo_serve, &monitor);
    return true;
}

void fake_monitor_stop(TS_FAKE_MONITOR& monitor)
{
    monitor.f_running = false;
    if (monitor.worker.joinable())
    {
        monitor.worker.join();
    }
    if (monitor.request_fd >= 0)
    {
        close(monitor.request_fd);
        monitor.request_fd = -1;
    }
    unlink(k_request);
    unlink(k_answer);
}

std::vector<TS_MONITOR_PACKAGE> fake_monitor_packages(TS_FAKE_MONITOR& monitor)
{
    std::lock_guard<std::mutex> guard(monitor.lock);
    return monitor.packages;
}

std::vector<int32_t> package_ids(const std::vector<TS_MONITOR_PACKAGE>& packages)
{
    std::vector<int32_t> ids;
    for (const auto& package : packages)
    {
        ids.push_back(package.id);
    }
    return ids;
}

} // namespace qel_filter_test
