// status_lines.h - the lines a CUPS backend writes on standard error for the
// scheduler: "STATE: +reason", "INFO: text", "ERROR: text", "DEBUG: text".
#pragma once

#include <string>

namespace qel_backend
{

void status_line(const char* prefix, const std::string& text);
inline void info(const std::string& text)
{
    status_line("INFO", text);
}
inline void error(const std::string& text)
{
    status_line("ERROR", text);
}
inline void debug(const std::string& text)
{
    status_line("DEBUG", text);
}

// A printer-state reason that is set or cleared once per change.
class StateReason
{
  public:
    explicit StateReason(const char* name) : name_(name) {}
    void set(bool on);
    bool on() const { return on_; }

  private:
    const char* name_;
    bool on_ = false;
};

} // namespace qel_backend
