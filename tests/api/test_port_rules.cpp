// Port names, supported models and serial line settings: the pure rules of the library.
#include "api_internal.h"
#include "port.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace
{
TEST(PortKind, MarkersAnywhereInTheName)
{
    EXPECT_EQ(api_port_kind("/dev/usb/lp0", 0), 1);
    EXPECT_EQ(api_port_kind("/tmp/x/dev/usb/lp3", 2), 1);
    EXPECT_EQ(api_port_kind("/dev/Ttys1", 0), 1);
    EXPECT_EQ(api_port_kind("/dev/bus/usb/001/005", 0), 2);
    EXPECT_EQ(api_port_kind("/dev/bus/usb/001/005", 1), 2);
    // The character-device markers are tested first.
    EXPECT_EQ(api_port_kind("/dev/bus/usb/Ttys", 0), 1);
}

TEST(PortKind, NoMarkerKeepsThePreviousKind)
{
    EXPECT_EQ(api_port_kind("/dev/ttyS0", 0), 0);
    EXPECT_EQ(api_port_kind("/dev/ttys0", 0), 0) << "case-sensitive";
    EXPECT_EQ(api_port_kind("/dev/ttyUSB0", 1), 1);
    EXPECT_EQ(api_port_kind("/dev/usb/LP0", 2), 2);
    EXPECT_EQ(api_port_kind("", 2), 2);
    EXPECT_TRUE(api_port_is_serial("/dev/Ttys1"));
    EXPECT_FALSE(api_port_is_serial("/dev/usb/lp0"));
}

TEST(UsbName, BusAndDeviceFromTheFourthAndFifthPiece)
{
    long bus = -1;
    long device = -1;
    ASSERT_TRUE(api_parse_usb_name("/dev/bus/usb/001/005", &bus, &device));
    EXPECT_EQ(bus, 1);
    EXPECT_EQ(device, 5);
    ASSERT_TRUE(api_parse_usb_name("//dev//bus/usb/012/127/extra/pieces", &bus, &device));
    EXPECT_EQ(bus, 12);
    EXPECT_EQ(device, 127);
    ASSERT_TRUE(api_parse_usb_name("/dev/bus/usb/abc/7x", &bus, &device));
    EXPECT_EQ(bus, 0) << "a piece without leading digits reads as 0";
    EXPECT_EQ(device, 7);
    ASSERT_TRUE(api_parse_usb_name("/dev/bus/usb/99999999999999999999999/1", &bus, &device));
    EXPECT_EQ(bus, LONG_MAX) << "no overflow on absurd numbers";
}

TEST(UsbName, MissingPiecesAreRefusedAndNothingWritten)
{
    long bus = -1;
    long device = -1;
    EXPECT_FALSE(api_parse_usb_name("/dev/bus/usb/001", &bus, &device));
    EXPECT_FALSE(api_parse_usb_name("/dev/bus/usb/001/", &bus, &device));
    EXPECT_FALSE(api_parse_usb_name("", &bus, &device));
    EXPECT_FALSE(api_parse_usb_name(nullptr, &bus, &device));
    EXPECT_EQ(bus, -1);
    EXPECT_EQ(device, -1);

    std::string name = "/dev/bus/usb/003/004";
    ASSERT_TRUE(api_parse_usb_name(name.c_str(), &bus, &device));
    EXPECT_EQ(name, "/dev/bus/usb/003/004") << "the name is not changed";
}

TEST(SupportedModels, EightProductsOfOneVendor)
{
    int supported = 0;
    for (unsigned product = 0; product <= 0xFFFF; ++product)
    {
        supported += api_is_supported_model(0x5E2D, static_cast<std::uint16_t>(product));
    }
    EXPECT_EQ(supported, 8);
    for (std::uint16_t product : {0x0002, 0x0010, 0x0013, 0x0016})
    {
        EXPECT_TRUE(api_is_supported_model(0x5E2D, product)) << product;
    }
    EXPECT_FALSE(api_is_supported_model(0x5E2D, 0x0017));
    EXPECT_FALSE(api_is_supported_model(0x5E2D, 0x0001));
    EXPECT_FALSE(api_is_supported_model(0x2D5E, 0x0002));
}

TEST(SerialSettings, RawEightBitsWithFlowControl)
{
    const struct termios t = api_build_serial_settings(115200, 8, 'n', 1);
    EXPECT_EQ(t.c_iflag, static_cast<tcflag_t>(IGNPAR));
    EXPECT_EQ(t.c_oflag, 0u);
    EXPECT_EQ(t.c_lflag, 0u);
    EXPECT_EQ(t.c_cflag, static_cast<tcflag_t>(B115200 | CRTSCTS | CLOCAL | CREAD | CS8));
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 1);
    EXPECT_EQ(t.c_cc[VINTR], 0);
}

TEST(SerialSettings, SpeedsParityAndStopBits)
{
    const struct
    {
        unsigned long rate;
        speed_t code;
    } speeds[] = {{2400, B2400},   {4800, B4800},   {9600, B9600},     {19200, B19200},
                  {38400, B38400}, {57600, B57600}, {115200, B115200}, {14400, B115200},
                  {0, B115200},    {1200, B115200}, {230400, B115200}};
    for (const auto& s : speeds)
    {
        const struct termios t = api_build_serial_settings(s.rate, 8, 'n', 1);
        EXPECT_EQ(cfgetospeed(&t), s.code) << s.rate;
        EXPECT_EQ(cfgetispeed(&t), s.code) << s.rate;
    }

    const tcflag_t parity_bits = PARENB | PARODD;
    EXPECT_EQ(api_build_serial_settings(9600, 8, 'E', 1).c_cflag & parity_bits, PARENB);
    EXPECT_EQ(api_build_serial_settings(9600, 8, 'e', 1).c_cflag & parity_bits, PARENB);
    EXPECT_EQ(api_build_serial_settings(9600, 8, 'O', 1).c_cflag & parity_bits, parity_bits);
    EXPECT_EQ(api_build_serial_settings(9600, 8, 'o', 1).c_cflag & parity_bits, parity_bits);
    EXPECT_EQ(api_build_serial_settings(9600, 8, 'x', 1).c_cflag & parity_bits, 0u);

    EXPECT_NE(api_build_serial_settings(9600, 8, 'n', 2).c_cflag & CSTOPB, 0u);
    EXPECT_EQ(api_build_serial_settings(9600, 8, 'n', 3).c_cflag & CSTOPB, 0u);
    EXPECT_EQ(api_build_serial_settings(9600, 5, 'n', 1).c_cflag & CSIZE, CS8);
}

// Port objects take the rate as given, also above 115200, and refuse the others instead of
// running the line at a rate nobody asked for.
TEST(SerialSettings, PortObjectRates)
{
    EXPECT_EQ(qel::parse_baud_rate("1200"), 1200u);
    EXPECT_EQ(qel::parse_baud_rate("9600"), 9600u);
    EXPECT_EQ(qel::parse_baud_rate("230400"), 230400u);
    for (const char* refused :
         {"14400", "0", "", "9600x", " 9600", "-9600", "115200 ", "99999999999999999999999"})
    {
        EXPECT_EQ(qel::parse_baud_rate(refused), std::nullopt) << '"' << refused << '"';
    }
}

} // namespace
