// A scripted stand-in for the print monitor daemon: it creates the two FIFOs
// on their fixed paths, keeps the request pipe open for reading, records
// every package the filter sends and answers each IS_PRINTING poll from a
// script.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace qel_filter_test
{

struct TS_MONITOR_PACKAGE
{
    uint64_t synchronization = 0;
    int32_t header_size = 0;
    int32_t id = 0;
    uint64_t data_size = 0;
    std::vector<unsigned char> data;
};

// One answer to a poll.
struct TS_MONITOR_ANSWER
{
    int32_t id = 0;
    bool f_bad_sync = false;        // send 0x02020202 as synchronization word
    int delay_ms = 0;               // wait this long before answering
    std::vector<unsigned char> raw; // when not empty: these bytes instead of a header
};

// An answer header with `id`, optionally with a wrong synchronization word.
inline TS_MONITOR_ANSWER monitor_answer(int32_t id, bool f_bad_sync = false)
{
    TS_MONITOR_ANSWER answer;
    answer.id = id;
    answer.f_bad_sync = f_bad_sync;
    return answer;
}

struct TS_FAKE_MONITOR
{
    // Answers to the first polls, in order; later polls get `default_answer`.
    std::deque<TS_MONITOR_ANSWER> script;
    TS_MONITOR_ANSWER default_answer{};
    // Once LAST_PAGE has arrived, polls are answered with STOP_PRINTING.
    bool f_stop_after_last_page = true;
    // When not 0: after this many packages the monitor dies, leaving its
    // FIFOs behind without a reader.
    size_t die_after_packages = 0;
    // Both FIFOs are made as a daemon makes them (the test's own user, mode
    // 0600).  Then, when set, they get this owner, group or mode: FIFOs
    // that another user made, or that are open to others.
    int owner_uid = -1;
    int owner_gid = -1;
    unsigned mode = 0;
    // Without the answer FIFO: a monitor that reads but can never answer.
    bool f_answer_fifo = true;

    // Filled by the monitor thread.
    std::mutex lock;
    std::vector<TS_MONITOR_PACKAGE> packages;
    std::atomic<bool> f_running{false};
    int request_fd = -1;
    std::thread worker;
};

// Creates the FIFOs and starts serving; false when the FIFOs cannot be made
// or given the owner and mode asked for.
bool fake_monitor_start(TS_FAKE_MONITOR& monitor);

// Stops serving and removes both FIFOs.
void fake_monitor_stop(TS_FAKE_MONITOR& monitor);

// A copy of the packages received so far.
std::vector<TS_MONITOR_PACKAGE> fake_monitor_packages(TS_FAKE_MONITOR& monitor);

// Only the ids of the packages, in order of arrival.
std::vector<int32_t> package_ids(const std::vector<TS_MONITOR_PACKAGE>& packages);

} // namespace qel_filter_test
