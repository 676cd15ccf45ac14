// Time stamps, stamp differences and ages on the real-time clock.
#include "Qel_Tb.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{
struct timespec Ts(time_t s, long ns)
{
    struct timespec ts;
    ts.tv_sec = s;
    ts.tv_nsec = ns;
    return ts;
}

// The difference of `first` and `second` (either order) into a fresh result.
void ExpectDelta(struct timespec first, struct timespec second, time_t sec, long nsec)
{
    struct timespec d = Ts(-1, -1);
    qel_tb_get_delta_ts(&first, &second, &d);
    EXPECT_EQ(d.tv_sec, sec) << first.tv_sec << "." << first.tv_nsec << " vs " << second.tv_sec
                             << "." << second.tv_nsec;
    EXPECT_EQ(d.tv_nsec, nsec) << first.tv_sec << "." << first.tv_nsec << " vs " << second.tv_sec
                               << "." << second.tv_nsec;
}
} // namespace

TEST(TimeDelta, IsLaterMinusEarlierInEitherOrder)
{
    struct timespec a = Ts(5, 100);
    struct timespec b = Ts(4, 200);
    struct timespec d1 = Ts(-1, -1), d2 = Ts(-1, -1);
    qel_tb_get_delta_ts(&a, &b, &d1);
    qel_tb_get_delta_ts(&b, &a, &d2);
    EXPECT_EQ(d1.tv_sec, 0);
    EXPECT_EQ(d1.tv_nsec, 999999900);
    EXPECT_EQ(d2.tv_sec, 0);
    EXPECT_EQ(d2.tv_nsec, 999999900);
    unsigned long ms = 12345;
    qel_tb_convert_ts_to_ms(&d1, &ms);
    EXPECT_EQ(ms, 999UL);

    // Same seconds: the nanoseconds decide the order.
    ExpectDelta(Ts(7, 100), Ts(7, 900), 0, 800);
    ExpectDelta(Ts(10, 999999999), Ts(1000, 0), 989, 1);
}

TEST(TimeDelta, EqualStampsGiveZero)
{
    struct timespec a = Ts(42, 123456789);
    struct timespec b = a;
    struct timespec d = Ts(9, 9);
    qel_tb_get_delta_ts(&a, &b, &d);
    EXPECT_EQ(d.tv_sec, 0);
    EXPECT_EQ(d.tv_nsec, 0);
    unsigned long ms = 1;
    qel_tb_convert_ts_to_ms(&d, &ms);
    EXPECT_EQ(ms, 0UL);
}

TEST(TimeDelta, ResultMayOverwriteAnInput)
{
    struct timespec a = Ts(3, 0);
    struct timespec b = Ts(5, 500);
    qel_tb_get_delta_ts(&a, &b, &a);
    EXPECT_EQ(a.tv_sec, 2);
    EXPECT_EQ(a.tv_nsec, 500);
}

TEST(TimeDelta, NullPointersWriteNothing)
{
    struct timespec a = Ts(3, 0);
    struct timespec d = Ts(77, 77);
    qel_tb_get_delta_ts(nullptr, &a, &d);
    qel_tb_get_delta_ts(&a, nullptr, &d);
    EXPECT_EQ(d.tv_sec, 77);
    EXPECT_EQ(d.tv_nsec, 77);
    qel_tb_get_delta_ts(&a, &a, nullptr);

    unsigned long ms = 5;
    qel_tb_convert_ts_to_ms(nullptr, &ms);
    EXPECT_EQ(ms, 5UL);
    qel_tb_convert_ts_to_ms(&a, nullptr);
    qel_tb_set_time_stamp(nullptr);
    EXPECT_EQ(qel_tb_calc_age_in_ms(nullptr), 0UL);
}

TEST(TimeConvert, TruncatesBelowOneMillisecond)
{
    unsigned long ms = 0;
    struct timespec a = Ts(1, 999999);
    qel_tb_convert_ts_to_ms(&a, &ms);
    EXPECT_EQ(ms, 1000UL);
    a = Ts(0, 1000000);
    qel_tb_convert_ts_to_ms(&a, &ms);
    EXPECT_EQ(ms, 1UL);
    a = Ts(4000000, 999999999);
    qel_tb_convert_ts_to_ms(&a, &ms);
    EXPECT_EQ(ms, 4000000999UL);
}

TEST(TimeAge, IsAbsoluteDistanceToTheRealTimeClock)
{
    struct timespec now = Ts(0, 0);
    qel_tb_set_time_stamp(&now);
    struct timespec real;
    clock_gettime(CLOCK_REALTIME, &real);
    // The stamp comes from CLOCK_REALTIME, not the monotonic clock.
    EXPECT_LE(now.tv_sec, real.tv_sec);
    EXPECT_GE(now.tv_sec, real.tv_sec - 5);

    struct timespec past = now;
    past.tv_sec -= 100;
    const unsigned long past_age = qel_tb_calc_age_in_ms(&past);
    EXPECT_GE(past_age, 100000UL);
    EXPECT_LT(past_age, 200000UL);

    // A stamp in the future (clock set back) counts as that far in the past.
    struct timespec future = now;
    future.tv_sec += 100;
    const unsigned long future_age = qel_tb_calc_age_in_ms(&future);
    EXPECT_LE(future_age, 100000UL);
    EXPECT_GT(future_age, 50000UL);
}

TEST(LibraryInfo, IsTheFixedVersionTextAtOneAddress)
{
    char* first = qel_tb_get_library_info();
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "Dornwaldt - libQelTb.so - R4-V1.04 - S417302");
    EXPECT_EQ(first, qel_tb_get_library_info());
}
