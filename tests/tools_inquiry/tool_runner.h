// Runs a built tool as a child process and compares its output with an expected-output file.
#pragma once

#include <string>
#include <vector>

namespace qel_inq_test
{

struct ToolRun
{
    int iExit = -1; // exit status as the shell sees it (0..255), -1 when it did not exit
    bool fTimedOut = false;
    std::string out; // everything written to standard output
    std::string err; // everything written to standard error
};

// Starts pszProgram with the arguments (argv[0] is added) and the extra environment entries
// ("NAME=value", replacing entries of the same name); waits at most iTimeoutMs for it.
ToolRun run_tool(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& extraEnv = {}, unsigned iTimeoutMs = 60000);

// A program left running in the background, its standard output on a pipe.
struct Background
{
    int iPid = -1;
    int fdOut = -1;
};

// Starts the program; its standard error goes to the test's standard error.
Background start_background(const std::string& program, const std::vector<std::string>& args);
// Next line of its standard output without the line end, "" at its end or after iTimeoutMs.
std::string read_line(Background& bg, unsigned iTimeoutMs);
// SIGTERM, then waits for it to end; safe to call twice.
void stop_background(Background& bg);

// Text of tests/tools_inquiry/expected/<name> with "@PORT@" and "@MESSAGE@" replaced.
std::string expected_text(const std::string& name, const std::string& port = "",
                          const std::string& message = "");

// The output with the build date and time of a banner line replaced by "@DATE@" and "@TIME@",
// so that it can be compared with an expected-output file. Only lines of the banner's form
// whose date and time have the compiler's forms ("Feb  6 2021", "16:49:30") are changed.
std::string mask_build_moment(const std::string& out);

// A fresh directory under $TMPDIR (or /tmp).
std::string make_test_dir();
// Removes a directory tree made by make_test_dir.
void remove_test_dir(const std::string& dir);

} // namespace qel_inq_test
