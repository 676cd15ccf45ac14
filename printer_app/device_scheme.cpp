// device_scheme.cpp - PAPPL device callbacks over the kit's port objects.
#include "device_scheme.h"

#include "device_uri.h"
#include "discovery.h"
#include "models.h"
#include "port.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <unistd.h>

namespace qel_app
{
namespace
{

// The open devices of the scheme and their links.
std::mutex lo_mutex;
std::map<const pappl_device_t*, std::shared_ptr<DeviceLink>> lo_open_devices;

const char* lo_open_failure(int code)
{
    switch (code)
    {
    case -1:
        return "the device cannot be opened or another program is using it";
    case -2:
        return "no such printer is attached";
    default:
        return "the printer's port could not be set up";
    }
}

std::string lo_usb_node(unsigned bus, unsigned address)
{
    char path[64];
    std::snprintf(path, sizeof path, "/dev/bus/usb/%03u/%03u", bus, address);
    return path;
}

bool lo_list(pappl_device_cb_t cb, void* data, pappl_deverror_cb_t err_cb, void* err_data)
{
    std::string error;
    const std::vector<qel::FoundPrinter> found = qel::discover_printers(&error);
    if (!error.empty() && err_cb)
        err_cb(error.c_str(), err_data);
    for (const qel::FoundPrinter& printer : found)
    {
        const Model* model = model_for_product(printer.product);
        const std::string name = model ? make_and_model(*model) : "QEL Receipt Printer";
        const std::string info =
            printer.serial_number.empty() ? name : name + " (" + printer.serial_number + ")";
        const std::string uri =
            printer.serial_number.empty()
                ? qel::device_uri_for_path(printer.path)
                : qel::device_uri_for_serial(model ? model->model_name : "Receipt Printer",
                                             printer.serial_number);
        std::string device_id = "MFG:QEL;CMD:QEL;";
        if (model)
            device_id += std::string("MDL:") + model->model_name + ";";
        if (!printer.serial_number.empty())
            device_id += "SN:" + printer.serial_number + ";";
        if (cb(info.c_str(), uri.c_str(), device_id.c_str(), data))
            return true;
    }
    return false;
}

bool lo_open(pappl_device_t* device, const char* device_uri, const char* /*name*/)
{
    std::string error;
    std::shared_ptr<DeviceLink> link = open_device_link(device_uri, &error);
    if (!link)
    {
        papplDeviceError(device, "%s", error.c_str());
        return false;
    }
    const std::lock_guard<std::mutex> lock(lo_mutex);
    lo_open_devices[device] = std::move(link);
    return true;
}

void lo_close(pappl_device_t* device)
{
    std::shared_ptr<DeviceLink> link;
    {
        const std::lock_guard<std::mutex> lock(lo_mutex);
        const auto found = lo_open_devices.find(device);
        if (found == lo_open_devices.end())
            return;
        link = std::move(found->second);
        lo_open_devices.erase(found);
    }
    // The port closes here unless a job still holds the link.
}

ssize_t lo_read(pappl_device_t* device, void* buffer, size_t bytes)
{
    qel::Port* port = device_port(device);
    if (!port || bytes == 0)
        return -1;
    // The port reads exactly what is asked for; take what comes one byte at a time.
    auto* out = static_cast<unsigned char*>(buffer);
    size_t got = 0;
    while (got < bytes && port->read(out + got, 1, got == 0 ? 1000 : 50) == 1)
        got++;
    return static_cast<ssize_t>(got);
}

ssize_t lo_write(pappl_device_t* device, const void* buffer, size_t bytes)
{
    qel::Port* port = device_port(device);
    if (!port)
        return -1;
    const auto* data = static_cast<const unsigned char*>(buffer);
    size_t done = 0;
    while (done < bytes)
    {
        const int chunk = static_cast<int>(bytes - done > 65536 ? 65536 : bytes - done);
        const int written = port->write(data + done, chunk, 10000);
        if (written <= 0)
            break;
        done += static_cast<size_t>(written);
    }
    return done == 0 && bytes > 0 ? -1 : static_cast<ssize_t>(done);
}

pappl_preason_t lo_status(pappl_device_t* /*device*/)
{
    return PAPPL_PREASON_NONE;
}

char* lo_id(pappl_device_t* /*device*/, char* buffer, size_t bufsize)
{
    if (bufsize > 0)
        buffer[0] = '\0';
    return nullptr;
}

} // namespace

void register_device_scheme()
{
    papplDeviceAddScheme("qel", PAPPL_DEVTYPE_CUSTOM_LOCAL, lo_list, lo_open, lo_close, lo_read,
                         lo_write, lo_status, lo_id);
}

DeviceLink::DeviceLink(std::unique_ptr<qel::Port> port, std::string node)
    : port_(std::move(port)), node_(std::move(node))
{
}

DeviceLink::~DeviceLink() = default;

bool DeviceLink::present() const
{
    return node_.empty() || access(node_.c_str(), F_OK) == 0;
}

std::shared_ptr<DeviceLink> open_device_link(const char* device_uri, std::string* error)
{
    const qel::DeviceUriResult parsed = qel::parse_device_uri(device_uri ? device_uri : "");
    if (!parsed.uri)
    {
        *error = "Bad device URI: " + parsed.error;
        return nullptr;
    }
    const qel::DeviceUri& uri = *parsed.uri;
    qel::PortSetup setup;
    std::string node = uri.path;
    switch (uri.kind)
    {
    case qel::DeviceKind::UsbLpNode:
        setup = qel::PortSetup::char_device(uri.path);
        break;
    case qel::DeviceKind::UsbDevice:
        setup = qel::PortSetup::usb(uri.bus, uri.address);
        node = lo_usb_node(uri.bus, uri.address);
        break;
    case qel::DeviceKind::SerialLine:
        setup = qel::PortSetup::serial(uri.path, uri.baud);
        break;
    case qel::DeviceKind::BySerialNumber:
    {
        std::string why;
        const std::optional<qel::PortSetup> found =
            qel::find_printer_by_serial(uri.serial_number, &why);
        if (!found)
        {
            *error = "Printer " + uri.serial_number + " is not attached" +
                     (why.empty() ? "" : ": " + why);
            return nullptr;
        }
        setup = *found;
        node =
            setup.kind == qel::PortKind::Usb ? lo_usb_node(setup.bus, setup.address) : setup.path;
        break;
    }
    }
    int code = 0;
    auto port = qel::Port::open(setup, &code);
    if (!port)
    {
        *error = std::string("Unable to open ") + device_uri + ": " + lo_open_failure(code);
        return nullptr;
    }
    return std::make_shared<DeviceLink>(std::move(port), std::move(node));
}

std::shared_ptr<DeviceLink> device_link(pappl_device_t* device)
{
    const std::lock_guard<std::mutex> lock(lo_mutex);
    const auto found = lo_open_devices.find(device);
    return found == lo_open_devices.end() ? nullptr : found->second;
}

qel::Port* device_port(pappl_device_t* device)
{
    const std::shared_ptr<DeviceLink> link = device_link(device);
    return link ? &link->port() : nullptr;
}

} // namespace qel_app
