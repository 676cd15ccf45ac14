// child_process.h - programs under test run as child processes: to their end with a time limit,
// or in the background (the printer emulator) until stopped.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace test_support
{

// Variables added to the child's environment, replacing those of the same name; an empty value
// removes the variable.
using Env = std::vector<std::pair<std::string, std::string>>;

struct RunResult
{
    int status = -1;        // exit status as the shell sees it (0..255), -1 when it did not exit
    bool timed_out = false; // killed at the time limit
    std::string out;        // everything written to standard output
    std::string err;        // everything written to standard error
    long elapsed_ms = 0;    // from start to exit
};

// Runs program with args (argv[0] is the program), stdin_text on standard input.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& stdin_text = {}, const Env& env = {},
                      long limit_ms = 120000);

// A program left running, its standard output on a pipe (standard error is the test's).
struct Background
{
    pid_t pid = -1;
    int out = -1;
};

Background start_background(const std::string& program, const std::vector<std::string>& args,
                            const Env& env = {});
// Next line of its standard output without the line end; "" at its end or after timeout_ms.
std::string read_line(Background& bg, unsigned timeout_ms);
// SIGTERM, then waits for it to end; safe to call twice. Returns its exit status (0..255), -1
// when it did not exit or was stopped before.
int stop_background(Background& bg);

// The printer emulator program serving one port.
struct EmulatorProcess
{
    Background process;
    std::string port;         // from its "READY <port>" line
    std::string umockdev_dir; // from its "UMOCKDEV_DIR=<dir>" line (USB only)
    std::string error;        // why the start failed, with what it printed
};

// Starts it and waits (at most 20 s) for its READY line.
bool start_emulator(const std::string& program, const std::vector<std::string>& args,
                    EmulatorProcess& emulator, const Env& env = {});
// SIGTERM and wait: the emulator removes its port and writes the rest of its transcript.
// Returns its exit status as stop_background does.
int stop_emulator(EmulatorProcess& emulator);

// The emulator's arguments for a port of `kind`: "lp" and "tty" are pseudo-terminals linked as
// dir/dev/usb/lp0 and dir/dev/Ttys0, anything else the emulated USB device.
std::vector<std::string> emulator_port_args(const std::string& kind, const std::string& dir);

// What a program needs to reach the emulator: with a umockdev directory (USB) umockdev's
// preload library, which a sanitizer build must let come before its own run-time (added to the
// test's ASAN_OPTIONS).
Env emulator_client_env(const std::string& umockdev_dir);

} // namespace test_support
