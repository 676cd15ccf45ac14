// Cancellation of a job: CUPS cancels a filter with SIGTERM.  The handler only
// notes the request; the job flow finishes the command in work, ends the page
// and leaves.
#pragma once

// Installs the SIGTERM handler (without restarting interrupted calls, so
// pauses end early) and ignores SIGPIPE, so that a vanished reader of
// standard output shows as a failed write instead of killing the filter.
void cancel_install_handlers();

// True once SIGTERM has arrived.
bool cancel_requested();

// Pauses that end early when the job is cancelled.
void cancel_sleep_seconds(unsigned seconds);
void cancel_sleep_microseconds(unsigned microseconds);
