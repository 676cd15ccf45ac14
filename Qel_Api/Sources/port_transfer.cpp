// port_transfer.cpp - write, read and clear with millisecond time-outs.
//
// Every transfer runs the same loop: take a time stamp, try, pause up to
// 10 ms after a try that moved nothing, stop when everything is moved or the
// stamp's age has reached the time-out. A call always makes at least one try.
// A character-device try waits in poll() for the time left and then moves
// what the non-blocking descriptor allows, so no line setting or silent
// printer can hold a call past its time-out. A USB read always fetches whole packets into the
// receive ring, so bytes beyond the request are kept for the next read.
#include "api_internal.h"
#include "Qel_Api.h"
#include "Qel_Tb.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <libusb.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace
{
// Length of one libusb transfer try.
constexpr unsigned int kUsbTransferTimeoutMs = 100;
// Chunk read off a character device by clear, and the longest clear of a
// device that never falls silent.
constexpr size_t kClearChunk = 256;
constexpr unsigned long kClearLimitMs = 1000;

enum class Direction
{
    Write,
    Read
};

bool lo_time_is_up(struct timespec* start, unsigned long timeout_ms)
{
    return qel_tb_calc_age_in_ms(start) >= timeout_ms;
}

/*
 * lo_time_left_ms - what is left of timeout_ms after the stamp's age, for
 * poll() (0 once the time is up).
 */
int lo_time_left_ms(struct timespec* start, unsigned long timeout_ms)
{
    const unsigned long age = qel_tb_calc_age_in_ms(start);
    if (age >= timeout_ms)
    {
        return 0;
    }
    return static_cast<int>(std::min<unsigned long>(timeout_ms - age, INT_MAX));
}

/*
 * lo_char_device_try - one try on a non-blocking descriptor: wait up to
 * wait_ms until the device can take or give bytes, then move what it can.
 * Neither step blocks longer than wait_ms, whatever VMIN, VTIME or the device
 * driver would make a blocking call do.
 *
 * Returns the bytes moved (> 0), or 0 / -1 when none were moved.
 */
ssize_t lo_char_device_try(int fd, unsigned char* data, size_t size, int wait_ms,
                           Direction direction)
{
    struct pollfd ready = {fd, static_cast<short>(direction == Direction::Write ? POLLOUT : POLLIN),
                           0};
    (void)poll(&ready, 1, wait_ms); // the transfer below tells what moved
    return direction == Direction::Write ? write(fd, data, size) : read(fd, data, size);
}

/*
 * lo_char_device_transfer - write or read size bytes on a file descriptor.
 * Returns the number of bytes moved.
 */
int lo_char_device_transfer(int fd, unsigned char* data, int size, unsigned long timeout_ms,
                            Direction direction)
{
    struct timespec start;
    qel_tb_set_time_stamp(&start);
    int done = 0;
    for (;;)
    {
        const ssize_t moved = lo_char_device_try(fd, data + done, static_cast<size_t>(size - done),
                                                 lo_time_left_ms(&start, timeout_ms), direction);
        if (moved > 0)
        {
            done += static_cast<int>(moved);
        }
        else
        {
            api_pause_after_empty_try(timeout_ms);
        }
        if (done >= size || lo_time_is_up(&start, timeout_ms))
        {
            return done;
        }
    }
}

/*
 * lo_usb_write - bulk transfers to the OUT endpoint. Only the bytes libusb
 * reports as transferred count, also when a try ends with an error, so the
 * result is size exactly when every byte reached the printer. A printer that
 * has been unplugged ends the write at once.
 */
int lo_usb_write(libusb_device_handle* handle, int endpoint, unsigned char* data, int size,
                 unsigned long timeout_ms)
{
    struct timespec start;
    qel_tb_set_time_stamp(&start);
    int done = 0;
    for (;;)
    {
        const int rest = size - done;
        int transferred = 0;
        const int result =
            libusb_bulk_transfer(handle, static_cast<unsigned char>(endpoint), data + done, rest,
                                 &transferred, kUsbTransferTimeoutMs);
        transferred = std::clamp(transferred, 0, rest);
        done += transferred;
        if (result == LIBUSB_ERROR_NO_DEVICE)
        {
            return done; // unplugged: nothing more reaches it, however long we try
        }
        if (transferred > 0)
        {
            api_debug("Written = %d, size = %d\n", transferred, size);
        }
        else
        {
            api_pause_after_empty_try(timeout_ms);
        }
        if (done >= size || lo_time_is_up(&start, timeout_ms))
        {
            return done;
        }
    }
}

// Names of the libusb results of a read try that brought nothing.
const char* lo_read_error_line(int result)
{
    switch (result)
    {
    case LIBUSB_ERROR_TIMEOUT:
        return "READ TIMEOUT %d\n";
    case LIBUSB_ERROR_PIPE:
        return "READ PIPE %d\n";
    case LIBUSB_ERROR_OVERFLOW:
        return "READ OVERFLOW %d\n";
    case LIBUSB_ERROR_NO_DEVICE:
        return "READ NO DEVICE %d\n";
    case LIBUSB_ERROR_IO:
        return "READ LIBUSB_ERROR_IO %d\n";
    case 1:
        return "READ LIBUSB_TRANSFER_ERROR %d\n";
    case LIBUSB_ERROR_INTERRUPTED:
        return "READ LIBUSB_ERROR_INTERRUPTED %d\n";
    case LIBUSB_ERROR_ACCESS:
        return "READ LIBUSB_ERROR_ACCESS %d\n";
    case LIBUSB_ERROR_BUSY:
        return "READ LIBUSB_ERROR_BUSY %d\n";
    case LIBUSB_ERROR_NO_MEM:
        return "READ LIBUSB_ERROR_NO_MEM %d\n";
    case LIBUSB_ERROR_INVALID_PARAM:
        return "READ LIBUSB_ERROR_INVALID_PARAM %d\n";
    default:
        return nullptr;
    }
}

void lo_debug_read_try(int result, const unsigned char* packet, int count)
{
    if (DEBUG_MESSAGES != 1)
    {
        return;
    }
    api_debug("\n Transfered = %d \n", count);
    for (int i = 0; i < count; ++i)
    {
        api_debug("[%2.2X] ", packet[i]);
    }
    api_debug("\n \n");
    if (count == 0)
    {
        api_debug("error = %d, count = %d\n", result, count);
        if (const char* line = lo_read_error_line(result))
        {
            api_debug(line, result);
        }
    }
}

/*
 * lo_usb_read - all or nothing: fetch packets into the ring until it holds
 * size bytes or the time is up, then hand out exactly size bytes.
 *
 * Returns size, 0 (not enough arrived; what came stays in the ring), -1 (no
 * memory), -2 (the ring refused a packet), -3 (a packet larger than the room
 * left; that packet is lost, the ring keeps what it held).
 */
int lo_usb_read(libusb_device_handle* handle, const qel::detail::UsbEndpoints& endpoints,
                qel::detail::RxRing& ring, unsigned char* data, int size, unsigned long timeout_ms)
{
    const int packet_size = std::max(endpoints.read_packet_size, 0);
    auto* packet = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(packet_size) + 1));
    if (packet == nullptr)
    {
        return -1;
    }
    int result = 0;
    int held = ring.count();
    int room = ring.free_room();

    struct timespec start;
    qel_tb_set_time_stamp(&start);
    while (held < size)
    {
        std::memset(packet, 0, static_cast<size_t>(packet_size) + 1);
        int count = 0;
        const int transfer =
            libusb_bulk_transfer(handle, static_cast<unsigned char>(endpoints.read), packet,
                                 packet_size, &count, kUsbTransferTimeoutMs);
        count = std::clamp(count, 0, packet_size);
        lo_debug_read_try(transfer, packet, count);
        if (count == 0)
        {
            api_pause_after_empty_try(timeout_ms);
        }
        if (count > room)
        {
            result = -3;
            break;
        }
        if (ring.store(packet, count) == 0)
        {
            result = -2;
            break;
        }
        held = ring.count();
        room = ring.free_room();
        api_debug("Read count bytes = %d, free buffer size = %d, current buffer = %d \n", count,
                  room, held);
        if (lo_time_is_up(&start, timeout_ms))
        {
            break;
        }
    }
    if (result == 0 && held >= size)
    {
        result = ring.take(data, size);
    }
    std::free(packet);
    return result;
}

/*
 * lo_quiet_wait_ms - how long a read that finds nothing waits for more on
 * this line: VTIME tenths of a second on a terminal line in non-canonical
 * VMIN 0 mode (a serial line set up here: 100 ms), otherwise nothing.
 */
int lo_quiet_wait_ms(int fd)
{
    struct termios line;
    if (tcgetattr(fd, &line) != 0 || (line.c_lflag & ICANON) != 0 || line.c_cc[VMIN] != 0)
    {
        return 0;
    }
    return line.c_cc[VTIME] * 100;
}

/*
 * lo_clear_char_device - read off and drop what the device holds until a read
 * finds nothing within the line's quiet wait. A device that keeps sending is
 * left after about a second.
 */
void lo_clear_char_device(int fd)
{
    unsigned char chunk[kClearChunk];
    const int quiet_ms = lo_quiet_wait_ms(fd);
    struct timespec start;
    qel_tb_set_time_stamp(&start);
    while (lo_char_device_try(fd, chunk, sizeof chunk, quiet_ms, Direction::Read) > 0)
    {
        if (lo_time_is_up(&start, kClearLimitMs))
        {
            break;
        }
    }
}
} // namespace

namespace qel::detail
{

// write(2) and libusb's OUT transfers only read the caller's bytes.
int char_write(int fd, const unsigned char* data, int size, unsigned long timeout_ms)
{
    return lo_char_device_transfer(fd, const_cast<unsigned char*>(data), size, timeout_ms,
                                   Direction::Write);
}

int char_read(int fd, unsigned char* data, int size, unsigned long timeout_ms)
{
    return lo_char_device_transfer(fd, data, size, timeout_ms, Direction::Read);
}

void char_clear(int fd)
{
    lo_clear_char_device(fd);
}

int usb_write(libusb_device_handle* handle, const UsbEndpoints& endpoints,
              const unsigned char* data, int size, unsigned long timeout_ms)
{
    return lo_usb_write(handle, endpoints.write, const_cast<unsigned char*>(data), size,
                        timeout_ms);
}

int usb_read(libusb_device_handle* handle, const UsbEndpoints& endpoints, RxRing& ring,
             unsigned char* data, int size, unsigned long timeout_ms)
{
    return lo_usb_read(handle, endpoints, ring, data, size, timeout_ms);
}

} // namespace qel::detail

namespace
{
using qel::detail::default_endpoints;
using qel::detail::default_ring;

// One transfer of the C interface on the port kind chosen at open: `on_char`
// with the descriptor or `on_usb` with the open USB handle; 0 for a bad call
// or no open port.
template <typename OnChar, typename OnUsb>
int lo_transfer(intptr_t printer, const unsigned char* data, int size, OnChar on_char, OnUsb on_usb)
{
    if (data == nullptr || size <= 0 || printer < 0)
    {
        return 0;
    }
    switch (communication)
    {
    case kKindCharDevice:
        return on_char(static_cast<int>(printer));
    case kKindUsb:
        if (libusb_device_handle* handle = api_usb_handle(printer))
        {
            return on_usb(handle);
        }
        return 0;
    default:
        return 0;
    }
}
} // namespace

// The C interface: a character-device handle is the descriptor itself, a USB
// handle must be the open port's.
int qel_api_printer_write(intptr_t printer, unsigned char* data, int size, unsigned long timeout_ms)
{
    return lo_transfer(
        printer, data, size,
        [&](int fd) { return qel::detail::char_write(fd, data, size, timeout_ms); },
        [&](libusb_device_handle* handle)
        { return qel::detail::usb_write(handle, default_endpoints(), data, size, timeout_ms); });
}

int qel_api_printer_read(intptr_t printer, unsigned char* data, int size, unsigned long timeout_ms)
{
    return lo_transfer(
        printer, data, size,
        [&](int fd) { return qel::detail::char_read(fd, data, size, timeout_ms); },
        [&](libusb_device_handle* handle)
        {
            qel::detail::RxRing ring = default_ring();
            return qel::detail::usb_read(handle, default_endpoints(), ring, data, size, timeout_ms);
        });
}

int qel_api_printer_clear(intptr_t printer)
{
    if (printer < 0)
    {
        return 0;
    }
    switch (communication)
    {
    case kKindCharDevice:
        qel::detail::char_clear(static_cast<int>(printer));
        return 1;
    case kKindUsb:
        if (api_usb_handle(printer) == nullptr)
        {
            return 0;
        }
        default_ring().clear();
        return 1;
    default:
        return 0;
    }
}
