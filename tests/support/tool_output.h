// tool_output.h - what the maintenance tools print, made comparable with expected texts: the
// banner line carries the moment the tool was built, and bytes are printed as hex digits.
#pragma once

#include <cstddef>
#include <string>

namespace test_support
{

// Every banner line "# Dornwaldt - TOOL - Version R4-V1.04-BETA - Mmm dd yyyy - hh:mm:ss" gets
// "@DATE@ - @TIME@" for its date and time; only the compiler's forms ("Feb  6 2021",
// "16:49:30") are changed.
std::string mask_build_moment(const std::string& out);

// The first line, when it is the banner of `tool` in the form above, becomes "# <banner>"; a
// banner of another form stays, so that the comparison of the whole output fails.
std::string mask_banner(const std::string& out, const std::string& tool);

// Upper-case hex digits of bytes, two per byte.
std::string hex(const unsigned char* bytes, std::size_t n);

} // namespace test_support
