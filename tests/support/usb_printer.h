// usb_printer.h - the emulator's USB printer as a bare device for tests of hosts: it records
// what the host writes and sends only what the test queues (no protocol answers).
#pragma once

#include "virtual_printer.h"

#include <memory>
#include <string>

namespace test_support
{

// Started at /dev/bus/usb/BUS/ADDRESS of `options` (kind and protocol are set here); a start
// that fails fails the running test and still returns the printer.
std::unique_ptr<qel_vp::VirtualPrinter> usb_printer(qel_vp::PrinterOptions options = {});

// Opens the node once and asks it something, so that the emulation has set up its own threads
// and descriptors before a test counts them.
void warm_up(const std::string& node);

} // namespace test_support
