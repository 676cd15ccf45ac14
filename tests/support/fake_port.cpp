// Printer access functions recording into memory (see fake_port.h).
#include "fake_port.h"

#include "Qel_Api.h"

#include <algorithm>
#include <cstring>
#include <deque>

namespace
{

std::vector<fake_port::Call> g_calls;
std::deque<uint8_t> g_answer;
unsigned g_fail_nth = 0;
int g_fail_moved = 0;
unsigned g_writes = 0;
bool g_all_or_nothing = false;

} // namespace

namespace fake_port
{

void reset()
{
    g_calls.clear();
    g_answer.clear();
    g_fail_nth = 0;
    g_fail_moved = 0;
    g_writes = 0;
    g_all_or_nothing = false;
}

void queue_answer(const std::vector<uint8_t>& bytes)
{
    g_answer.insert(g_answer.end(), bytes.begin(), bytes.end());
}

void fail_write(unsigned nth, int moved)
{
    g_fail_nth = nth;
    g_fail_moved = moved;
}

void set_all_or_nothing(bool on)
{
    g_all_or_nothing = on;
}

const std::vector<Call>& calls()
{
    return g_calls;
}

std::vector<uint8_t> wire()
{
    std::vector<uint8_t> all;
    for (const Call& c : g_calls)
        if (c.op == 'w')
            all.insert(all.end(), c.bytes.begin(), c.bytes.end());
    return all;
}

static std::vector<Call> only(char op)
{
    std::vector<Call> out;
    std::copy_if(g_calls.begin(), g_calls.end(), std::back_inserter(out),
                 [op](const Call& c) { return c.op == op; });
    return out;
}

std::vector<Call> writes()
{
    return only('w');
}

std::vector<Call> reads()
{
    return only('r');
}

} // namespace fake_port

extern "C" int qel_api_printer_clear(intptr_t printer)
{
    g_calls.push_back({'c', 0, 0, {}});
    return printer < 0 ? 0 : 1;
}

extern "C" int qel_api_printer_write(intptr_t, unsigned char* data, int size,
                                     unsigned long timeout_ms)
{
    ++g_writes;
    int moved = size;
    if (g_fail_nth != 0 && g_writes >= g_fail_nth)
        moved = g_writes == g_fail_nth ? std::min(g_fail_moved, size) : 0;
    fake_port::Call c{'w', size, timeout_ms, {}};
    if (moved > 0)
        c.bytes.assign(data, data + moved);
    g_calls.push_back(std::move(c));
    return moved;
}

extern "C" int qel_api_printer_read(intptr_t, unsigned char* data, int size,
                                    unsigned long timeout_ms)
{
    int n = std::min<int>(size, static_cast<int>(g_answer.size()));
    if (g_all_or_nothing && n < size)
        n = 0;
    fake_port::Call c{'r', size, timeout_ms, {}};
    for (int i = 0; i < n; ++i)
    {
        data[i] = g_answer.front();
        c.bytes.push_back(g_answer.front());
        g_answer.pop_front();
    }
    g_calls.push_back(std::move(c));
    return n;
}

extern "C" intptr_t qel_api_printer_open(char* port)
{
    return port == nullptr ? -2 : 3;
}

extern "C" void qel_api_printer_close(intptr_t) {}
