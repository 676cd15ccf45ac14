// usb_printer.cpp - a bare emulated USB printer for tests of hosts.
#include "usb_printer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace test_support
{

std::unique_ptr<qel_vp::VirtualPrinter> usb_printer(qel_vp::PrinterOptions options)
{
    options.kind = qel_vp::PortKind::Usb;
    options.protocol = false;
    auto printer = std::make_unique<qel_vp::VirtualPrinter>(std::move(options));
    std::string error;
    EXPECT_TRUE(printer->start(&error)) << error;
    return printer;
}

void warm_up(const std::string& node)
{
    const int fd = open(node.c_str(), O_RDWR);
    if (fd >= 0)
    {
        __u32 caps = 0;
        ioctl(fd, USBDEVFS_GET_CAPABILITIES, &caps);
        close(fd);
    }
}

} // namespace test_support
