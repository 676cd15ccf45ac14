// The state a virtual printer shares between its port thread and the test: what the host sent,
// the protocol engine, and the queue of chunks waiting to go back to the host.
#pragma once

#include "virtual_printer.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

struct _UMockdevTestbed; // umockdev's testbed, named here without its header

namespace qel_vp
{

using Clock = std::chrono::steady_clock;

// One chunk for the host: a USB transfer ends at its end, a pty gets it in one write.
struct Chunk
{
    std::vector<std::uint8_t> bytes;
    Clock::time_point due;
    bool disconnect = false;
};

class PrinterCore
{
  public:
    explicit PrinterCore(const PrinterOptions& options);
    ~PrinterCore();

    // Bytes from the host (any thread of a port).
    void host_sent(std::span<const std::uint8_t> bytes);
    // The first chunk if it is due at `now`; else nullopt and, when a chunk waits, its due time.
    std::optional<Chunk> take_due(Clock::time_point now, Clock::time_point* next_due);
    // Puts back the unsent tail of a chunk at the front of the queue.
    void put_back(Chunk chunk);
    void queue(std::vector<std::uint8_t> bytes);
    bool queue_empty() const;

    // Writes what is left of the transcript (at stop).
    void finish();

    // A new job begins (see ProtocolEngine::job_start); boundary errors go to stderr at once.
    void job_start();
    // How many bytes the port may take from the host now: 0 while a stall lasts (`resume` is
    // then its end), else up to the next stall point (SIZE_MAX when no stall is left).
    std::size_t may_take(Clock::time_point now, Clock::time_point* resume);
    // The host holds the port (pty: has the slave open; USB: has the interface claimed).
    void set_host_attached(bool attached) { host_attached_ = attached; }
    bool host_attached() const { return host_attached_.load(); }
    // The port's name in messages.
    void set_label(std::string label);

    void request_disconnect();
    bool disconnect_requested() const { return disconnect_.load(); }
    void set_connected(bool connected);
    bool connected() const { return connected_.load(); }
    // Wakes the port thread (pty: a byte on a pipe); set by the port.
    void set_waker(void (*waker)(void*), void* user);

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    ProtocolEngine engine;
    std::vector<std::uint8_t> received;
    std::size_t frames_seen = 0; // frames handed to the transcript file so far

  private:
    void write_transcript(bool final);
    void report_boundary_errors();
    void wake();
    static void page_done(const Page& page, void* user);

    bool protocol_;
    std::string out_dir_;
    std::FILE* transcript_ = nullptr;
    std::size_t total_received_ = 0;
    std::deque<Stall> stalls_;
    Clock::time_point stall_end_{};
    std::size_t boundary_reported_ = 0;
    std::string label_;
    std::deque<Chunk> queue_;
    Clock::time_point last_due_{};
    std::atomic<bool> disconnect_{false};
    std::atomic<bool> connected_{false};
    std::atomic<bool> host_attached_{false};
    void (*waker_)(void*) = nullptr;
    void* waker_user_ = nullptr;
};

// The pseudo-terminal attachment (Ttys and Lp links).
class PtyPort
{
  public:
    PtyPort(PrinterCore& core, const PrinterOptions& options) : core_(core), options_(options) {}
    ~PtyPort();
    bool start(std::string* error);
    void stop();
    const std::string& name() const { return options_.link_path; }

  private:
    void run();
    static void wake(void* self);
    void read_host(std::vector<std::uint8_t>& buf, std::size_t limit);
    void host_opened_or_closed(std::vector<std::uint8_t>& buf);

    PrinterCore& core_;
    PrinterOptions options_;
    int master_ = -1;
    int slave_ = -1;
    int wake_pipe_[2] = {-1, -1};
    int watch_ = -1;     // inotify on the slave: the host's opens and closes
    int host_opens_ = 0; // the host's open descriptors of the slave
    bool linked_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The emulated USB device (umockdev testbed and usbdevfs handler).
class UsbDevice
{
  public:
    UsbDevice(PrinterCore& core, const PrinterOptions& options);
    ~UsbDevice();
    bool start(std::string* error);
    void stop();
    // Unplugged and plugged in again at `address` of the same bus.
    bool move_to(unsigned address, std::string* error);
    std::string name() const;
    std::string root_dir() const;
    UsbActivity activity() const;

    // What hosts did, across addresses (the handler thread writes, tests read).
    struct Counters
    {
        std::atomic<unsigned> in_submits{0}, claims{0}, releases{0};
        std::atomic<bool> driver_bound{false};
        std::size_t out_taken = 0; // handler thread only
    };
    struct State; // the usbdevfs handler's view of the device at one address

  private:
    bool plug(unsigned address, std::string* error);
    void unplug();

    PrinterCore& core_;
    PrinterOptions options_;
    _UMockdevTestbed* testbed_ = nullptr; // the process's emulated bus, shared
    std::string root_;
    unsigned port_ = 0; // hub port: the sysfs name stays across moves
    std::unique_ptr<State> state_;
    Counters counters_;
    // Earlier addresses: hosts may still hold their nodes open (and get ENODEV).
    std::vector<std::unique_ptr<State>> retired_;
};

} // namespace qel_vp
