// State of one print job, shared by the stand-alone path and the monitor path.
#pragma once

#include <cups/raster.h>

#include <cstdio>

typedef enum
{
    EV_QEL_JOB_END = 0,          // no further page: go to the job end
    EV_QEL_JOB_STOPPED = 1,      // the print monitor stopped the job: exit 0 at once
    EV_QEL_JOB_CANCELLED = 2,    // SIGTERM: the page was ended, exit 0
    EV_QEL_JOB_BAD_PAGE = 3,     // a page header that cannot be printed: exit 1
    EV_QEL_JOB_WRITE_FAILED = 4, // standard output failed: exit 1
    EV_QEL_JOB_MONITOR_LOST = 5, // the print monitor stopped answering: exit 1
} ET_QEL_JOB_RESULT;

// The most copies of one page, CUPS's default MaxCopies.  A page header
// asking for more gets this many, so that a header cannot make the filter
// print without end or report a negative page count.
inline constexpr unsigned QEL_MAX_COPIES = 9999;

struct TS_QEL_JOB
{
    cups_raster_t* ras = nullptr; // null when the stream could not be opened
    cups_page_header2_t header{}; // the current page header
    int page = 0;                 // pages finished (printed or handed over)
    int i_total_page_counter = 1; // numbers pages and copies in the debug log
    bool f_page_read = false;     // a header was read and not handed over yet
};

// Reads the next page header into job.header; false at the end of the
// stream.  Copies beyond QEL_MAX_COPIES are cut to it, with an "INFO:" line.
inline bool job_read_header(TS_QEL_JOB& job)
{
    if (job.ras == nullptr || cupsRasterReadHeader2(job.ras, &job.header) == 0)
    {
        return false;
    }
    if (job.header.NumCopies > QEL_MAX_COPIES)
    {
        std::fprintf(stderr, "INFO: Page %d asks for %u copies; %u are printed\n", job.page + 1,
                     job.header.NumCopies, QEL_MAX_COPIES);
        job.header.NumCopies = QEL_MAX_COPIES;
    }
    return true;
}
