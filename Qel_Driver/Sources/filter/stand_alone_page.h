// One page of the stand-alone path: read from the raster stream, encoded as
// its lines arrive and written to standard output, copies included.
#pragma once

#include "job_state.h"

// Prints the page whose header is in job.header with all its copies: page
// start settings, then every copy ending with its page end.  The first copy
// streams; further copies repeat its encoded bytes, which are kept only when
// the page has more than one copy.  A cancelled job ends the copy in work
// between two dot lines with its page end.  A page wider than the print
// head prints its middle 576 dots, with a warning.  When the page asks for
// the cut at the end of the job, the page end of its last copy waits for the
// next page (no cut) or stand_alone_end_job (cut).
ET_QEL_JOB_RESULT stand_alone_print_page(TS_QEL_JOB& job);

// Writes the page end that still waits for the end of the job, with its cut.
// Returns false when the write failed.
bool stand_alone_end_job();
