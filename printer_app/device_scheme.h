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

// Registers the scheme with PAPPL (once, before the system runs or a sub-command lists).
void register_device_scheme();

// The port of an open device of the scheme, or nullptr for a device of another scheme (the
// application adds printers of its own scheme only).
qel::Port* device_port(pappl_device_t* device);

// False once the device node of an open device has gone (unplugged, emulator ended).
bool device_present(pappl_device_t* device);

} // namespace qel_app
