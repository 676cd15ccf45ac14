// Exchanges against the recording port (fake_port.h) that must fail on a
// printer's bad answer or a broken write: one fresh port per case, the
// failure message checked, and nothing sent or read after the failure.
#pragma once

#include "fake_port.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace fake_port
{

struct FailingAnswer
{
    std::vector<uint8_t> answer; // all the printer sends
    const char* message;         // what the exchange must return
    std::size_t writes = 0;      // writes that go out in all; 0: not checked
};

// Runs `exchange` once for each case on a port that holds only its answer
// (reads all-or-nothing, as a USB port reads, when `all_or_nothing`).
inline void expect_failing_answers(const std::vector<FailingAnswer>& cases,
                                   const std::function<const char*()>& exchange,
                                   bool all_or_nothing = false)
{
    for (const FailingAnswer& k : cases)
    {
        SCOPED_TRACE(::testing::Message() << k.message << (all_or_nothing ? " (usb)" : " (lp)"));
        reset();
        set_all_or_nothing(all_or_nothing);
        queue_answer(k.answer);
        const char* msg = exchange();
        ASSERT_NE(msg, nullptr);
        EXPECT_STREQ(msg, k.message);
        if (k.writes != 0)
        {
            EXPECT_EQ(writes().size(), k.writes);
        }
    }
}

// Runs `exchange` on a fresh port whose write number `nth` moves only `moved` bytes: it must
// return `message` and read nothing after the broken write.
inline void expect_failing_write(unsigned nth, int moved, const char* message,
                                 const std::function<const char*()>& exchange)
{
    SCOPED_TRACE(::testing::Message() << message << " (write " << nth << ")");
    reset();
    fail_write(nth, moved);
    EXPECT_STREQ(exchange(), message);
    EXPECT_TRUE(reads().empty());
}

} // namespace fake_port
