// Runs one filter process the way CUPS does and measures it: wall time, time
// to the first byte on its standard output, CPU time, peak memory, output size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qel_bench
{

struct ProbeRequest
{
    std::vector<std::string> argv; // argv[0] is the program path
    std::vector<std::string> env;  // the whole environment, "NAME=value"
    std::string stdin_path;        // file on standard input
    std::string stderr_path;       // standard error goes here ("" = /dev/null)
};

struct ProbeResult
{
    bool started = false; // false: fork, exec or an open failed (see failure)
    std::string failure;
    int exit_code = -1;       // exit status, or -1 after a signal
    int term_signal = 0;      // the signal that ended the process, 0 if none
    double wall_s = 0;        // start (before fork) to the end of wait4
    double first_byte_s = -1; // start to the first byte read from stdout; -1 if none
    double user_s = 0, sys_s = 0;
    long max_rss_kib = 0;   // the child's peak resident set, from wait4
    uint64_t out_bytes = 0; // bytes the process wrote to stdout
};

// Starts the process, reads its standard output to the end with poll(),
// reaps it with wait4(). Times use CLOCK_MONOTONIC.
ProbeResult probe_run(const ProbeRequest& request);

} // namespace qel_bench
