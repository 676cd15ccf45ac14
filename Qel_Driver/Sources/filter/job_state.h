// State of one print job, shared by the stand-alone path and the monitor path.
#pragma once

#include <cups/raster.h>

typedef enum
{
    EV_QEL_JOB_END = 0,          // no further page: go to the job end
    EV_QEL_JOB_STOPPED = 1,      // the print monitor stopped the job: exit 0 at once
    EV_QEL_JOB_CANCELLED = 2,    // SIGTERM: the page was ended, exit 0
    EV_QEL_JOB_BAD_PAGE = 3,     // a page header that cannot be printed: exit 1
    EV_QEL_JOB_WRITE_FAILED = 4, // standard output failed: exit 1
} ET_QEL_JOB_RESULT;

struct TS_QEL_JOB
{
    cups_raster_t* ras = nullptr; // null when the stream could not be opened
    cups_page_header2_t header{}; // the current page header
    int page = 0;                 // pages finished (printed or handed over)
    int i_total_page_counter = 1; // numbers pages and copies in the debug log
    bool f_page_read = false;     // a header was read and not handed over yet
};

// Reads the next page header into job.header; false at the end of the stream.
inline bool job_read_header(TS_QEL_JOB& job)
{
    return job.ras != nullptr && cupsRasterReadHeader2(job.ras, &job.header) != 0;
}
