// discovery_lines.h - what the backend prints when run without arguments
// (lpinfo -v, cups-deviced): one line per attached QEL printer, backend(7)
//   direct URI "make and model" "info" "device ID" "location"
// and one line for the scheme itself, for serial lines (never probed).
#pragma once

#include "discovery.h"

#include <string>
#include <vector>

namespace qel_backend
{

std::string discovery_line(const qel::FoundPrinter& printer);
std::vector<std::string> discovery_lines(const std::vector<qel::FoundPrinter>& printers);

} // namespace qel_backend
