// SIGTERM handling and interruptible pauses of the filter.
#include "job_cancel.h"

#include <csignal>
#include <ctime>
#include <cerrno>

namespace
{

volatile sig_atomic_t f_cancel_requested = 0;

void lo_on_sigterm(int)
{
    f_cancel_requested = 1;
}

void lo_sleep(time_t seconds, long nanoseconds)
{
    timespec left = {seconds, nanoseconds};
    // nanosleep returns early with EINTR when SIGTERM arrives; then the job
    // ends instead of waiting out the pause.
    while (f_cancel_requested == 0 && nanosleep(&left, &left) != 0 && errno == EINTR)
    {
    }
}

} // namespace

void cancel_install_handlers()
{
    struct sigaction action = {};
    action.sa_handler = lo_on_sigterm;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGTERM, &action, nullptr);

    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

bool cancel_requested()
{
    return f_cancel_requested != 0;
}

void cancel_sleep_seconds(unsigned seconds)
{
    lo_sleep(static_cast<time_t>(seconds), 0);
}

void cancel_sleep_microseconds(unsigned microseconds)
{
    lo_sleep(static_cast<time_t>(microseconds / 1000000),
             static_cast<long>(microseconds % 1000000) * 1000);
}
