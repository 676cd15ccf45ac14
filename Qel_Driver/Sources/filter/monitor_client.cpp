// The filter's side of the print monitor protocol.
#include "monitor_client.h"

#include "debug_log.h"
#include "job_cancel.h"
#include "monitor_package.h"
#include "page_image.h"

#include <cstdio>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace
{

constexpr const char* k_request_fifo = QEL_TB_PRINT_MONITOR_REQUEST_FIFO;
constexpr const char* k_answer_fifo = QEL_TB_PRINT_MONITOR_ANSWER_FIFO;

// Time-outs of the exchanges, in milliseconds.
constexpr unsigned long k_start_write_ms = 2000;
constexpr unsigned long k_poll_write_ms = 3000;
constexpr unsigned long k_answer_read_ms = 5000;
constexpr unsigned long k_package_header_write_ms = 2000;
constexpr unsigned long k_settings_write_ms = 3000;
constexpr unsigned long k_page_data_write_ms = 10000;
constexpr unsigned long k_last_page_write_ms = 5000;
constexpr unsigned long k_stop_write_ms = 5000;
// How long the filter waits for the monitor to finish after the last page.
constexpr unsigned long k_last_page_wait_ms = 15000;
// How long a page waits on a monitor that cannot be reached or gives no
// answer the filter knows; then the job ends with an error.
constexpr unsigned long k_unanswered_limit_ms = 15000;

// The one package header of the process; every step overwrites it.
TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER s_package_header;
// Start of the wait after the last page.
struct timespec ts_start_inquiring;

bool lo_is_fifo_path(const char* path, struct stat* st)
{
    return lstat(path, st) == 0 && S_ISFIFO(st->st_mode);
}

bool lo_is_filter_group(gid_t gid)
{
    const struct group* filter_group = getgrnam("lp");
    return filter_group != nullptr && filter_group->gr_gid == gid;
}

// Whether the file described by `st` (from lstat) may carry a job: a FIFO
// that no local user other than root and the filter's own user can read or
// write.  Its owner is root (the daemon) or the filter's user; nobody else
// has access, and its group has access only when the group is the
// filter's own, root's or CUPS's filter group "lp" (the group a root
// daemon gives its FIFOs).  Otherwise `why` tells what is wrong.
bool lo_is_trusted_fifo(const char* path, const struct stat& st, char* why, size_t why_size)
{
    const mode_t mode = st.st_mode & 07777;
    if (S_ISLNK(st.st_mode))
    {
        std::snprintf(why, why_size, "it is a symbolic link");
    }
    else if (!S_ISFIFO(st.st_mode))
    {
        std::snprintf(why, why_size, "it is not a FIFO");
    }
    else if (st.st_uid != 0 && st.st_uid != geteuid())
    {
        std::snprintf(why, why_size, "it belongs to user %u", static_cast<unsigned>(st.st_uid));
    }
    else if ((mode & S_IRWXO) != 0)
    {
        std::snprintf(why, why_size, "it is open to all users (mode %04o)",
                      static_cast<unsigned>(mode));
    }
    else if ((mode & S_IRWXG) != 0 && st.st_gid != 0 && st.st_gid != getegid() &&
             !lo_is_filter_group(st.st_gid))
    {
        std::snprintf(why, why_size, "it is open to group %u (mode %04o)",
                      static_cast<unsigned>(st.st_gid), static_cast<unsigned>(mode));
    }
    else if (lgetxattr(path, "system.posix_acl_access", nullptr, 0) > 0)
    {
        // Named users or groups of an access list pass the mode bits.
        std::snprintf(why, why_size, "it has an access control list");
    }
    else
    {
        return true;
    }
    return false;
}

// Says once per job and pipe why the pipe is not used.
void lo_warn_untrusted(const char* path, const char* why)
{
    static bool f_warned_request = false;
    static bool f_warned_answer = false;
    bool& f_warned = std::strcmp(path, k_answer_fifo) == 0 ? f_warned_answer : f_warned_request;
    if (!f_warned)
    {
        std::fprintf(stderr, "WARNING: Print monitor pipe %s not used: %s\n", path, why);
        f_warned = true;
    }
}

// Writes a package header; true when all 24 bytes went.
bool lo_write_header(int pipe, const TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER& header,
                     unsigned long timeout_ms)
{
    unsigned char bytes[QEL_PACKAGE_HEADER_BYTES];
    pack_package_header(header, bytes);
    return qel_tb_write_named_pipe(pipe, bytes, sizeof bytes, timeout_ms) == sizeof bytes;
}

// A request without data in one open-write-close.  False when the pipe did
// not open.
bool lo_send_request(int32_t id, unsigned long timeout_ms)
{
    const int pipe = monitor_open_fifo(k_request_fifo, EV_QEL_TB_DRIVER_IO_PIPE_ACCESS_WRITE);
    if (pipe < 0)
    {
        return false;
    }
    s_package_header = make_package_header(id, 0);
    lo_write_header(pipe, s_package_header, timeout_ms);
    qel_tb_close_named_pipe(pipe);
    return true;
}

// The settings package of a page.
void lo_send_page_settings(const cups_page_header2_t& header)
{
    const int pipe = monitor_open_fifo(k_request_fifo, EV_QEL_TB_DRIVER_IO_PIPE_ACCESS_WRITE);
    if (pipe < 0)
    {
        debug_log("RASTERTOQEL -> ERROR OPENING PIPE TO PRINT MONITOR", "FAILED");
        return;
    }
    s_package_header =
        make_package_header(EV_QEL_TB_DRIVER_IO_MSG_REQUEST_PAGE_SETTINGS, QEL_PAGE_SETTINGS_BYTES);
    // Data after a header that did not go out whole would only confuse the
    // monitor's reading of the next package.
    if (!lo_write_header(pipe, s_package_header, k_package_header_write_ms))
    {
        debug_log("RASTERTOQEL -> ERROR WRITING HEADER TO MONITOR", "FAILED");
    }
    else
    {
        unsigned char settings[QEL_PAGE_SETTINGS_BYTES];
        pack_page_settings(page_settings_from_header(header), settings);
        if (qel_tb_write_named_pipe(pipe, settings, sizeof settings, k_settings_write_ms) !=
            sizeof settings)
        {
            debug_log("RASTERTOQEL -> ERROR WRITING PRINT SETTINGS TO MONITOR", "FAILED");
        }
        else
        {
            debug_logf("DONE", "RASTERTOQEL -> WRITING PRINT SETTINGS TO MONITOR, %d",
                       static_cast<int>(sizeof settings));
        }
    }
    qel_tb_close_named_pipe(pipe);
}

// The raw page image package of a page.
void lo_send_page_data(const unsigned char* image, size_t bytes)
{
    const int pipe = monitor_open_fifo(k_request_fifo, EV_QEL_TB_DRIVER_IO_PIPE_ACCESS_WRITE);
    if (pipe < 0)
    {
        debug_log("RASTERTOQEL -> ERROR OPENING PIPE TO PRINT MONITOR FOR SENDING PRINT DATA",
                  "FAILED");
        return;
    }
    s_package_header = make_package_header(EV_QEL_TB_DRIVER_IO_MSG_REQUEST_PAGE_DATA, bytes);
    if (!lo_write_header(pipe, s_package_header, k_package_header_write_ms))
    {
        debug_log("RASTERTOQEL -> ERROR WRITING HEADER TO MONITOR", "FAILED");
    }
    else
    {
        const unsigned long written =
            qel_tb_write_named_pipe(pipe, image, bytes, k_page_data_write_ms);
        if (written != bytes)
        {
            debug_log("RASTERTOQEL -> ERROR WRITING PRINT DATA TO MONITOR", "FAILED");
        }
        else
        {
            debug_logf("DONE", "RASTERTOQEL -> WRITING PRINT DATA TO MONITOR, %ld",
                       static_cast<long>(written));
        }
    }
    qel_tb_close_named_pipe(pipe);
}

// Reads the pending page and hands it over: settings, then the raw image.
ET_QEL_JOB_RESULT lo_hand_over_page(TS_QEL_JOB& job)
{
    const cups_page_header2_t& header = job.header;
    size_t bytes = 0;
    const ET_QEL_PAGE_SIZE check = page_image_size(header, &bytes);
    TS_QEL_PAGE_IMAGE image = (check == EV_QEL_PAGE_SIZE_OK) ? page_image_allocate(bytes) : nullptr;
    if (!image)
    {
        page_image_report_unusable(job.page + 1, header, check);
        return EV_QEL_JOB_BAD_PAGE;
    }

    std::fprintf(stderr, "PAGE: %d %d\n", job.page + 1, static_cast<int>(header.NumCopies));
    debug_logf("SUCCESS", "RASTERTOQEL -> STARTING READING PAGE (%d)", job.i_total_page_counter);
    debug_logf("SUCCESS",
               "XXXXX    RASTERTOQEL -> CupsWidth (%d) , CupsHeight (%d), BYtes per line %d",
               static_cast<int>(header.cupsWidth), static_cast<int>(header.cupsHeight),
               static_cast<int>(header.cupsBytesPerLine));
    const uint32_t lines = page_image_read(job.ras, header, image.get(), job.page);
    debug_logf("DONE", "RASTERTOQEL -> READING PAGE (%d),  %d TIMES,  %ld PRINTING LINES READ",
               job.i_total_page_counter, static_cast<int>(header.NumCopies),
               static_cast<long>(lines));
    if (cancel_requested())
    {
        return EV_QEL_JOB_CANCELLED;
    }

    cancel_sleep_seconds(1);
    lo_send_page_settings(header);
    cancel_sleep_seconds(1);
    lo_send_page_data(image.get(), bytes);

    // The page counts as handed over whatever the writes achieved.
    job.page += 1;
    job.i_total_page_counter += static_cast<int>(header.NumCopies);
    return cancel_requested() ? EV_QEL_JOB_CANCELLED : EV_QEL_JOB_END;
}

void lo_log_answer(int32_t id)
{
    switch (id)
    {
    case EV_QEL_TB_DRIVER_IO_MSG_NONE:
        debug_log("RASTERTOQEL -> RESPONSE MESSAGE 'EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_NONE'",
                  "RECIEVED");
        [[fallthrough]];
    case EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_START_PRINTING:
        debug_log("RASTERTOQEL -> RESPONSE MESSAGE "
                  "'EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_START_PRINTING'",
                  "RECIEVED");
        break;
    case EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_PAUSE_PRINTING:
        debug_log("RASTERTOQEL -> RESPONSE MESSAGE "
                  "'EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_PAUSE_PRINTING'",
                  "RECIEVED");
        break;
    case EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_STOP_PRINTING:
        debug_log(
            "RASTERTOQEL -> RESPONSE MESSAGE 'EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_STOP_PRINTING'",
            "RECIEVED");
        debug_log("RASTERTOQEL -> ERROR DURING PRINTING", "ERROR");
        break;
    default:
        break;
    }
}

// After the last page: LAST_PAGE, then a poll a second until the monitor
// answers STOP_PRINTING (printing completed) or 15 s have passed.
void lo_wait_for_last_page()
{
    debug_log("RASTERTOQEL -> LAST PAGE PRINTING", "STARTED");
    if (!lo_send_request(EV_QEL_TB_DRIVER_IO_MSG_REQUEST_LAST_PAGE, k_last_page_write_ms))
    {
        debug_log("RASTERTOQEL -> ERROR OPENING PIPE TO PRINT MONITOR", "FAILED");
    }
    qel_tb_set_time_stamp(&ts_start_inquiring);
    bool f_printing_done = false;
    do
    {
        cancel_sleep_seconds(1);
        if (cancel_requested())
        {
            return;
        }
        s_package_header.id = EV_QEL_TB_DRIVER_IO_MSG_NONE;
        if (check_daemon_if_printing().id == EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_STOP_PRINTING)
        {
            debug_log("RASTERTOQEL -> PRINTING COMPLETED", "SUCCESS");
            f_printing_done = true;
        }
        else
        {
            debug_log("RASTERTOQEL -> PRINTING NOT COMPLETED YET", "DONE");
        }
    } while (!f_printing_done && qel_tb_calc_age_in_ms(&ts_start_inquiring) <= k_last_page_wait_ms);
    if (qel_tb_calc_age_in_ms(&ts_start_inquiring) > k_last_page_wait_ms)
    {
        debug_log("RASTERTOQEL -> TIMEOUT FOR INQUIRING OF JOB STATUS", "FAILURE");
    }
    debug_log("RASTERTOQEL -> LAST PAGE PRINTING", "DONE");
}

} // namespace

int monitor_open_fifo(const char* path, ET_QEL_TB_DRIVER_IO_PIPE_ACCESS access)
{
    // Nothing at the path: no monitor, and nothing to wait for.  Anything
    // but a FIFO that only root and the filter's user can use is not the
    // monitor's: leave it alone.
    struct stat before;
    char why[96];
    if (lstat(path, &before) != 0)
    {
        return -1;
    }
    if (!lo_is_trusted_fifo(path, before, why, sizeof why))
    {
        lo_warn_untrusted(path, why);
        return -1;
    }
    const int pipe = qel_tb_open_named_pipe(path, access);
    if (pipe < 0)
    {
        return -1;
    }
    // The descriptor must be the very FIFO checked above, still the one the
    // path names (not one reached through a link put there in the
    // meantime), and still closed to other users.
    struct stat opened;
    struct stat named;
    if (fstat(pipe, &opened) != 0 || !S_ISFIFO(opened.st_mode) || !lo_is_fifo_path(path, &named) ||
        named.st_dev != opened.st_dev || named.st_ino != opened.st_ino ||
        before.st_dev != opened.st_dev || before.st_ino != opened.st_ino ||
        !lo_is_trusted_fifo(path, opened, why, sizeof why))
    {
        qel_tb_close_named_pipe(pipe);
        return -1;
    }
    return pipe;
}

bool monitor_probe()
{
    debug_log("RASTERTOQEL -> STARTING COMMUNICATION WITH DAEMON", "STARTING");
    s_package_header = make_package_header(EV_QEL_TB_DRIVER_IO_MSG_REQUEST_START_PRINTING, 0);
    debug_logf("STARTING", "RASTERTOQEL -> PACKAGE CREATED %ld DATA SIZE, %d HEADER SIZE",
               static_cast<long>(s_package_header.data_size), s_package_header.header_size);

    // Without a FIFO at the request path no monitor is installed or running,
    // and one that other users can reach is no monitor of ours: neither
    // costs the open's 3000 ms (see monitor_open_fifo).
    const int pipe = monitor_open_fifo(k_request_fifo, EV_QEL_TB_DRIVER_IO_PIPE_ACCESS_WRITE);
    if (pipe < 0)
    {
        debug_log("RASTERTOQEL -> QEL DAEMON STATUS", "NOT ACTIVE");
        std::fputs("PIPE NOT WORKING\n", stderr);
        return false;
    }
    debug_log("RASTERTOQEL -> QEL DAEMON STATUS", "ACTIVE-RUNNING");
    lo_write_header(pipe, s_package_header, k_start_write_ms);
    qel_tb_close_named_pipe(pipe);
    return true;
}

TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER check_daemon_if_printing()
{
    debug_log("RASTERTOQEL -> QEL DAEMON STATUS", "ACTIVE-RUNNING");
    s_package_header = make_package_header(EV_QEL_TB_DRIVER_IO_MSG_REQUEST_IS_PRINTING, 0);
    const TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER request = s_package_header;

    int pipe = monitor_open_fifo(k_request_fifo, EV_QEL_TB_DRIVER_IO_PIPE_ACCESS_WRITE);
    if (pipe < 0)
    {
        debug_log("RASTERTOQEL -> WRITING REQUEST TO QEL DAEMON ", "FAILED");
        return request;
    }
    unsigned char bytes[QEL_PACKAGE_HEADER_BYTES];
    pack_package_header(request, bytes);
    const unsigned long written =
        qel_tb_write_named_pipe(pipe, bytes, sizeof bytes, k_poll_write_ms);
    qel_tb_close_named_pipe(pipe);
    if (written < 1)
    {
        debug_log("RASTERTOQEL -> WRITING REQUEST TO QEL DAEMON ", "FAILED");
        return request;
    }
    debug_log("RASTERTOQEL -> WRITING REQUEST TO QEL DAEMON ", "SUCCESS");

    pipe = monitor_open_fifo(k_answer_fifo, EV_QEL_TB_DRIVER_IO_PIPE_ACCESS_READ);
    if (pipe < 0)
    {
        debug_log("RASTERTOQEL -> READING RESPONSE FROM QEL DAEMON ", "FAILED");
        return request;
    }
    debug_log("RASTERTOQEL -> READING FROM PIPE", "STARTED");
    s_package_header = make_package_header(EV_QEL_TB_DRIVER_IO_MSG_NONE, 0);
    pack_package_header(s_package_header, bytes);
    const unsigned long count = qel_tb_read_named_pipe(pipe, bytes, sizeof bytes, k_answer_read_ms);
    qel_tb_close_named_pipe(pipe);
    debug_logf("SUCCESS", "RASTERTOQEL -> READ DATA   %d BYTES READ", static_cast<int>(count));
    s_package_header = answer_from_bytes(bytes, count);
    if (count == sizeof bytes &&
        s_package_header.synchronization == QEL_TB_DRIVER_IO_SYNCHRONIZATION)
    {
        debug_logf("SUCCESS", "RASTERTOQEL -> SYNCHRONIZATIO,  %d BYTES READ",
                   static_cast<int>(count));
    }
    debug_logf("DONE", "RASTERTOQEL -> READING FROM PIPE , %d BYTES", static_cast<int>(count));
    debug_log("RASTERTOQEL -> READING RESPONSE FROM QEL DAEMON ", count > 0 ? "DONE" : "FAILED");
    return s_package_header;
}

ET_QEL_JOB_RESULT monitor_path(TS_QEL_JOB& job)
{
    // When the monitor last gave an answer the filter acts on.
    struct timespec ts_last_answer;
    qel_tb_set_time_stamp(&ts_last_answer);
    for (;;)
    {
        cancel_sleep_seconds(1);
        if (cancel_requested())
        {
            return EV_QEL_JOB_CANCELLED;
        }
        s_package_header.id = EV_QEL_TB_DRIVER_IO_MSG_NONE;
        const TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER answer = check_daemon_if_printing();

        if (!job.f_page_read)
        {
            if (!job_read_header(job))
            {
                break;
            }
            job.f_page_read = true;
        }

        lo_log_answer(answer.id);
        switch (answer.id)
        {
        case EV_QEL_TB_DRIVER_IO_MSG_NONE:
        case EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_START_PRINTING:
        {
            job.f_page_read = false;
            const ET_QEL_JOB_RESULT result = lo_hand_over_page(job);
            if (result != EV_QEL_JOB_END)
            {
                return result;
            }
            break;
        }
        case EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_PAUSE_PRINTING:
            cancel_sleep_microseconds(10);
            break;
        case EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_STOP_PRINTING:
            // Before the first page the monitor is told that the job is dropped.
            if (job.page == 0)
            {
                lo_send_request(EV_QEL_TB_DRIVER_IO_MSG_REQUEST_STOP_PRINTING, k_stop_write_ms);
            }
            return EV_QEL_JOB_STOPPED;
        default:
            // The page stays pending, but not for ever: a monitor that cannot
            // be reached (id 4) or gives no known answer ends the job.
            if (qel_tb_calc_age_in_ms(&ts_last_answer) > k_unanswered_limit_ms)
            {
                debug_log("RASTERTOQEL -> QEL DAEMON STATUS", "NOT AVAILABLE");
                std::fprintf(stderr,
                             "ERROR: The print monitor has not answered for %lu s; the job stops\n",
                             k_unanswered_limit_ms / 1000);
                return EV_QEL_JOB_MONITOR_LOST;
            }
            continue;
        }
        qel_tb_set_time_stamp(&ts_last_answer);
    }
    lo_wait_for_last_page();
    return cancel_requested() ? EV_QEL_JOB_CANCELLED : EV_QEL_JOB_END;
}
