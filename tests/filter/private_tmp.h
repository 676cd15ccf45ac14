// The print monitor's FIFOs live at fixed paths in /tmp, which every filter
// on the machine probes.  The job tests therefore run in a mount namespace of
// their own with a private /tmp, so that a filter started elsewhere (a
// benchmark, another build's tests) never talks to the test's monitor and the
// tests never see another monitor.  Where that is not allowed (no privilege),
// the tests share /tmp and serialise through a lock file instead.
#pragma once

namespace qel_filter_test
{

// Call first thing in main(), before any thread exists.  Returns true when
// /tmp is private to this process and its children.
bool private_tmp_setup();

// Undoes the private /tmp and removes what the tests left in it.
void private_tmp_teardown();

// With a shared /tmp: takes the machine-wide lock of the monitor FIFO tests
// (held until private_tmp_unlock); with a private /tmp it does nothing.
void shared_tmp_lock();
void shared_tmp_unlock();

} // namespace qel_filter_test
