// rastertoqel - CUPS filter that turns CUPS raster pages into the command
// stream of QEL receipt printers, or hands them to the print monitor daemon
// when it runs.
#include "debug_log.h"
#include "job_cancel.h"
#include "job_state.h"
#include "monitor_client.h"
#include "output_stream.h"
#include "stand_alone_page.h"

#include <cups/ppd.h>
#include <cups/raster.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#ifndef QEL_FILTER_DEBUG_LOG_ON
#define QEL_FILTER_DEBUG_LOG_ON 0
#endif

const int f_log_file = QEL_FILTER_DEBUG_LOG_ON;

namespace
{

void lo_report_write_failure()
{
    std::fprintf(stderr, "ERROR: Unable to write print data: %s\n", std::strerror(output_error()));
}

// The job printed by the filter itself, every page to standard output.
ET_QEL_JOB_RESULT lo_stand_alone_path(TS_QEL_JOB& job)
{
    for (;;)
    {
        std::fputs("QEL PRINT MONITOR DAEMON IS NOT RUNNIG\nSTARTING PRINTING WITHOUT DAEMON\n",
                   stderr);
        debug_log("RASTERTOQEL -> QEL DAEMON STATUS", "NOT AVAILABLE");
        if (cancel_requested() || !job_read_header(job))
        {
            break;
        }
        const ET_QEL_JOB_RESULT result = stand_alone_print_page(job);
        if (result != EV_QEL_JOB_END)
        {
            return result;
        }
    }
    return cancel_requested() ? EV_QEL_JOB_CANCELLED : EV_QEL_JOB_END;
}

// Standard output of the monitor path: nothing is written there, and the
// backend sees its end at once.  /dev/null takes its place so that no pipe
// descriptor opened later can end up as descriptor 1.
void lo_close_standard_output()
{
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd >= 0)
    {
        dup2(null_fd, STDOUT_FILENO);
        close(null_fd);
    }
    else
    {
        close(STDOUT_FILENO);
    }
}

// Nothing in the PPD is consulted; only the debug log reports whether it
// opened.  Parsing a PPD of many options costs start-up time and memory on
// every job, so the delivered build leaves it closed.  libcups marks the PPD
// functions deprecated, yet they are the filter interface.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
ppd_file_t* lo_open_ppd(const char* path)
{
    return (f_log_file != 0 && path != nullptr) ? ppdOpenFile(path) : nullptr;
}

void lo_close_ppd(ppd_file_t* ppd)
{
    if (ppd != nullptr)
    {
        ppdClose(ppd);
    }
}
#pragma GCC diagnostic pop

} // namespace

int main(int argc, char* argv[])
{
    debug_log_start();
    setbuf(stderr, nullptr);
    cancel_install_handlers();

    if (argc != 6 && argc != 7)
    {
        std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
        return 1;
    }

    int fd = 0;
    if (argc == 7)
    {
        fd = open(argv[6], O_RDONLY | O_CLOEXEC);
        if (fd < 0)
        {
            std::perror("ERROR: Unable to open raster file - ");
            sleep(1);
            return 1;
        }
    }
    debug_logf("INFO", "Raster file %d", fd);

    TS_QEL_JOB job;
    job.ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    debug_log("Raster file opened", job.ras != nullptr ? "OK" : "FAILURE");
    ppd_file_t* ppd = lo_open_ppd(getenv("PPD"));
    debug_log("PPD file opened", ppd != nullptr ? "OK" : "FAILURE");

    output_open(STDOUT_FILENO);
    const bool f_daemon_active = monitor_probe();
    job.i_total_page_counter = 1;
    job.page = 0;
    job.f_page_read = false;

    ET_QEL_JOB_RESULT result;
    if (f_daemon_active)
    {
        lo_close_standard_output();
        result = monitor_path(job);
        if (result == EV_QEL_JOB_STOPPED)
        {
            // The monitor ended the job: no status line, no job end.
            lo_close_ppd(ppd);
            if (job.ras != nullptr)
            {
                cupsRasterClose(job.ras);
            }
            return 0;
        }
    }
    else
    {
        result = lo_stand_alone_path(job);
        // A page end that waited for the job's end goes out with its cut;
        // whatever was printed reaches the printer, also before an error.
        const bool f_end_written = stand_alone_end_job();
        if ((!f_end_written || !output_flush()) && result != EV_QEL_JOB_WRITE_FAILED)
        {
            result = EV_QEL_JOB_WRITE_FAILED;
        }
        debug_logf("SUCCESS", "RASTERTOQEL -> %d PAGES PRINTED", job.i_total_page_counter - 1);
    }

    lo_close_ppd(ppd);
    if (job.ras != nullptr)
    {
        cupsRasterClose(job.ras);
    }
    if (fd != 0)
    {
        close(fd);
    }
    debug_log("RASTERTOQEL -> CLOSING COMMUNICATION TO QEL DAEMON", "SUCCESS");
    debug_log("RASTERTOQEL -> ENDING PRINTING", "SUCCESS");

    switch (result)
    {
    case EV_QEL_JOB_WRITE_FAILED:
        lo_report_write_failure();
        return 1;
    case EV_QEL_JOB_BAD_PAGE:
    case EV_QEL_JOB_MONITOR_LOST:
        return 1;
    case EV_QEL_JOB_CANCELLED:
        return 0;
    default:
        break;
    }
    if (job.page == 0)
    {
        std::fputs("ERROR: No pages found!\n", stderr);
        return 1;
    }
    std::fputs("INFO: Ready to print.\n", stderr);
    return 0;
}
