// status_lines.cpp - status lines on standard error, one write each.
#include "status_lines.h"

#include <unistd.h>

namespace qel_backend
{

void status_line(const char* prefix, const std::string& text)
{
    const std::string line = std::string(prefix) + ": " + text + "\n";
    // One write per line, so lines of the backend never interleave.
    ssize_t ignored = ::write(2, line.data(), line.size());
    (void)ignored;
}

void StateReason::set(bool on)
{
    if (on == on_)
        return;
    on_ = on;
    status_line("STATE", std::string(on ? "+" : "-") + name_);
}

} // namespace qel_backend
