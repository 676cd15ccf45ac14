// Test support for rastertoqel: raster files written bit-exact with libcups,
// raster files read back, and runs of the filter program with captured
// standard output, standard error and exit status.
#pragma once

#include "raster_file.h"
#include "temp_dir.h"

#include <cups/raster.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qel_filter_test
{

using Bytes = std::vector<unsigned char>;

// A page of a raster file: its header and cupsHeight x cupsBytesPerLine bytes.
using TS_RASTER_PAGE = test_support::RasterPage;
using test_support::read_file;
using test_support::write_file;

// A 1-bit black-and-white 203 dpi header of `width_bytes` x `height`.
cups_page_header2_t raster_header(unsigned width_bytes, unsigned height);

// A page with a recognisable pattern: line y carries (y + seed) in its first
// byte, a run of set bits whose length depends on y, and blank stretches.
TS_RASTER_PAGE pattern_page(unsigned width_bytes, unsigned height, unsigned seed);

// A page without image data whose header (otherwise raster_header of
// `base_width_bytes` x 1) claims `width_bytes` x `height`.
TS_RASTER_PAGE claimed_size_page(unsigned base_width_bytes, unsigned width_bytes, unsigned height);

// Writes the pages with cupsRasterWriteHeader2 / cupsRasterWritePixels.  A
// page whose image is shorter than its header says gets only those lines.
void write_raster(const std::string& path, const std::vector<TS_RASTER_PAGE>& pages);

// Reads every page of a raster file with libcups.
std::vector<TS_RASTER_PAGE> read_raster(const std::string& path);

Bytes read_bytes(const std::string& path);

// Appends what the filter writes on `fd` to `out`, in reads of up to `chunk`
// bytes, until `out` holds at least `limit` bytes (by default: to the end).
// Returns false when the output ended first.
bool read_output(int fd, Bytes& out, size_t limit = SIZE_MAX, size_t chunk = 4096);

// Where the filter's standard output goes.
typedef enum
{
    EV_STDOUT_FILE = 0,        // a file, returned in TS_FILTER_RUN::out
    EV_STDOUT_BROKEN_PIPE = 1, // a pipe whose reader has gone
    EV_STDOUT_DEV_FULL = 2,    // /dev/full
    EV_STDOUT_SLOW_PIPE = 3,   // a pipe read by the test through `on_stdout`
    EV_STDOUT_CLOSED = 4,      // descriptor 1 not open at all
} ET_STDOUT_MODE;

struct TS_FILTER_OPTIONS
{
    std::string program;           // path of the filter; empty: the built rastertoqel
    std::vector<std::string> args; // arguments after the program name
    std::string stdin_path;        // empty: /dev/null
    ET_STDOUT_MODE stdout_mode = EV_STDOUT_FILE;
    std::string ppd; // value of PPD, empty: unset
    // With EV_STDOUT_SLOW_PIPE: called with the child's pid and the read end
    // of its standard output; must read it to the end.
    std::function<void(int pid, int fd, Bytes& out)> on_stdout;
    // When not 0: a filter still running after this many seconds is killed
    // (TS_FILTER_RUN::signal is then SIGKILL), so that a hang fails a test
    // instead of stalling it.
    int time_limit_s = 0;
};

struct TS_FILTER_RUN
{
    int status = -1; // exit status, -1 when it did not exit normally
    int signal = 0;  // terminating signal, 0 when it exited
    Bytes out;       // standard output
    std::string err; // standard error
    // The filter's peak resident memory in KiB (ru_maxrss).
    long max_rss_kb = 0;
};

TS_FILTER_RUN run_filter(const TS_FILTER_OPTIONS& options);

// The six-argument command line of a CUPS job reading `file`.
std::vector<std::string> job_args(const std::string& file);

// Lines of a text, without their line feeds.
std::vector<std::string> split_lines(const std::string& text);

// Standard error lines that are not progress lines ("INFO: Printing page").
std::vector<std::string> status_lines(const std::string& err);

} // namespace qel_filter_test
