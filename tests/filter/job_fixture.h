// A fixture for whole runs of the filter program without the print monitor:
// holds the shared /tmp lock, checks that no monitor FIFO is there, and gives
// each test a fresh scratch directory.
#pragma once

#include "Qel_Tb.h"
#include "filter_harness.h"
#include "private_tmp.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

namespace qel_filter_test
{

class FilterJobTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        shared_tmp_lock();
        struct stat st;
        ASSERT_NE(lstat(QEL_TB_PRINT_MONITOR_REQUEST_FIFO, &st), 0)
            << "a print monitor FIFO exists; these tests need it absent";
        ASSERT_TRUE(tmp_.ok());
    }
    void TearDown() override { shared_tmp_unlock(); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    TS_FILTER_RUN run_file(const std::string& file, ET_STDOUT_MODE mode = EV_STDOUT_FILE)
    {
        TS_FILTER_OPTIONS options;
        options.args = job_args(file);
        options.ppd = QEL_TEST_PPD;
        options.stdout_mode = mode;
        return run_filter(options);
    }

    test_support::TempDir tmp_;
    const std::string dir_ = tmp_.path();
};

} // namespace qel_filter_test
