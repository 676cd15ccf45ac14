// The log line, byte for byte, at a fixed instant in a fixed time zone.
#include "Qel_Tb.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace
{
// The library reads the calendar time through time(); this test program
// defines its own time() so that the line's instant is known.  0 means
// "use the real clock".  It must be visible for the library to bind to it.
time_t g_fixed_time = 0;
} // namespace

extern "C" __attribute__((visibility("default"))) time_t time(time_t* out)
{
    time_t now = g_fixed_time;
    if (now == 0)
    {
        struct timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        now = ts.tv_sec;
    }
    if (out != nullptr)
        *out = now;
    return now;
}

namespace
{
class LogFile : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        log = dir.file("filter.log");
        setenv("TZ", "UTC0", 1);
        tzset();
        // 7 December 2026, 02:41:37 UTC.
        g_fixed_time = 1796611297;
    }
    void TearDown() override
    {
        g_fixed_time = 0;
        unsetenv("TZ");
        tzset();
    }
    test_support::TempDir dir;
    std::string log;
};

std::string Spaces(size_t n)
{
    return std::string(n, ' ');
}
} // namespace

TEST_F(LogFile, LineIsStampTextColumnAndStatus)
{
    qel_tb_write_log_file(log.c_str(), "Raster file opened", "OK");
    EXPECT_EQ(test_support::read_file(log),
              "[07.12.2026_02:41:37] : Raster file opened" + Spaces(82) + " OK\n");
}

TEST_F(LogFile, StampFollowsTheLocalTimeZone)
{
    // 31 Dec 2026 23:00:05 UTC is already the new year one hour east.
    g_fixed_time = 1798758005;
    setenv("TZ", "CET-1", 1);
    tzset();
    qel_tb_write_log_file(log.c_str(), "x", "DONE");
    EXPECT_EQ(test_support::read_file(log), "[01.01.2027_00:00:05] : x" + Spaces(99) + " DONE\n");
}

TEST_F(LogFile, TextIsCutOrPaddedToOneHundredColumns)
{
    const std::string long_text = std::string(100, 'a') + std::string(30, 'b');
    qel_tb_write_log_file(log.c_str(), long_text.c_str(), "FAILED");
    qel_tb_write_log_file(log.c_str(), "", "INFO");
    const std::string stamp = "[07.12.2026_02:41:37] : ";
    EXPECT_EQ(test_support::read_file(log),
              stamp + std::string(100, 'a') + " FAILED\n" + stamp + Spaces(100) + " INFO\n");
}

TEST_F(LogFile, MissingStatusEndsWithTwoSpaces)
{
    qel_tb_write_log_file(log.c_str(), "Page 1", nullptr);
    EXPECT_EQ(test_support::read_file(log), "[07.12.2026_02:41:37] : Page 1" + Spaces(94) + "  \n");
}

TEST_F(LogFile, OverlongStatusIsCutButTheLineEnds)
{
    const std::string status(2000, 'S');
    qel_tb_write_log_file(log.c_str(), "t", status.c_str());
    qel_tb_write_log_file(log.c_str(), "u", "OK");
    const std::string content = test_support::read_file(log);
    const std::string first =
        "[07.12.2026_02:41:37] : t" + Spaces(99) + " " + std::string(896, 'S') + "\n";
    EXPECT_EQ(content, first + "[07.12.2026_02:41:37] : u" + Spaces(99) + " OK\n");
}

TEST_F(LogFile, AppendsAndCreatesWithTheUmask)
{
    const mode_t old = umask(027);
    qel_tb_write_log_file(log.c_str(), "one", "STARTED");
    umask(old);
    g_fixed_time += 61;
    qel_tb_write_log_file(log.c_str(), "two", "SUCCESS");
    EXPECT_EQ(test_support::read_file(log), "[07.12.2026_02:41:37] : one" + Spaces(97) +
                                                " STARTED\n" + "[07.12.2026_02:42:38] : two" +
                                                Spaces(97) + " SUCCESS\n");
    struct stat st;
    ASSERT_EQ(stat(log.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(LogFile, UnwritablePlacesAreIgnored)
{
    const std::string nowhere = dir.file("no/such/dir/x.log");
    qel_tb_write_log_file(nowhere.c_str(), "lost", "OK");
    struct stat st;
    EXPECT_NE(stat(nowhere.c_str(), &st), 0);
    qel_tb_write_log_file(nullptr, "lost", "OK");
    // A null text is logged as an empty one rather than crashing.
    qel_tb_write_log_file(log.c_str(), nullptr, "OK");
    EXPECT_EQ(test_support::read_file(log), "[07.12.2026_02:41:37] : " + Spaces(100) + " OK\n");
}
