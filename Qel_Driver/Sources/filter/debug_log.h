// The filter's debug log: one file per job under /tmp, written line by line
// through the toolbox's log writer, only when the build switches it on.
#pragma once

#include <cstddef>

// The build-time switch: 1 writes the debug log, 0 (the delivered build) does
// not.  Defined by the program that links the filter's code.
extern const int f_log_file;

// Longest debug-log path.
inline constexpr size_t QEL_LOG_PATH_SIZE = 1024;

// Forms the log path for the current local time, creates the file and writes
// the banner.  Does nothing while f_log_file is 0.
void debug_log_start();

// Creates (or reopens) `path` as a plain file without following a symbolic
// link and sets its mode 0640 through the open descriptor.  An existing file
// is accepted only when it is a regular file of this user with one link.
// Returns false, creating nothing, otherwise.
bool debug_log_create(const char* path);

// Path of the log in use; empty when no log is written.
const char* debug_log_path();

// One entry: text and status word (null for none).
void debug_log(const char* text, const char* status);

// One entry with a printf-formatted text.
void debug_logf(const char* status, const char* format, ...) __attribute__((format(printf, 2, 3)));
