// The filter's side of the print monitor protocol: the probe at job start,
// the poll, the hand-over of pages and the wait after the last page.  The
// monitor is a daemon outside the kit that owns the printer while it runs.
#pragma once

#include "Qel_Tb.h"
#include "job_state.h"

// Opens one of the monitor's FIFOs through the toolbox and keeps it only when
// the descriptor really is the FIFO at `path` and no local user but root and
// the filter's own user can use it (owner root or the filter's user, no
// access for others, group access only for the filter's group or root's, no
// access control list).  Anything else found there (a regular file, a
// device, a symbolic link, a FIFO open to others) is never written to or read
// from, and a "WARNING:" line says why, once per pipe.  A missing path gives
// -1 at once.  Returns the descriptor or -1.
int monitor_open_fifo(const char* path, ET_QEL_TB_DRIVER_IO_PIPE_ACCESS access);

// Probe at job start.  Returns true when the monitor runs; START_PRINTING was
// then sent.  When the request path is missing or holds nothing the filter
// trusts (see monitor_open_fifo) the monitor does not run, decided at once; a
// FIFO without a reader gets the toolbox's 3000 ms open.  Writes
// "PIPE NOT WORKING" when the monitor does not run.
bool monitor_probe();

// One poll: IS_PRINTING request, then the answer header (id 4 when the
// request could not be sent or the answer pipe not opened, NONE when no
// whole answer came or its synchronization word was wrong).
TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER check_daemon_if_printing();

// The monitor path of a job: polls, hands over every page, sends LAST_PAGE
// and waits up to 15 s for the monitor to finish.  A page pending for more
// than 15 s without an answer the filter acts on (the monitor unreachable,
// or unknown answers) ends the job with an "ERROR:" line
// (EV_QEL_JOB_MONITOR_LOST); PAUSE answers hold a page for as long as they
// come.  Standard output must have
// been closed by the caller.
ET_QEL_JOB_RESULT monitor_path(TS_QEL_JOB& job);
