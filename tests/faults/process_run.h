// Child processes for the fault tests: the virtual printer program in the
// background and a maintenance tool run to its end with a hard time limit.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace faults
{

using Env = std::vector<std::pair<std::string, std::string>>;

// A qel_vprinter process serving one port until stopped.
struct PrinterProcess
{
    pid_t pid = -1;
    std::string port;         // from its "READY <port>" line
    std::string umockdev_dir; // from its "UMOCKDEV_DIR=<dir>" line (USB only)
    std::string error;        // why start failed
};

// Starts the program with args and waits (at most 20 s) for its READY line.
bool start_printer(const std::string& program, const std::vector<std::string>& args, const Env& env,
                   PrinterProcess& printer);
// SIGTERM and wait: the printer removes its port and flushes its transcript.
void stop_printer(PrinterProcess& printer);

struct ToolResult
{
    int status = -1;     // exit status as the shell sees it, -1 when killed
    std::string out;     // standard output
    long elapsed_ms = 0; // from start to exit
    bool killed = false; // ran past the limit
};

// Runs program with args, stdin_text on standard input and env added; kills it
// after limit_ms.
ToolResult run_tool(const std::string& program, const std::vector<std::string>& args,
                    const std::string& stdin_text, const Env& env, long limit_ms);

} // namespace faults
