// device_uri.h - the device URIs under which the kit's CUPS backend and its
// printer application reach a QEL printer.
//
// Every form uses the scheme "qel":
//
//   qel://QEL/Receipt%20Printer%200016?serial=SN   the printer whose information
//                                                  record carries serial number SN,
//                                                  on whichever USB port it is now
//   qel:/dev/usb/lp0                               a USB printer-class node
//   qel:/dev/bus/usb/001/005                       a raw USB device by bus/address
//   qel:/dev/ttyS0?baud=115200                     a serial line (any tty name),
//                                                  8 data bits, no parity, 1 stop
//                                                  bit, RTS/CTS; baud 115200 when
//                                                  not given
//
// Parsing is pure and strict: anything else is refused with a reason that a
// CUPS "ERROR:" line or a web page can show as it stands.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qel
{

enum class DeviceKind
{
    BySerialNumber, // any USB attachment, found by the printer's serial number
    UsbLpNode,      // /dev/usb/lpN
    UsbDevice,      // /dev/bus/usb/BBB/DDD
    SerialLine,     // a tty device
};

struct DeviceUri
{
    DeviceKind kind = DeviceKind::BySerialNumber;
    std::string model;           // BySerialNumber: the model text of the URI (informative)
    std::string serial_number;   // BySerialNumber: decoded serial number
    std::string path;            // node path of the other kinds
    unsigned bus = 0;            // UsbDevice
    unsigned address = 0;        // UsbDevice
    unsigned long baud = 115200; // SerialLine
};

struct DeviceUriResult
{
    std::optional<DeviceUri> uri; // set when the URI was understood
    std::string error;            // otherwise: why not
};

// Line speeds a serial URI may ask for.
bool device_uri_baud_supported(unsigned long baud);

// Parses a device URI of one of the forms above.
DeviceUriResult parse_device_uri(std::string_view text);

// The URI that names a printer by its serial number.
std::string device_uri_for_serial(std::string_view model, std::string_view serial_number);

// The URI of a node path ("/dev/usb/lp0", "/dev/bus/usb/001/005") or of a
// serial line with its baud rate (baud 0: the path alone).
std::string device_uri_for_path(std::string_view path, unsigned long baud = 0);

// Percent-encoding of a URI piece: letters, digits and "-._~" stay, every
// other byte becomes %XX.
std::string uri_percent_encode(std::string_view text);

// The pieces of a URI's path or query between separators, empty ones
// included: "a&&b" gives "a", "", "b"; "" gives one empty piece.
std::vector<std::string_view> uri_pieces(std::string_view text, char separator);

} // namespace qel
