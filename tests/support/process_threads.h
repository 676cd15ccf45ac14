// process_threads.h - the threads of this test process.
#pragma once

namespace test_support
{

// Threads of this process once their number has settled (a libusb context owns one while it
// lives; the threads of an earlier one may still be ending).
int thread_count();

} // namespace test_support
