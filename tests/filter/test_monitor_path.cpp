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
#include <functional>
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

const TS_MONITOR_ANSWER k_start = monitor_answer(EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_START_PRINTING);
const TS_MONITOR_ANSWER k_pause = monitor_answer(EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_PAUSE_PRINTING);
const TS_MONITOR_ANSWER k_stop = monitor_answer(EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_STOP_PRINTING);
const TS_MONITOR_ANSWER k_none = monitor_answer(EV_QEL_TB_DRIVER_IO_MSG_NONE);

uint32_t field(const std::vector<unsigned char>& data, size_t index)
{
    const unsigned char* p = data.data() + 4 * index;
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The first `count` lines of a text (fewer when it has fewer).
std::vector<std::string> first_lines(const std::string& text, size_t count)
{
    std::vector<std::string> lines = split_lines(text);
    lines.resize(std::min(lines.size(), count));
    return lines;
}

const std::string k_answer_warning =
    "WARNING: Print monitor pipe " QEL_TB_PRINT_MONITOR_ANSWER_FIFO " not used: ";

class MonitorPath : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        shared_tmp_lock();
        ASSERT_TRUE(tmp_.ok());
    }
    void TearDown() override
    {
        fake_monitor_stop(monitor_);
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

    // Starts the monitor and prints one page, which must succeed: exit status 0, the page
    // counted, the printer ready again. Returns the packages the monitor received.
    std::vector<TS_MONITOR_PACKAGE> print_one_page(const TS_RASTER_PAGE& page)
    {
        EXPECT_TRUE(fake_monitor_start(monitor_));
        const TS_FILTER_RUN run = run_job({page});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(status_lines(run.err),
                  (std::vector<std::string>{"PAGE: 1 1", "INFO: Ready to print."}));
        return fake_monitor_packages(monitor_);
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

    test_support::TempDir tmp_;
    const std::string dir_ = tmp_.path();
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
    monitor_.script = {k_pause, k_pause, k_pause,
                       monitor_answer(EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_STOP_PRINTING, true)};
    const TS_RASTER_PAGE page = pattern_page(72, 30, 3);
    const auto packages = print_one_page(page);
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
    const auto ids = package_ids(print_one_page(pattern_page(72, 10, 7)));
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
    EXPECT_EQ(first_lines(run.err, 2),
              (std::vector<std::string>{"WARNING: Print monitor pipe " + request +
                                            " not used: it is not a FIFO",
                                        "PIPE NOT WORKING"}));
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
    EXPECT_EQ(first_lines(run.err, 2),
              (std::vector<std::string>{"WARNING: Print monitor pipe " + request +
                                            " not used: it is a symbolic link",
                                        "PIPE NOT WORKING"}));
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
        read_output(fd, out, SIZE_MAX, 256);
    };
    const TS_FILTER_RUN run = run_filter(options);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.empty()); // standard output was closed for the monitor path
    EXPECT_EQ(status_lines(run.err),
              std::vector<std::string>{k_answer_warning + "it is not a FIFO"});
    const auto ids = package_ids(fake_monitor_packages(monitor_));
    EXPECT_EQ(std::count(ids.begin(), ids.end(), SETTINGS), 0);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), DATA), 0);
    EXPECT_EQ(read_file(answer), start_answer);
}

namespace
{

// Runs a job on the monitor path and cancels it once `ready` holds (checked
// every 20 ms for at most `limit`).  Returns the run and how long the filter
// took to end after the signal.
TS_FILTER_RUN lo_run_and_cancel(const std::string& raster, const std::function<bool()>& ready,
                                std::chrono::seconds limit, std::chrono::milliseconds* after)
{
    TS_FILTER_OPTIONS options;
    options.args = job_args(raster);
    options.stdout_mode = EV_STDOUT_SLOW_PIPE;
    std::chrono::steady_clock::time_point signalled;
    options.on_stdout = [&](int pid, int fd, Bytes& out)
    {
        const auto give_up = std::chrono::steady_clock::now() + limit;
        while (!ready() && std::chrono::steady_clock::now() < give_up)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        signalled = std::chrono::steady_clock::now();
        kill(pid, SIGTERM);
        read_output(fd, out, SIZE_MAX, 256);
    };
    TS_FILTER_RUN run = run_filter(options);
    *after = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - signalled);
    return run;
}

} // namespace

TEST_F(MonitorPath, MonitorThatDiesLeavesTheFilterPollingUntilCancelled)
{
    // The monitor takes page 1 and dies, its FIFOs left behind without a
    // reader: every poll then fails to open the request pipe (id 4), so the
    // filter neither hands over page 2 nor ends by itself.
    monitor_.script = {k_start};
    monitor_.die_after_packages = 4; // START, POLL, SETTINGS, DATA
    ASSERT_TRUE(fake_monitor_start(monitor_));
    write_raster(path("job.ras"), {pattern_page(72, 30, 10), pattern_page(72, 30, 11)});
    const auto died = std::chrono::steady_clock::now();
    std::chrono::milliseconds after{};
    const TS_FILTER_RUN run = lo_run_and_cancel(
        path("job.ras"),
        [&]
        {
            return !monitor_.f_running &&
                   std::chrono::steady_clock::now() - died > std::chrono::seconds(9);
        },
        std::chrono::seconds(30), &after);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(status_lines(run.err), std::vector<std::string>{"PAGE: 1 1"});
    EXPECT_EQ(package_ids(fake_monitor_packages(monitor_)),
              (std::vector<int32_t>{START, POLL, SETTINGS, DATA}));
    // At most one open time-out of the toolbox (3 s) before the filter ends.
    EXPECT_LT(after, std::chrono::seconds(5));
}

TEST_F(MonitorPath, GarbageAndUnknownAnswers)
{
    // A short answer counts as NONE (page 1 goes over); ids the filter does
    // not know, PRINTING_DONE among them, keep page 2 pending.
    TS_MONITOR_ANSWER short_answer;
    short_answer.raw = {0x01, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x18, 0x00};
    TS_MONITOR_ANSWER unknown = monitor_answer(999);
    TS_MONITOR_ANSWER done = monitor_answer(EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_PRINTING_DONE);
    monitor_.script = {short_answer, unknown, done};
    monitor_.default_answer = k_start;
    ASSERT_TRUE(fake_monitor_start(monitor_));
    const TS_RASTER_PAGE first = pattern_page(72, 20, 12), second = pattern_page(72, 25, 13);
    const TS_FILTER_RUN run = run_job({first, second});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(status_lines(run.err),
              (std::vector<std::string>{"PAGE: 1 1", "PAGE: 2 1", "INFO: Ready to print."}));
    const auto packages = fake_monitor_packages(monitor_);
    expect_well_formed(packages);
    EXPECT_EQ(package_ids(packages),
              (std::vector<int32_t>{START, POLL, SETTINGS, DATA, POLL, POLL, POLL, SETTINGS, DATA,
                                    POLL, LAST, POLL}));
    ASSERT_EQ(packages.size(), 12u);
    EXPECT_EQ(packages[3].data, first.image);
    EXPECT_EQ(packages[8].data, second.image);
}

TEST_F(MonitorPath, SlowAnswersWithinTheTimeOutAreTaken)
{
    // Every answer comes 1.5 s late, well inside the 5 s read time-out:
    // a PAUSE still holds the page back and the job ends as usual.
    TS_MONITOR_ANSWER slow_pause = k_pause;
    slow_pause.delay_ms = 1500;
    monitor_.script = {slow_pause};
    monitor_.default_answer = k_start;
    monitor_.default_answer.delay_ms = 1500;
    const TS_RASTER_PAGE page = pattern_page(72, 20, 14);
    const auto packages = print_one_page(page);
    EXPECT_EQ(package_ids(packages),
              (std::vector<int32_t>{START, POLL, POLL, SETTINGS, DATA, POLL, LAST, POLL}));
    ASSERT_EQ(packages.size(), 8u);
    EXPECT_EQ(packages[4].data, page.image);
}

TEST_F(MonitorPath, SymlinkAtTheAnswerPathIsNotFollowed)
{
    // The answer path is a link to another FIFO on which START answers
    // would arrive: the filter must not read through it, so no poll is
    // answered and no page is handed over until the job is cancelled.
    ASSERT_TRUE(fake_monitor_start(monitor_));
    monitor_.default_answer = k_start;
    const std::string answer = QEL_TB_PRINT_MONITOR_ANSWER_FIFO;
    const std::string elsewhere = path("elsewhere.fifo");
    ASSERT_EQ(mkfifo(elsewhere.c_str(), 0600), 0);
    unlink(answer.c_str());
    ASSERT_EQ(symlink(elsewhere.c_str(), answer.c_str()), 0);
    write_raster(path("job.ras"), {pattern_page(72, 20, 15)});
    std::chrono::milliseconds after{};
    const TS_FILTER_RUN run = lo_run_and_cancel(
        path("job.ras"),
        [&]
        {
            const auto ids = package_ids(fake_monitor_packages(monitor_));
            return std::count(ids.begin(), ids.end(), POLL) >= 2;
        },
        std::chrono::seconds(30), &after);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(status_lines(run.err),
              std::vector<std::string>{k_answer_warning + "it is a symbolic link"});
    const auto ids = package_ids(fake_monitor_packages(monitor_));
    EXPECT_GE(std::count(ids.begin(), ids.end(), POLL), 2);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), SETTINGS), 0);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), DATA), 0);
    struct stat st;
    ASSERT_EQ(lstat(answer.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(MonitorPath, FifosOtherUsersCanUseAreNotTrusted)
{
    // A monitor impostor: FIFOs that another user made, or that are open to
    // all users or to a group not the filter's.  The filter hands them
    // nothing, says why, and prints the job itself at once.
    struct
    {
        int uid, gid;
        unsigned mode;
        std::string why;
    } const cases[] = {
        {65534, 65534, 0600, "it belongs to user 65534"},
        {-1, -1, 0606, "it is open to all users (mode 0606)"},
        {-1, 65534, 0660, "it is open to group 65534 (mode 0660)"},
    };
    const std::string request = QEL_TB_PRINT_MONITOR_REQUEST_FIFO;
    const TS_RASTER_PAGE page = pattern_page(72, 20, 16);
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.why);
        TS_FAKE_MONITOR impostor;
        impostor.owner_uid = c.uid;
        impostor.owner_gid = c.gid;
        impostor.mode = c.mode;
        impostor.default_answer = k_start;
        ASSERT_TRUE(fake_monitor_start(impostor));
        const TS_FILTER_RUN run = run_job({page});
        fake_monitor_stop(impostor);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(first_lines(run.err, 2),
                  (std::vector<std::string>{"WARNING: Print monitor pipe " + request +
                                                " not used: " + c.why,
                                            "PIPE NOT WORKING"}));
        EXPECT_EQ(status_lines(run.err).back(), "INFO: Ready to print.");
        EXPECT_FALSE(run.out.empty());
        EXPECT_TRUE(fake_monitor_packages(impostor).empty());
    }
}

TEST_F(MonitorPath, MonitorThatCannotAnswerEndsWithinItsBound)
{
    // The monitor reads requests but has no answer FIFO: every poll goes
    // unanswered (id 4) and the page stays pending.  The filter gives up
    // after 15 s without an answer, with an error, having handed over
    // nothing; it does not poll on until CUPS cancels the job.
    monitor_.f_answer_fifo = false;
    ASSERT_TRUE(fake_monitor_start(monitor_));
    write_raster(path("job.ras"), {pattern_page(72, 20, 17)});
    TS_FILTER_OPTIONS options;
    options.args = job_args(path("job.ras"));
    options.time_limit_s = 40;
    const auto start = std::chrono::steady_clock::now();
    const TS_FILTER_RUN run = run_filter(options);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(status_lines(run.err),
              std::vector<std::string>{
                  "ERROR: The print monitor has not answered for 15 s; the job stops"});
    EXPECT_LT(took, std::chrono::seconds(25));
    const auto ids = package_ids(fake_monitor_packages(monitor_));
    EXPECT_EQ(ids.front(), START);
    EXPECT_GE(std::count(ids.begin(), ids.end(), POLL), 3);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), SETTINGS), 0);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), DATA), 0);
}
