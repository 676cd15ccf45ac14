// discovery.cpp - finding attached printers: libusb, usblp nodes, the information record.
#include "discovery.h"

#include "api_internal.h"
#include "device_uri.h"
#include "inquiry_records.h"

#include <libusb.h>

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace qel
{
namespace
{

int lo_write(void* context, const unsigned char* data, int size, unsigned long timeout_ms)
{
    return static_cast<Port*>(context)->write(data, size, timeout_ms);
}

int lo_read(void* context, unsigned char* data, int size, unsigned long timeout_ms)
{
    return static_cast<Port*>(context)->read(data, size, timeout_ms);
}

int lo_clear(void* context)
{
    return static_cast<Port*>(context)->clear();
}

std::string lo_read_line(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

unsigned lo_read_number(const std::string& path, int base)
{
    const std::string text = lo_read_line(path);
    return text.empty() ? 0u : unsigned(std::strtoul(text.c_str(), nullptr, base));
}

// The USB device a usblp node belongs to: sysfs .../usbmisc/lpN/device is its
// printer interface, whose parent directory is the device.
struct UsbIdentity
{
    unsigned bus = 0, address = 0;
    unsigned short product = 0;
    std::string serial;
};

UsbIdentity lo_lp_identity(const std::string& usbmisc, const std::string& name)
{
    const std::string device = usbmisc + "/" + name + "/device/../";
    UsbIdentity id;
    id.bus = lo_read_number(device + "busnum", 10);
    id.address = lo_read_number(device + "devnum", 10);
    id.product = static_cast<unsigned short>(lo_read_number(device + "idProduct", 16));
    id.serial = lo_read_line(device + "serial");
    return id;
}

// The serial number of a USB device's descriptors (sysfs), for a device that
// cannot be asked.
std::string lo_usb_sysfs_serial(unsigned bus, unsigned address)
{
    const std::string root = "/sys/bus/usb/devices/";
    std::string serial;
    if (DIR* dir = opendir(root.c_str()))
    {
        while (const dirent* entry = readdir(dir))
        {
            const std::string base = root + entry->d_name + "/";
            if (entry->d_name[0] != '.' && lo_read_number(base + "busnum", 10) == bus &&
                lo_read_number(base + "devnum", 10) == address)
            {
                serial = lo_read_line(base + "serial");
                break;
            }
        }
        closedir(dir);
    }
    return serial;
}

// Opens the port and asks for the serial number and model; false when the
// device is not a printer of the family (refused by the port, or a usblp node
// that does not answer).
bool lo_probe(FoundPrinter& found)
{
    int code = 0;
    std::unique_ptr<Port> port = Port::open(found.setup, &code);
    if (!port)
    {
        // -1: locked by another opener; -3/-4: its USB interface is held.
        found.busy = code == -1 || code == -3 || code == -4;
        return found.busy;
    }
    unsigned short product = 0;
    found.serial_number = ask_serial_number(*port, &product);
    if (product != 0)
        found.product = product;
    return found.setup.kind == PortKind::Usb || !found.serial_number.empty();
}

void lo_finish(FoundPrinter& printer)
{
    printer.model = model_for_product(printer.product);
    printer.uri = printer.serial_number.empty()
                      ? device_uri_for_path(printer.path)
                      : device_uri_for_serial(printer.model, printer.serial_number);
    printer.device_id = printer_device_id(printer.model, printer.serial_number);
}

// Calls `visit(bus, address, product)` for each supported printer that libusb
// lists, until it returns false. False when libusb could not be started.
template <typename Visit> bool lo_each_supported_usb(Visit visit)
{
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0)
        return false;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    for (ssize_t i = 0; i < count; i++)
    {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) != 0 ||
            !api_is_supported_model(descriptor.idVendor, descriptor.idProduct))
            continue;
        if (!visit(unsigned(libusb_get_bus_number(list[i])),
                   unsigned(libusb_get_device_address(list[i])), descriptor.idProduct))
            break;
    }
    if (count >= 0)
        libusb_free_device_list(list, 1);
    libusb_exit(context);
    return true;
}
} // namespace

std::string model_for_product(unsigned short product)
{
    if (product == 0)
        return "Receipt Printer";
    char text[32];
    std::snprintf(text, sizeof text, "Receipt Printer %04X", unsigned(product));
    return text;
}

std::string printer_device_id(const std::string& model, const std::string& serial_number)
{
    std::string id = "MFG:QEL;MDL:" + model + ";CMD:QEL;CLS:PRINTER;";
    if (!serial_number.empty())
        id += "SN:" + serial_number + ";";
    return id;
}

TS_QEL_PD_TRANSPORT port_transport(Port& port)
{
    TS_QEL_PD_TRANSPORT transport{};
    transport.pvContext = &port;
    transport.pfnWrite = lo_write;
    transport.pfnRead = lo_read;
    transport.pfnClear = lo_clear;
    transport.pfnPause = nullptr;
    return transport;
}

const char* quick_inquiry(const TS_QEL_PD_TRANSPORT& transport, int bit, unsigned char* record,
                          unsigned long timeout_ms)
{
    const TS_QEL_PD_INQ_KIND* kind = qel_pd_inq_kind_of_bit(bit);
    if (!kind)
        return "Could not send inquiry to printer";
    const int mask = 1 << bit;
    const unsigned char request[4] = {0x1D, 0x61, static_cast<unsigned char>(mask >> 8),
                                      static_cast<unsigned char>(mask & 0xFF)};
    TS_QEL_PD_EXCHANGE exchange{};
    exchange.fSkipOpening = 1;
    exchange.pubRequest = request;
    exchange.nRequest = sizeof request;
    exchange.iWriteTimeoutMs = timeout_ms;
    exchange.pszRequestFailed = "Could not send inquiry to printer";
    exchange.ubType = static_cast<unsigned char>(kind->iResponseType);
    exchange.ubSize = static_cast<unsigned char>(kind->nSize);
    exchange.iHeaderTimeoutMs = timeout_ms;
    exchange.pszNoHeader = "Did not receive data response header";
    exchange.pszTypeMismatch = "Mismatch in type of received data ";
    exchange.pszSizeMismatch = "Mismatch in size of received data ";
    exchange.pubData = record;
    exchange.nData = kind->nSize;
    exchange.iDataTimeoutMs = timeout_ms;
    exchange.pszNoData = "Did not receive inquired data";
    transport.pfnClear(transport.pvContext);
    return qel_pd_exchange(&transport, &exchange);
}

std::string ask_serial_number(Port& port, unsigned short* product)
{
    const TS_QEL_PD_INQ_KIND* kind = qel_pd_inq_kind_of_bit(EV_QEL_PD_INQ_INFORMATION);
    unsigned char record[QEL_PD_INQ_MAX_RECORD] = {};
    std::string serial;
    const TS_QEL_PD_TRANSPORT transport = port_transport(port);
    if (kind && quick_inquiry(transport, EV_QEL_PD_INQ_INFORMATION, record, 1000) == nullptr)
    {
        const std::span<const unsigned char> info(record, kind->nSize);
        qel_pd_info_serial_nr(info, &serial);
        uint32_t model_code = 0;
        // The model code carries the vendor id above the product id.
        if (product && qel_pd_info_model_code(info, &model_code) &&
            (model_code >> 16) == kQelUsbVendor)
            *product = static_cast<unsigned short>(model_code & 0xFFFF);
    }
    return serial;
}

// The names the kernel's usblp driver gives its nodes: "lp" and a number.
// Links that people or tests put beside them are not printers of their own.
static bool lo_is_usblp_name(const char* name)
{
    if (std::strncmp(name, "lp", 2) != 0 || name[2] == '\0')
        return false;
    for (const char* c = name + 2; *c != '\0'; ++c)
        if (*c < '0' || *c > '9')
            return false;
    return true;
}

std::vector<FoundPrinter> discover_printers(std::string* error, const DiscoveryPlaces& places)
{
    std::vector<FoundPrinter> found;

    // usblp nodes first: a USB device that has one is asked through it.
    std::vector<std::pair<unsigned, unsigned>> behind_nodes;
    if (DIR* dir = opendir(places.lp_dir.c_str()))
    {
        std::vector<std::string> names;
        while (const dirent* entry = readdir(dir))
            if (lo_is_usblp_name(entry->d_name))
                names.emplace_back(entry->d_name);
        closedir(dir);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names)
        {
            const UsbIdentity id = lo_lp_identity(places.usbmisc, name);
            if (id.bus != 0)
                behind_nodes.emplace_back(id.bus, id.address);
            FoundPrinter printer;
            printer.path = places.lp_dir + "/" + name;
            printer.setup = PortSetup::char_device(printer.path);
            printer.product = id.product;
            printer.serial_number = id.serial; // replaced by the printer's own answer
            found.push_back(printer);
        }
    }

    const bool usb_listed =
        places.usb &&
        lo_each_supported_usb(
            [&](unsigned bus, unsigned address, uint16_t product)
            {
                if (std::find(behind_nodes.begin(), behind_nodes.end(),
                              std::make_pair(bus, address)) != behind_nodes.end())
                    return true;
                FoundPrinter printer;
                printer.setup = PortSetup::usb(bus, address);
                char path[64];
                std::snprintf(path, sizeof path, "/dev/bus/usb/%03u/%03u", bus, address);
                printer.path = path;
                printer.product = product;
                found.push_back(printer);
                return true;
            });
    if (places.usb && !usb_listed && error)
        *error = "USB devices could not be listed";

    std::vector<FoundPrinter> printers;
    for (FoundPrinter& printer : found)
    {
        const std::string known_serial = printer.serial_number;
        printer.serial_number.clear();
        if (!lo_probe(printer))
            continue;
        if (printer.busy)
            printer.serial_number =
                printer.setup.kind == PortKind::Usb
                    ? lo_usb_sysfs_serial(printer.setup.bus, printer.setup.address)
                    : known_serial;
        lo_finish(printer);
        printers.push_back(printer);
    }
    return printers;
}

bool usb_device_listed(unsigned bus, unsigned address)
{
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0)
        return true; // cannot tell: taken as there
    bool listed = false;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    for (ssize_t i = 0; i < count && !listed; i++)
        listed =
            libusb_get_bus_number(list[i]) == bus && libusb_get_device_address(list[i]) == address;
    if (count >= 0)
        libusb_free_device_list(list, 1);
    libusb_exit(context);
    return listed;
}

namespace
{
// The supported USB device whose descriptors in sysfs carry this serial
// number, reached through its usblp node when it has one.
std::optional<PortSetup> lo_find_by_sysfs_serial(const std::string& serial_number,
                                                 const DiscoveryPlaces& places)
{
    std::optional<PortSetup> found;
    if (places.usb)
        lo_each_supported_usb(
            [&](unsigned bus, unsigned address, uint16_t)
            {
                if (lo_usb_sysfs_serial(bus, address) == serial_number)
                    found = PortSetup::usb(bus, address);
                return !found;
            });
    if (!found)
        return std::nullopt;
    if (DIR* dir = opendir(places.lp_dir.c_str()))
    {
        while (const dirent* entry = readdir(dir))
        {
            if (std::strncmp(entry->d_name, "lp", 2) != 0)
                continue;
            const UsbIdentity id = lo_lp_identity(places.usbmisc, entry->d_name);
            if (id.bus == found->bus && id.address == found->address)
            {
                found = PortSetup::char_device(places.lp_dir + "/" + entry->d_name);
                break;
            }
        }
        closedir(dir);
    }
    return found;
}
} // namespace

std::optional<PortSetup> find_printer_by_serial(const std::string& serial_number,
                                                std::string* error, const DiscoveryPlaces& places)
{
    if (serial_number.empty())
        return std::nullopt;
    // First without sending anything: a printer that a cancelled job left
    // inside a command would take an inquiry as part of that command.
    if (const auto found = lo_find_by_sysfs_serial(serial_number, places))
        return found;
    for (const FoundPrinter& printer : discover_printers(error, places))
        if (printer.serial_number == serial_number)
            return printer.setup;
    return std::nullopt;
}

} // namespace qel
