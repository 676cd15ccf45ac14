// time_stamps.cpp - real-time clock stamps and elapsed milliseconds.
#include "Qel_Tb.h"

namespace
{
// Library version text: maker - file name - release - part number.
char lo_library_info[] = "Dornwaldt - libQelTb.so - R4-V1.04 - S417302";

constexpr long lo_ns_per_s = 1000000000L;
constexpr long lo_ns_per_ms = 1000000L;
} // namespace

extern "C" char* qel_tb_get_library_info(void)
{
    return lo_library_info;
}

extern "C" void qel_tb_set_time_stamp(struct timespec* ts_start)
{
    if (ts_start == nullptr)
        return;
    struct timespec now;
    // A failed read leaves the caller's stamp untouched.
    if (clock_gettime(CLOCK_REALTIME, &now) == 0)
        *ts_start = now;
}

extern "C" void qel_tb_get_delta_ts(struct timespec* ts1, struct timespec* ts2,
                                    struct timespec* delta)
{
    if (ts1 == nullptr || ts2 == nullptr || delta == nullptr)
        return;

    // Work on copies: delta may be one of the two inputs.
    struct timespec later = *ts1;
    struct timespec earlier = *ts2;
    if (later.tv_sec < earlier.tv_sec ||
        (later.tv_sec == earlier.tv_sec && later.tv_nsec < earlier.tv_nsec))
    {
        later = *ts2;
        earlier = *ts1;
    }

    struct timespec d;
    d.tv_sec = later.tv_sec - earlier.tv_sec;
    d.tv_nsec = later.tv_nsec - earlier.tv_nsec;
    if (d.tv_nsec < 0)
    {
        d.tv_sec -= 1;
        d.tv_nsec += lo_ns_per_s;
    }
    *delta = d;
}

extern "C" void qel_tb_convert_ts_to_ms(struct timespec* ts, unsigned long* ms)
{
    if (ts == nullptr || ms == nullptr)
        return;
    *ms = static_cast<unsigned long>(ts->tv_sec) * 1000UL +
          static_cast<unsigned long>(ts->tv_nsec / lo_ns_per_ms);
}

extern "C" unsigned long qel_tb_calc_age_in_ms(struct timespec* ts_start)
{
    if (ts_start == nullptr)
        return 0;
    struct timespec now;
    if (clock_gettime(CLOCK_REALTIME, &now) != 0)
        return 0;
    struct timespec delta;
    qel_tb_get_delta_ts(&now, ts_start, &delta);
    unsigned long ms = 0;
    qel_tb_convert_ts_to_ms(&delta, &ms);
    return ms;
}
