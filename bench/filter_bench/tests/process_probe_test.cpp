// The process probe reports what the child really did: its output, exit,
// signal, environment, standard input and error, memory and CPU.
#include "process_probe.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace qel_bench;

namespace
{

const std::string dir = QEL_BENCH_TEST_DIR;

ProbeRequest shell(const std::string& script, std::vector<std::string> env = {"PATH=/usr/bin:/bin"})
{
    ProbeRequest r;
    r.argv = {"/bin/sh", "-c", script};
    r.env = std::move(env);
    r.stdin_path = "/dev/null";
    return r;
}

} // namespace

TEST(ProcessProbe, CountsEveryOutputByteAndTimesTheFirst)
{
    const ProbeResult r = probe_run(shell("head -c 300000 /dev/zero"));
    ASSERT_TRUE(r.started) << r.failure;
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out_bytes, 300000u);
    EXPECT_GT(r.first_byte_s, 0.0);
    EXPECT_LE(r.first_byte_s, r.wall_s);
}

TEST(ProcessProbe, NoOutputHasNoFirstByte)
{
    const ProbeResult r = probe_run(shell("exit 0"));
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.out_bytes, 0u);
    EXPECT_EQ(r.first_byte_s, -1.0);
    EXPECT_GT(r.wall_s, 0.0);
}

TEST(ProcessProbe, ReportsExitStatusAndSignal)
{
    const ProbeResult failed = probe_run(shell("exit 3"));
    EXPECT_EQ(failed.exit_code, 3);
    EXPECT_EQ(failed.term_signal, 0);
    const ProbeResult killed = probe_run(shell("printf x; kill -9 $$"));
    EXPECT_EQ(killed.term_signal, 9);
    EXPECT_EQ(killed.exit_code, -1);
    EXPECT_EQ(killed.out_bytes, 1u);
}

TEST(ProcessProbe, PassesExactlyTheGivenEnvironmentAndInput)
{
    const std::string input = dir + "/probe-input.bin";
    std::ofstream(input) << std::string(12345, 'r');
    ProbeRequest r = shell("test \"$PPD\" = /x/y.ppd && test -z \"$HOME\" && cat",
                           {"PATH=/usr/bin:/bin", "PPD=/x/y.ppd"});
    r.stdin_path = input;
    const ProbeResult res = probe_run(r);
    EXPECT_EQ(res.exit_code, 0);
    EXPECT_EQ(res.out_bytes, 12345u);
}

TEST(ProcessProbe, StandardErrorGoesToTheNamedFile)
{
    ProbeRequest r = shell("echo 'ERROR: said so' >&2");
    r.stderr_path = dir + "/probe-stderr.txt";
    ASSERT_TRUE(probe_run(r).started);
    EXPECT_EQ(test_support::read_file(r.stderr_path), "ERROR: said so\n");
}

TEST(ProcessProbe, MeasuresTheChildsMemoryAndCpu)
{
    // dd fills a 64 MiB block: the child's peak, not the probe's, must show it.
    const ProbeResult big =
        probe_run(shell("dd if=/dev/zero of=/dev/null bs=64M count=1 2>/dev/null"));
    const ProbeResult small = probe_run(shell("exit 0"));
    EXPECT_GT(big.max_rss_kib, 60000);
    EXPECT_LT(small.max_rss_kib, 60000);
    EXPECT_GT(small.max_rss_kib, 0);
    const ProbeResult busy = probe_run(shell("i=0; while [ $i -lt 100000 ]; do i=$((i+1)); done"));
    EXPECT_GT(busy.user_s + busy.sys_s, 0.0);
}

TEST(ProcessProbe, FailuresToStartAreReportedNotMeasured)
{
    ProbeRequest missing_program = shell("");
    missing_program.argv = {dir + "/no-such-filter"};
    const ProbeResult a = probe_run(missing_program);
    EXPECT_FALSE(a.started);
    EXPECT_NE(a.failure.find("no-such-filter"), std::string::npos) << a.failure;

    ProbeRequest missing_input = shell("cat");
    missing_input.stdin_path = dir + "/no-such-input.ras";
    const ProbeResult b = probe_run(missing_input);
    EXPECT_FALSE(b.started);
    EXPECT_NE(b.failure.find("no-such-input"), std::string::npos) << b.failure;

    EXPECT_FALSE(probe_run(ProbeRequest{}).started);
}
