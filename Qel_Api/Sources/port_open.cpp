// port_open.cpp - open and close a printer port by name.
//
// "/dev/usb/lpN" nodes and "Ttys" serial lines are opened as character
// devices; "/dev/bus/usb/BBB/DDD" is driven through libusb (usb_port.cpp).
#include "api_internal.h"
#include "Qel_Api.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace qel::detail
{
/*
 * char_open - open a printer-class node or a serial line, not as controlling
 * terminal. The descriptor is non-blocking: the transfers wait in poll() for
 * at most their own time-out, so a line whose reads would block (VMIN above
 * 0) or a printer-class node of a silent printer cannot hold them.
 *
 * One writer per printer: the open takes an exclusive advisory lock on the
 * device (O_EXCL means nothing for a device node), so a second opener, in
 * this process or another, fails at once instead of mixing its bytes into a
 * job. The lock goes with the last close of the descriptor (a program that
 * runs another keeps it there unless close_on_exec is set).
 *
 * Returns the file descriptor, or -1.
 */
int char_open(const char* path, bool close_on_exec)
{
    const int fd =
        open(path, O_RDWR | O_EXCL | O_NOCTTY | O_NONBLOCK | (close_on_exec ? O_CLOEXEC : 0));
    if (fd < 0)
    {
        return -1;
    }
    int locked = 0;
    do
    {
        locked = flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0)
    {
        api_debug(" Port %s is in use by another program\n", path);
        close(fd);
        return -1;
    }
    return fd;
}
} // namespace qel::detail

namespace
{
/*
 * lo_open_char_device - the C interface's character-device open: a serial
 * line is set to 115200 8N1 at once. Returns the file descriptor, or -1.
 */
intptr_t lo_open_char_device(const char* port)
{
    const int fd = qel::detail::char_open(port, false);
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
