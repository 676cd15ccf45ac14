// Runs a built tool as a technician would: arguments, standard input, extra
// environment; collects standard output and the exit status.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tool_runner
{

struct Result
{
    int status = -1; // exit status as the shell sees it (255 for -1), -1 if it did not exit
    std::string out; // everything written to standard output
    bool timed_out = false;
};

// Runs program with args (argv[0] is the program path). Standard input is stdin_text;
// env adds or replaces variables. A run that lasts longer than limit_s is killed.
Result run(const std::string& program, const std::vector<std::string>& args,
           const std::string& stdin_text = {},
           const std::vector<std::pair<std::string, std::string>>& env = {}, int limit_s = 120);

// Replaces the banner line of the tool with "# <banner>\n" after checking its form:
// "# Dornwaldt - TOOL - Version R4-V1.04-BETA - Mmm dd yyyy - hh:mm:ss". A banner of
// another form is left as it is, so that the comparison of the whole output fails.
std::string mask_banner(const std::string& out, const std::string& tool);

// Upper-case hex digits of bytes, two per byte.
std::string hex(const unsigned char* p, std::size_t n);

} // namespace tool_runner
