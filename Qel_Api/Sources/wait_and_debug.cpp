// wait_and_debug.cpp - the pause of the time-out loops and the diagnostic output.
#include "api_internal.h"
#include "Qel_Api.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <unistd.h>

/*
 * api_pause_after_empty_try - wait before the next try of a transfer that moved
 * nothing, so that an idle port does not spin.
 *
 *   timeout_ms  I  time-out of the transfer; the pause is at most 10 ms
 */
void api_pause_after_empty_try(unsigned long timeout_ms)
{
    const unsigned long pause_ms = std::min(timeout_ms, 10UL);
    if (pause_ms > 0)
    {
        usleep(static_cast<useconds_t>(pause_ms * 1000));
    }
}

/*
 * api_debug - print a diagnostic line to standard output, only when the
 * program has set DEBUG_MESSAGES to 1.
 */
void api_debug(const char* format, ...)
{
    if (DEBUG_MESSAGES != 1)
    {
        return;
    }
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}
