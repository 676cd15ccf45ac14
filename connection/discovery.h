// discovery.h - the QEL printers attached to this machine, by serial number.
//
// Raw USB devices of vendor 0x5E2D with a product the printer access library
// accepts, and usblp nodes (/dev/usb/lp*), are opened one after the other
// through a port object and asked for their information record, which carries
// the serial number and the model code. A USB device that has a usblp node is
// asked through the node (opening it raw would unbind the kernel driver). A
// port that another program holds (locked or claimed) is listed from what is
// known without it (its path, the product id and serial number of its USB
// descriptors in sysfs) and never disturbed. Serial lines are never probed.
#pragma once

#include "port.h"
#include "printer_exchange.h"

#include <optional>
#include <string>
#include <vector>

namespace qel
{

// The family's USB vendor id.
inline constexpr unsigned short kQelUsbVendor = 0x5E2D;

struct FoundPrinter
{
    PortSetup setup;            // how to open it now
    std::string path;           // "/dev/bus/usb/001/005" or "/dev/usb/lp0"
    unsigned short product = 0; // USB product id (0 when unknown)
    std::string serial_number;  // empty when unknown
    bool busy = false;          // another program holds the port
    std::string model;          // "Receipt Printer 0016"; "Receipt Printer" when unknown
    std::string uri;            // by serial number when known, else by path
    std::string device_id;      // "MFG:QEL;MDL:Receipt Printer 0016;CMD:QEL;CLS:PRINTER;SN:..;"
};

// Where discovery looks; the defaults are the system's own.
struct DiscoveryPlaces
{
    std::string lp_dir = "/dev/usb";            // usblp nodes lp* in it
    std::string usbmisc = "/sys/class/usbmisc"; // sysfs of the usblp nodes
    bool usb = true;                            // list raw USB devices through libusb
};

// Every attached printer. *error (optional) gets a note when USB could not be searched.
std::vector<FoundPrinter> discover_printers(std::string* error = nullptr,
                                            const DiscoveryPlaces& places = {});

// The port of the printer with this serial number (also when another program
// holds it), or nothing. The serial numbers of the USB descriptors (sysfs) are
// looked at first, without sending anything; only when none matches are the
// printers asked for their information record.
std::optional<PortSetup> find_printer_by_serial(const std::string& serial_number,
                                                std::string* error = nullptr,
                                                const DiscoveryPlaces& places = {});

// True while libusb lists a device at this bus and address (or cannot tell).
bool usb_device_listed(unsigned bus, unsigned address);

// The model name of a product id, as the kit's PPDs name it ("Receipt Printer 0016").
std::string model_for_product(unsigned short product);

// The IEEE 1284 device ID of a printer (serial number left out when empty).
std::string printer_device_id(const std::string& model, const std::string& serial_number);

// An exchange transport over an open port object (the port must outlive the transport).
// Its pauses sleep.
TS_QEL_PD_TRANSPORT port_transport(Port& port);

// One inquiry of the record with inquiry bit `bit` (over any transport) into `record` (room for
// QEL_PD_INQ_MAX_RECORD bytes), without the tools' 100 ms pauses: clear what
// waits to be read, write the request, read the header and the record within
// timeout_ms each. Returns null on success, else the exchange's message.
const char* quick_inquiry(const TS_QEL_PD_TRANSPORT& transport, int bit, unsigned char* record,
                          unsigned long timeout_ms);

// Asks an open port for the printer's serial number (the information record); empty when the
// printer does not answer. *product (optional) gets the product of its model code.
std::string ask_serial_number(Port& port, unsigned short* product = nullptr);

} // namespace qel
