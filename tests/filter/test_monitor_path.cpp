// The filter program with a scripted print monitor on the fixed FIFO paths:
// the probe, the polls, page hand-over, PAUSE/STOP/START answers and the
// wait after the last page.
#include "Qel_Tb.h"
#include "fake_monitor.h"
#include "filter_harness.h"
#include "page_encoder.h"
#include "private_tmp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace qel_filter_test;

namespace
{

constexpr int32_t START = EV_QEL_TB_DRIVER_IO_MSG_REQUEST_START_PRINTING;
constexpr int32_t STOP_REQUEST = EV_QEL_TB_DRIVER_IO_MSG_REQUEST_STOP_PRINTING;
constexpr int32_t LAST = EV_QEL_TB_DRIVER_IO_MSG_REQUEST_LAST_PAGE;
constexpr int32_t POLL = EV_QEL_TB_DRIVER_IO_MSG_REQUEST_IS_PRINTING;
constexpr int32_t DATA = EV_QEL_TB_DRIVER_IO_MSG_REQUEST_PAGE_DATA;
constexpr int32_t SETTINGS = EV_QEL_TB_DRIVER_IO_MSG_REQUEST_PAGE_SETTINGS;

const TS_MONITOR_ANSWER k_start = {EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_START_PRINTING, false};
const TS_MONITOR_ANSWER k_pause = {EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_PAUSE_PRINTING, false};
const TS_MONITOR_ANSWER k_stop = {EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_STOP_PRINTING, false};
const TS_MONITOR_ANSWER k_none = {EV_QEL_TB_DRIVER_IO_MSG_NONE, false};

uint32_t field(const std::vector<unsigned char>& data, size_t index)
{
    const unsigned char* p = data.data() + 4 * index;
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

class MonitorPath : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        shared_tmp_lock();
        dir_ = make_temp_dir("monitor-path");
    }
    void TearDown() override
    {
        fake_monitor_stop(monitor_);
        std::filesystem::remove_all(dir_);
        shared_tmp_unlock();
    }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    TS_FILTER_RUN run_job(const std::vector<TS_RASTER_PAGE>& pages)
    {
        write_raster(path("job.ras"), pages);
        TS_FILTER_OPTIONS options;
        options.args = job_args(path("job.ras"));
        return run_filter(options);
    }

    // Every package is a whole header with the right synchronization word.
    void expect_well_formed(const std::vector<TS_MONITOR_PACKAGE>& packages)
    {
        for (const auto& package : packages)
        {
            EXPECT_EQ(package.synchronization, 0x01010101u);
            EXPECT_EQ(package.header_size, 24);
            EXPECT_EQ(package.data.size(), package.data_size);
        }
    }

    std::string dir_;
    TS_FAKE_MONITOR monitor_;
};

} // namespace

TEST_F(MonitorPath, PagesAreHandedOverAsSettingsAndRawImage)
{
    ASSERT_TRUE(fake_monitor_start(monitor_));
    TS_RASTER_PAGE first = pattern_page(72, 100, 1);
    first.header.cupsCompression = 60;
    first.header.cupsRowFeed = 2;
    first.header.MediaPosition = 1;
    set_header_value(first.header.AdvanceMedia, 1);
    set_header_value(first.header.CutMedia, 4);
    first.header.AdvanceDistance = 8;
    set_header_value(first.header.Duplex, 1);
    TS_RASTER_PAGE second = pattern_page(72, 40, 2);
    second.header.NumCopies = 2;

    const TS_FILTER_RUN run = run_job({first, second});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.empty());
    const auto lines = status_lines(run.err);
    EXPECT_EQ(lines, (std::vector<std::string>{"PAGE: 1 1", "PAGE: 2 2", "INFO: Ready to print."}));

    const auto packages = fake_monitor_packages(monitor_);
    expect_well_formed(packages);
    EXPECT_EQ(package_ids(packages), (std::vector<int32_t>{START, POLL, SETTINGS, DATA, POLL,
                                                           SETTINGS, DATA, POLL, LAST, POLL}));
    ASSERT_EQ(packages.size(), 10u);
    // Settings: the header fields unchanged; data: the image as read, untrimmed.
    const auto& settings = packages[2].data;
    ASSERT_EQ(settings.size(), 44u);
    const uint32_t expected[] = {60, 2, 1, 72, 100, 1, 4, 8, 1, 1};
    for (size_t i = 0; i < 10; ++i)
    {
        EXPECT_EQ(field(settings, i), expected[i]) << "field " << i;
    }
    EXPECT_EQ(packages[3].data_size, 7200u);
    EXPECT_EQ(packages[3].data, first.image);
    EXPECT_EQ(field(packages[5].data, 9), 2u);
    EXPECT_EQ(packages[6].data, second.image);
}

TEST_F(MonitorPath, PauseHoldsThePageAndAWrongSyncCountsAsNone)
{
    // Three PAUSE answers hold the page back; the fourth answer carries a
    // wrong synchronization word, so its STOP is read as NONE and the page
    // goes over after the fourth poll.
    monitor_.script = {
        k_pause, k_pause, k_pause, {EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_STOP_PRINTING, true}};
    ASSERT_TRUE(fake_monitor_start(monitor_));
    const TS_RASTER_PAGE page = pattern_page(72, 30, 3);
    const TS_FILTER_RUN run = run_job({page});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(status_lines(run.err),
              (std::vector<std::string>{"PAGE: 1 1", "INFO: Ready to print."}));
    const auto packages = fake_monitor_packages(monitor_);
    expect_well_formed(packages);
    EXPECT_EQ(package_ids(packages), (std::vector<int32_t>{START, POLL, POLL, POLL, POLL, SETTINGS,
                                                           DATA, POLL, LAST, POLL}));
    EXPECT_EQ(packages[6].data, page.image);
}

TEST_F(MonitorPath, StopBeforeTheFirstPageIsAcknowledged)
{
    monitor_.script = {k_stop};
    ASSERT_TRUE(fake_monitor_start(monitor_));
    const TS_FILTER_RUN run = run_job({pattern_page(72, 30, 4)});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(status_lines(run.err), std::vector<std::string>{});
    // Give the monitor thread the moment it needs to take in the last package.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(package_ids(fake_monitor_packages(monitor_)),
              (std::vector<int32_t>{START, POLL, STOP_REQUEST}));
}

TEST_F(MonitorPath, StopAfterAPageEndsWithoutRequest)
{
    monitor_.script = {k_start, k_stop};
    ASSERT_TRUE(fake_monitor_start(monitor_));
    const TS_FILTER_RUN run = run_job({pattern_page(72, 30, 5), pattern_page(72, 30, 6)});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(status_lines(run.err), std::vector<std::string>{"PAGE: 1 1"});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(package_ids(fake_monitor_packages(monitor_)),
              (std::vector<int32_t>{START, POLL, SETTINGS, DATA, POLL}));
}

TEST_F(MonitorPath, JobWithoutPagesStillSendsLastPage)
{
    ASSERT_TRUE(fake_monitor_start(monitor_));
    write_file(path("empty.ras"), "");
    TS_FILTER_OPTIONS options;
    options.args = job_args(path("empty.ras"));
    const TS_FILTER_RUN run = run_filter(options);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(status_lines(run.err), std::vector<std::string>{"ERROR: No pages found!"});
    EXPECT_EQ(package_ids(fake_monitor_packages(monitor_)),
              (std::vector<int32_t>{START, POLL, LAST, POLL}));
}

TEST_F(MonitorPath, LastPageWaitEndsAfterFifteenSeconds)
{
    // A monitor that never reports completion: the filter polls once a
    // second after LAST_PAGE and gives up after 15 s, still with success.
    monitor_.default_answer = k_none;
    monitor_.f_stop_after_last_page = false;
    ASSERT_TRUE(fake_monitor_start(monitor_));
    const TS_FILTER_RUN run = run_job({pattern_page(72, 10, 7)});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(status_lines(run.err),
              (std::vector<std::string>{"PAGE: 1 1", "INFO: Ready to print."}));
    const auto ids = package_ids(fake_monitor_packages(monitor_));
    const auto last = std::find(ids.begin(), ids.end(), LAST);
    ASSERT_NE(last, ids.end());
    const auto polls_after = std::count(last, ids.end(), POLL);
    EXPECT_GE(polls_after, 3);
    EXPECT_LE(polls_after, 16);
}

TEST_F(MonitorPath, SomethingElseAtTheRequestPathIsNoMonitor)
{
    // A plain file at the request path: the job prints by itself at once and
    // the file is neither written nor changed.
    const std::string request = QEL_TB_PRINT_MONITOR_REQUEST_FIFO;
    unlink(request.c_str());
    write_file(request, "not a FIFO");
    TS_FILTER_RUN run = run_job({pattern_page(72, 20, 8)});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(split_lines(run.err).front(), "PIPE NOT WORKING");
    EXPECT_FALSE(run.out.empty());
    EXPECT_EQ(read_file(request), "not a FIFO");
    unlink(request.c_str());

    // A link to a FIFO that has a reader is not trusted either.
    const std::string elsewhere = path("elsewhere.fifo");
    ASSERT_EQ(mkfifo(elsewhere.c_str(), 0600), 0);
    const int reader = open(elsewhere.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(symlink(elsewhere.c_str(), request.c_str()), 0);
    run = run_job({pattern_page(72, 20, 8)});
    EXPECT_EQ(split_lines(run.err).front(), "PIPE NOT WORKING");
    EXPECT_FALSE(run.out.empty());
    unsigned char byte;
    EXPECT_LE(read(reader, &byte, 1), 0); // nothing arrived through the link
    close(reader);
    unlink(request.c_str());

    // A FIFO without a reader (a monitor still starting) is given the
    // toolbox's open time-out before the job prints by itself.
    ASSERT_EQ(mkfifo(request.c_str(), 0600), 0);
    run = run_job({pattern_page(72, 20, 8)});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(split_lines(run.err).front(), "PIPE NOT WORKING");
    EXPECT_FALSE(run.out.empty());
    unlink(request.c_str());
}

TEST_F(MonitorPath, AnswersAreReadOnlyFromAFifoAndSigtermEndsPolling)
{
    // The request FIFO works, but a plain file holding a START answer sits at
    // the answer path: it must not be read, so every poll counts as
    // unanswered (id 4) and the filter keeps polling until CUPS cancels it.
    ASSERT_TRUE(fake_monitor_start(monitor_));
    const std::string answer = QEL_TB_PRINT_MONITOR_ANSWER_FIFO;
    unlink(answer.c_str());
    std::string start_answer(24, '\0');
    start_answer[0] = start_answer[1] = start_answer[2] = start_answer[3] = 1;
    start_answer[8] = 24;
    start_answer[12] = EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_START_PRINTING;
    write_file(answer, start_answer);

    write_raster(path("job.ras"), {pattern_page(72, 20, 9)});
    TS_FILTER_OPTIONS options;
    options.args = job_args(path("job.ras"));
    options.stdout_mode = EV_STDOUT_SLOW_PIPE;
    options.on_stdout = [this](int pid, int fd, Bytes& out)
    {
        // Wait for the second poll, then cancel the job.
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < give_up)
        {
            const auto ids = package_ids(fake_monitor_packages(monitor_));
            if (std::count(ids.begin(), ids.end(), POLL) >= 2)
            {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        kill(pid, SIGTERM);
        unsigned char chunk[256];
        ssize_t got;
        while ((got = read(fd, chunk, sizeof chunk)) > 0)
        {
            out.insert(out.end(), chunk, chunk + got);
        }
    };
    const TS_FILTER_RUN run = run_filter(options);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.empty()); // standard output was closed for the monitor path
    EXPECT_EQ(status_lines(run.err), std::vector<std::string>{});
    const auto ids = package_ids(fake_monitor_packages(monitor_));
    EXPECT_EQ(std::count(ids.begin(), ids.end(), SETTINGS), 0);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), DATA), 0);
    EXPECT_EQ(read_file(answer), start_answer);
}
