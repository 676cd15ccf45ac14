// A stand-in for the printer access library that records what a tool routine
// writes and serves scripted answers, so that exchanges can be checked byte
// for byte without a printer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fake_port
{

struct Call
{
    char op;  // 'c' clear, 'w' write, 'r' read
    int size; // bytes asked for
    unsigned long timeout_ms;
    std::vector<uint8_t> bytes; // written bytes, or the bytes a read handed out
};

// Forgets everything: calls, queued answers and planned failures.
void reset();

// Answer bytes for later reads. A read hands out min(size, queued) bytes, like a
// character device whose time-out ran out.
void queue_answer(const std::vector<uint8_t>& bytes);

// The nth write call (1 = first) moves only `moved` bytes; every later write moves none,
// as on a port that went away.
void fail_write(unsigned nth, int moved = 0);

// USB-like reads: all or nothing (a short answer gives 0 and stays queued).
void set_all_or_nothing(bool on);

const std::vector<Call>& calls();
// All bytes that reached the "printer", in order.
std::vector<uint8_t> wire();
// Only the write calls.
std::vector<Call> writes();
std::vector<Call> reads();

} // namespace fake_port
