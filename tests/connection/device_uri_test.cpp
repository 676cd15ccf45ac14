// Device URIs of the backend and the printer application: every form, what
// is refused and why, and the way back from a printer to its URI.
#include "device_uri.h"

#include <gtest/gtest.h>

namespace
{
using qel::DeviceKind;
using qel::parse_device_uri;

TEST(DeviceUri, EveryFormIsUnderstood)
{
    auto r = parse_device_uri("qel://QEL/Receipt%20Printer%200016?serial=A12%2F7");
    ASSERT_TRUE(r.uri) << r.error;
    EXPECT_EQ(r.uri->kind, DeviceKind::BySerialNumber);
    EXPECT_EQ(r.uri->model, "Receipt Printer 0016");
    EXPECT_EQ(r.uri->serial_number, "A12/7");

    r = parse_device_uri("qel:/dev/usb/lp0");
    ASSERT_TRUE(r.uri) << r.error;
    EXPECT_EQ(r.uri->kind, DeviceKind::UsbLpNode);
    EXPECT_EQ(r.uri->path, "/dev/usb/lp0");

    r = parse_device_uri("qel:///dev/bus/usb/001/005");
    ASSERT_TRUE(r.uri) << r.error;
    EXPECT_EQ(r.uri->kind, DeviceKind::UsbDevice);
    EXPECT_EQ(r.uri->bus, 1u);
    EXPECT_EQ(r.uri->address, 5u);

    r = parse_device_uri("qel:/dev/ttyUSB0?baud=9600");
    ASSERT_TRUE(r.uri) << r.error;
    EXPECT_EQ(r.uri->kind, DeviceKind::SerialLine);
    EXPECT_EQ(r.uri->path, "/dev/ttyUSB0");
    EXPECT_EQ(r.uri->baud, 9600ul);
    r = parse_device_uri("qel:/dev/ttyS0");
    ASSERT_TRUE(r.uri) << r.error;
    EXPECT_EQ(r.uri->baud, 115200ul);
}

TEST(DeviceUri, MalformedUrisAreRefusedWithAReason)
{
    for (const char* bad : {
             "",
             "usb://QEL/x?serial=1",
             "qel:",
             "qel://other/x?serial=1",
             "qel://QEL/model",
             "qel://QEL/model?serial=",
             "qel://QEL/model?serial=%4",
             "qel://QEL/model?serial=%0A",
             "qel://QEL/?serial=1",
             "qel://QEL/m?port=1",
             "qel:/etc/passwd",
             "qel:/dev/../etc/passwd",
             "qel:/dev/./ttyS0",
             "qel:/dev//ttyS0",
             "qel:/dev/usb/lp0?baud=9600",
             "qel:/dev/bus/usb/001",
             "qel:/dev/bus/usb/0/5",
             "qel:/dev/bus/usb/001/x",
             "qel:/dev/ttyS0?baud=12345",
             "qel:/dev/ttyS0?speed=9600",
             "qel:/dev/tty S0",
             "qel:/dev/",
             "qel:/dev/ttyS0/",
             "qel:dev/ttyS0",
         })
    {
        const auto r = parse_device_uri(bad);
        EXPECT_FALSE(r.uri) << bad;
        EXPECT_FALSE(r.error.empty()) << bad;
    }
}

TEST(DeviceUri, MadeUrisParseBackToThePrinter)
{
    const std::string serial = "QX-0042 \"7\"";
    const auto r = parse_device_uri(qel::device_uri_for_serial("Receipt Printer 0010", serial));
    ASSERT_TRUE(r.uri) << r.error;
    EXPECT_EQ(r.uri->serial_number, serial);
    EXPECT_EQ(r.uri->model, "Receipt Printer 0010");

    EXPECT_EQ(qel::device_uri_for_path("/dev/ttyS1", 57600), "qel:/dev/ttyS1?baud=57600");
    const auto tty = parse_device_uri(qel::device_uri_for_path("/dev/ttyS1", 57600));
    ASSERT_TRUE(tty.uri);
    EXPECT_EQ(tty.uri->baud, 57600ul);
}
} // namespace
