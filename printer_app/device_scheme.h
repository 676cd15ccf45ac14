// device_scheme.h - the "qel" device scheme of the printer application.
//
// PAPPL opens a printer's device through the scheme of its device URI; the "qel" URIs
// (connection/device_uri.h) name a printer by serial number on any USB port, a usblp node, a
// raw USB device or a serial line with its baud rate. Each open device holds one port object,
// and so the device's lock: no other program and no second job puts bytes into a receipt.
#pragma once

#include <pappl/pappl.h>

#include <memory>
#include <string>

namespace qel
{
class Port;
}

namespace qel_app
{

// An open printer port and the device node it was opened on. A job holds its device's link
// for as long as it writes, so the port outlives the device if PAPPL closes the device under
// the job (see device_link).
class DeviceLink
{
  public:
    DeviceLink(std::unique_ptr<qel::Port> port, std::string node);
    ~DeviceLink();

    qel::Port& port() { return *port_; }
    // False once the device node has gone (unplugged, emulator ended).
    bool present() const;

  private:
    std::unique_ptr<qel::Port> port_;
    std::string node_;
};

// Registers the scheme with PAPPL (once, before the system runs or a sub-command lists).
void register_device_scheme();

// Opens the printer of a "qel" device URI; nullptr with the reason in ERROR.
std::shared_ptr<DeviceLink> open_device_link(const char* device_uri, std::string* error);

// The link of a device of the scheme that is open now, or nullptr (another scheme, or a
// device already closed). Only the pointer's value is looked up, never what it points to:
// PAPPL 1.3.1 can close and free a printer's device while the next job is starting on it (the
// job that ended decides to close without the printer's lock, the next job starts on the
// still open device in between), so a job may be handed a device that no longer exists.
std::shared_ptr<DeviceLink> device_link(pappl_device_t* device);

// The port of an open device of the scheme, or nullptr. For a caller that holds the device
// open for as long as it uses the port (the status exchange).
qel::Port* device_port(pappl_device_t* device);

} // namespace qel_app
