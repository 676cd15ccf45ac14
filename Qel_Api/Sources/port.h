// port.h - printer ports as objects, for the kit's own programs (C++20, not exported).
//
// Any number of ports may be open in one process, each with its own descriptor or libusb
// context, receive ring and time-outs; each port is driven by one thread at a time, and
// ports on different threads share nothing but the DEBUG_MESSAGES switch. A port is named
// by an explicit kind, not by the name rules of qel_api_printer_open.
//
// Every character-device port holds an exclusive advisory lock (flock) on its device for
// as long as it is open, as qel_api_printer_open does: while one program prints, another
// cannot open the same printer and put its own bytes into the job. A raw USB port is
// exclusive through its interface claim.
//
// Results are those of the C interface in Qel_Api.h: byte counts, 0 for nothing done, the
// negative codes of qel_api_printer_open for a failed open. Nothing throws.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qel
{

enum class PortKind
{
    CharDevice, // a printer-class node (/dev/usb/lpN) or any file-like device, no line settings
    Serial,     // a tty device (/dev/ttyS0, /dev/ttyUSB0, ...) set to raw 8N1 at `baud`
    Usb,        // a usbfs device driven through libusb, found by bus number and address
};

struct PortSetup
{
    PortKind kind = PortKind::CharDevice;
    std::string path;              // CharDevice, Serial: the device node
    unsigned long baud = 115200;   // Serial: one of the rates parse_baud_rate accepts
    bool rts_cts = true;           // Serial: hardware flow control (the printer's own wiring)
    unsigned bus = 0, address = 0; // Usb: /dev/bus/usb/BBB/DDD

    static PortSetup char_device(std::string path);
    static PortSetup serial(std::string path, unsigned long baud = 115200);
    static PortSetup usb(unsigned bus, unsigned address);
};

// A serial line speed in bits per second ("9600", "115200", ...): one of 1200 2400 4800
// 9600 19200 38400 57600 115200 230400; anything else (also trailing characters) is refused.
std::optional<unsigned long> parse_baud_rate(std::string_view text);

class Port
{
  public:
    // Opens the port. On failure returns null and, when `error` is given, stores the code
    // qel_api_printer_open would give (-1 the device could not be opened or is locked by
    // another opener, -2 no such USB device or not a supported printer, -3 to -8 as there;
    // -2 also for a Serial setup whose baud rate is not supported).
    static std::unique_ptr<Port> open(const PortSetup& setup, int* error = nullptr);

    ~Port(); // closes
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    PortKind kind() const;
    bool is_open() const;

    // Writes size bytes, retrying until all are written or timeout_ms has passed; returns
    // the bytes that reached the device (size on success; 0 for nothing to write or a
    // closed port).
    int write(const unsigned char* data, int size, unsigned long timeout_ms);
    // Reads exactly size bytes within timeout_ms. Char devices: the bytes read. USB: size or
    // 0 (what came stays in the port's ring), -1, -2, -3 as qel_api_printer_read.
    int read(unsigned char* data, int size, unsigned long timeout_ms);
    // Discards what waits to be read; 1 when cleared, 0 when the port is closed.
    int clear();
    // Serial: new line settings (parity 'E'/'O'/other none, stop bits 1 or 2); false when
    // the rate is not supported or the device refuses. Other kinds: false, nothing changed.
    bool set_serial(unsigned long baud, unsigned char parity = 'n', unsigned char stop_bits = 1);
    // Releases the device (lock, claim, descriptor, libusb context). Safe to call twice.
    void close();

    struct Impl;

  private:
    explicit Port(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace qel
