// api_internal.h - declarations shared by the files of the printer access library.
//
// None of these names leave the shared library; the internal static library
// exposes them to the white-box tests and to port.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <termios.h>

struct libusb_context;
struct libusb_device_handle;

// Port kinds kept in `communication`.
inline constexpr int kKindNone = 0;
inline constexpr int kKindCharDevice = 1;
inline constexpr int kKindUsb = 2;

// The receive ring of a USB port.
inline constexpr int kRxRingSize = 1024;

// ---------------------------------------------------------------------------------------------
// Receive ring (rx_ring.cpp). These work on the ring of the C interface's port:
// m_pub_rx_buffer, m_index_rx_bottom and m_index_rx_top; without a ring they hold nothing and
// accept nothing.
// ---------------------------------------------------------------------------------------------

// Bytes held (0..1023).
int buffer_get_rx_count();
// 1024 minus the bytes held.
int buffer_get_rx_free();
// Stores n_data bytes: 1 when accepted, 0 (ring unchanged) unless n_data is smaller than the
// free room, so that one byte always stays free.
int buffer_set_rx_data(const unsigned char* pub_data, int n_data);
// Takes up to n_data bytes; returns the number copied.
int buffer_get_rx_data(unsigned char* pub_data, int n_data);
// Empties the ring: zeroes its storage and both indices.
void buffer_clear_rx();

// ---------------------------------------------------------------------------------------------
// Port names (port_name.cpp), pure
// ---------------------------------------------------------------------------------------------

// Kind a port name selects: 1 for "/dev/usb/lp" or "Ttys", 2 for "/dev/bus/usb/", otherwise
// previous_kind.
int api_port_kind(const char* port, int previous_kind);
// True when the name asks for a serial line ("Ttys").
bool api_port_is_serial(const char* port);

// Bus and device number of a usbfs name: pieces between "/" (empty ones skipped), the fourth
// the bus and the fifth the device, each read from its leading decimal digits (none: 0).
// False when there are fewer than five pieces.
bool api_parse_usb_name(const char* port, long* bus, long* device);

// True for the eight supported vendor/product pairs of the family.
bool api_is_supported_model(std::uint16_t vendor, std::uint16_t product);

// ---------------------------------------------------------------------------------------------
// Serial line settings (serial_settings.cpp), pure
// ---------------------------------------------------------------------------------------------

// The raw-mode settings the serial operation applies.
struct termios api_build_serial_settings(unsigned long baud_rate, unsigned char data_bits,
                                         unsigned char parity, unsigned char stop_bits);

// ---------------------------------------------------------------------------------------------
// USB port of the C interface (usb_port.cpp)
// ---------------------------------------------------------------------------------------------

// Opens a "/dev/bus/usb/BBB/DDD" port; result as qel_api_printer_open.
std::intptr_t api_usb_open(const char* port);
// Releases everything a successful USB open acquired.
void api_usb_close(std::intptr_t printer);
// The device handle of the open USB port, or null when none is open.
libusb_device_handle* api_usb_handle(std::intptr_t printer);

// ---------------------------------------------------------------------------------------------
// The parts of a port, shared by the C interface's one port (whose variables are the exported
// ones) and the port objects of port.h (whose variables are their own)
// ---------------------------------------------------------------------------------------------
namespace qel::detail
{

// A receive ring over storage and indices kept elsewhere: the exported variables for the C
// interface's port, members of a port object otherwise.
class RxRing
{
  public:
    RxRing(unsigned char*& storage, int& bottom, int& top)
        : storage_(storage), bottom_(bottom), top_(top)
    {
    }
    int count();
    int free_room();
    int store(const unsigned char* data, int n);
    int take(unsigned char* data, int n);
    void clear();
    // A new zeroed ring (an earlier one is freed); false when there is no memory.
    bool allocate();
    // Frees the ring; both indices 0.
    void release();

  private:
    bool ready();
    unsigned char*& storage_;
    int& bottom_;
    int& top_;
};

// The USB variables of a port (endpoints, packet size, interface), kept elsewhere like the ring.
struct UsbEndpoints
{
    int& write;
    int& read;
    int& read_packet_size;
    int& interface_number;
};

// What an open USB port holds.
struct UsbLink
{
    libusb_context* context = nullptr; // null: libusb's default context
    libusb_device_handle* handle = nullptr;
    int claimed_interface = 0;
};

// Opens the supported printer at bus and address. With own_context a context of its own is
// made for the port, else libusb's default one is used. Returns 0 with link filled and the
// ring allocated, or a failure code of qel_api_printer_open (nothing left open).
int usb_open(UsbLink& link, bool own_context, long bus, long address, UsbEndpoints& endpoints,
             RxRing& ring);
// Releases the interface, closes the device, frees the ring and ends the context.
void usb_close(UsbLink& link, RxRing& ring);

// Opens a character device read-write, non-blocking, not as controlling terminal, and takes
// an exclusive advisory lock on it. Returns the descriptor, or -1 (no device, or the lock is
// held by another opener).
int char_open(const char* path, bool close_on_exec);
// Applies serial line settings, discarding input not yet read; false when refused.
bool char_apply_settings(int fd, const struct termios& settings);

// Transfers with millisecond time-outs (port_transfer.cpp); results as the C interface.
int char_write(int fd, const unsigned char* data, int size, unsigned long timeout_ms);
int char_read(int fd, unsigned char* data, int size, unsigned long timeout_ms);
void char_clear(int fd);
int usb_write(libusb_device_handle* handle, const UsbEndpoints& endpoints,
              const unsigned char* data, int size, unsigned long timeout_ms);
int usb_read(libusb_device_handle* handle, const UsbEndpoints& endpoints, RxRing& ring,
             unsigned char* data, int size, unsigned long timeout_ms);

// The exported variables of the C interface's port (api_state.cpp).
UsbEndpoints default_endpoints();
RxRing default_ring();

// The speed code of a rate the port objects accept, or false.
bool serial_speed_code(unsigned long baud_rate, speed_t* code);
// Raw 8-bit settings at a speed code, parity and stop bits as api_build_serial_settings.
struct termios serial_settings(speed_t speed, unsigned char parity, unsigned char stop_bits,
                               bool rts_cts);

} // namespace qel::detail

// ---------------------------------------------------------------------------------------------
// Time-out loop and diagnostics (wait_and_debug.cpp)
// ---------------------------------------------------------------------------------------------

// Pause after a try that moved nothing: the smaller of timeout_ms and 10 ms.
void api_pause_after_empty_try(unsigned long timeout_ms);
// printf to standard output when DEBUG_MESSAGES is 1.
void api_debug(const char* format, ...) __attribute__((format(printf, 1, 2)));
