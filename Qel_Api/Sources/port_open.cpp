// port_open.cpp - open and close a printer port by name.
//
// "/dev/usb/lpN" nodes and "Ttys" serial lines are opened as character
// devices; "/dev/bus/usb/BBB/DDD" is driven through libusb (usb_port.cpp).
#include "api_internal.h"
#include "Qel_Api.h"

#include <fcntl.h>
#include <unistd.h>

namespace
{
/*
 * lo_open_char_device - open a printer-class node or a serial line, not as
 * controlling terminal. The descriptor is non-blocking: the transfers wait in
 * poll() for at most their own time-out, so a line whose reads would block
 * (VMIN above 0) or a printer-class node of a silent printer cannot hold them.
 * A serial line is set to 115200 8N1 at once. Returns the file descriptor, or -1.
 */
intptr_t lo_open_char_device(const char* port)
{
    const int fd = open(port, O_RDWR | O_EXCL | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
    {
        return -1;
    }
    if (api_port_is_serial(port))
    {
        qel_api_printer_set_serial(fd, 115200, 8, 'n', 1);
    }
    return fd;
}
} // namespace

intptr_t qel_api_printer_open(char* port)
{
    if (port == nullptr)
    {
        return -2;
    }
    communication = api_port_kind(port, communication);
    switch (communication)
    {
    case kKindCharDevice:
        return lo_open_char_device(port);
    case kKindUsb:
        return api_usb_open(port);
    default:
        return -2;
    }
}

void qel_api_printer_close(intptr_t printer)
{
    if (printer < 0)
    {
        return;
    }
    switch (communication)
    {
    case kKindCharDevice:
        close(static_cast<int>(printer));
        break;
    case kKindUsb:
        api_usb_close(printer);
        break;
    default:
        break;
    }
}
