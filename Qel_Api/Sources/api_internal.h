// api_internal.h - declarations shared by the files of the printer access library.
//
// None of these names leave the shared library; the internal static library
// exposes them to the white-box tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <termios.h>

struct libusb_device_handle;

// Port kinds kept in `communication`.
inline constexpr int kKindNone = 0;
inline constexpr int kKindCharDevice = 1;
inline constexpr int kKindUsb = 2;

// The receive ring of a USB port.
inline constexpr int kRxRingSize = 1024;

// ---------------------------------------------------------------------------------------------
// Receive ring (rx_ring.cpp). They work on m_pub_rx_buffer, m_index_rx_bottom and
// m_index_rx_top; without a ring they hold nothing and accept nothing.
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
// USB port (usb_port.cpp)
// ---------------------------------------------------------------------------------------------

// Opens a "/dev/bus/usb/BBB/DDD" port; result as qel_api_printer_open.
std::intptr_t api_usb_open(const char* port);
// Releases everything a successful USB open acquired.
void api_usb_close(std::intptr_t printer);
// The device handle of the open USB port, or null when none is open.
libusb_device_handle* api_usb_handle(std::intptr_t printer);

// ---------------------------------------------------------------------------------------------
// Time-out loop and diagnostics (wait_and_debug.cpp)
// ---------------------------------------------------------------------------------------------

// Pause after a try that moved nothing: the smaller of timeout_ms and 10 ms.
void api_pause_after_empty_try(unsigned long timeout_ms);
// printf to standard output when DEBUG_MESSAGES is 1.
void api_debug(const char* format, ...) __attribute__((format(printf, 1, 2)));
