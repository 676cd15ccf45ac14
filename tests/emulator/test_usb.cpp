// The emulated USB printer driven by libusb-1.0 itself; runs under umockdev-wrapper.
#include "child_process.h"
#include "virtual_printer.h"

#include <gtest/gtest.h>
#include <libusb-1.0/libusb.h>

#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

using namespace qel_vp;
using Bytes = std::vector<std::uint8_t>;

namespace
{

// A libusb session on the printer at bus 1, address 5 (or another), opened and claimed as the
// printer access library does it.
class UsbHost
{
  public:
    explicit UsbHost(unsigned address = 5)
    {
        libusb_init(&ctx_);
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(ctx_, &list);
        for (ssize_t i = 0; i < n; ++i)
            if (libusb_get_bus_number(list[i]) == 1 &&
                libusb_get_device_address(list[i]) == address)
            {
                libusb_get_device_descriptor(list[i], &descriptor_);
                libusb_config_descriptor* config = nullptr;
                if (libusb_get_active_config_descriptor(list[i], &config) == 0)
                {
                    endpoints_ = config->interface[0].altsetting[0].bNumEndpoints;
                    max_packet_ = config->interface[0].altsetting[0].endpoint[0].wMaxPacketSize;
                    libusb_free_config_descriptor(config);
                }
                open_result_ = libusb_open(list[i], &handle_);
            }
        libusb_free_device_list(list, 1);
        if (!handle_)
            return;
        libusb_get_configuration(handle_, &configuration_);
        driver_was_active_ = libusb_kernel_driver_active(handle_, 0);
        if (driver_was_active_ == 1)
            detach_result_ = libusb_detach_kernel_driver(handle_, 0);
        claim_result_ = libusb_claim_interface(handle_, 0);
    }
    ~UsbHost()
    {
        if (handle_)
        {
            libusb_release_interface(handle_, 0);
            libusb_close(handle_);
        }
        libusb_exit(ctx_);
    }
    int write(const Bytes& b, unsigned timeout = 500)
    {
        int done = 0;
        const int r = libusb_bulk_transfer(handle_, 0x02, const_cast<std::uint8_t*>(b.data()),
                                           static_cast<int>(b.size()), &done, timeout);
        return r == 0 ? done : r;
    }
    // One read try of one packet, as the access library does it.
    int read_packet(Bytes& out, unsigned timeout = 500)
    {
        out.assign(64, 0);
        int got = 0;
        const int r = libusb_bulk_transfer(handle_, 0x81, out.data(), 64, &got, timeout);
        out.resize(static_cast<std::size_t>(got));
        return r;
    }
    Bytes read_until(std::size_t n, unsigned tries = 20)
    {
        Bytes all, packet;
        while (all.size() < n && tries-- > 0)
        {
            read_packet(packet, 100);
            all.insert(all.end(), packet.begin(), packet.end());
        }
        return all;
    }

    libusb_context* ctx_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
    libusb_device_descriptor descriptor_{};
    int endpoints_ = 0, max_packet_ = 0;
    int open_result_ = -99, configuration_ = -1, driver_was_active_ = -1, detach_result_ = 0,
        claim_result_ = -99;
};

PrinterOptions usb_options(std::uint16_t product = 0x0002)
{
    PrinterOptions o;
    o.kind = PortKind::Usb;
    o.product = product;
    return o;
}

} // namespace

TEST(UsbPrinter, LibusbEnumeratesOpensClaimsAndExchanges)
{
    PrinterOptions options = usb_options(0x0013);
    options.stalls = {{18, 1500}};
    VirtualPrinter vp(options);
    std::string err;
    ASSERT_TRUE(vp.start(&err)) << err;
    EXPECT_EQ(vp.port_name(), "/dev/bus/usb/001/005");
    EXPECT_TRUE(std::filesystem::exists(vp.umockdev_dir()));
    {
        UsbHost host;
        ASSERT_NE(host.handle_, nullptr) << "libusb did not find the device";
        EXPECT_EQ(host.descriptor_.idVendor, 0x5E2D);
        EXPECT_EQ(host.descriptor_.idProduct, 0x0013);
        EXPECT_EQ(host.endpoints_, 2);
        EXPECT_EQ(host.max_packet_, 64);
        EXPECT_EQ(host.configuration_, 1);
        EXPECT_EQ(host.driver_was_active_, 1);
        EXPECT_EQ(host.detach_result_, 0);
        ASSERT_EQ(host.claim_result_, 0);

        Bytes request(10, 0x00);
        request.insert(request.end(), {0x1D, 0x61, 0x00, 0x02});
        EXPECT_EQ(host.write(request), 14);
        // 121 bytes arrive as packets of 64 and 57.
        Bytes packet;
        ASSERT_EQ(host.read_packet(packet), 0);
        EXPECT_EQ(packet.size(), 64u);
        EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 4), (Bytes{0x1B, 0xFF, 0x03, 0x75}));
        ASSERT_EQ(host.read_packet(packet), 0);
        EXPECT_EQ(packet.size(), 57u);

        // Nothing to read: the transfer times out (DISCARDURB).
        EXPECT_EQ(host.read_packet(packet, 150), LIBUSB_ERROR_TIMEOUT);
        EXPECT_TRUE(packet.empty());

        // Raw answers queued by a test, each its own transfer.
        vp.queue_answer({1, 2, 3, 4, 5, 6, 7, 8});
        vp.queue_answer({9});
        ASSERT_EQ(host.read_packet(packet), 0);
        EXPECT_EQ(packet, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
        ASSERT_EQ(host.read_packet(packet), 0);
        EXPECT_EQ(packet, (Bytes{9}));

        // Configuration download: 259 bytes.
        EXPECT_EQ(host.write({0x1B, 0xFF, 0x46, 0x00}), 4);
        const Bytes block = host.read_until(259);
        ASSERT_EQ(block.size(), 259u);
        const ConfigBlock c = vp.config();
        EXPECT_TRUE(std::equal(c.begin(), c.end(), block.begin() + 4));

        // The 18th byte began a stall: an OUT transfer waits, and times out unread.
        EXPECT_EQ(host.write({0x1B, 0xFF, 0x46}, 150), LIBUSB_ERROR_TIMEOUT);
        EXPECT_EQ(vp.received().size(), 18u);
        // Taken once the stall is over.
        EXPECT_EQ(host.write({0x1B, 0xFF, 0x46}, 5000), 3);
    }
    // The next claim begins a job inside the request the last one cut off.
    EXPECT_TRUE(vp.boundary_errors().empty());
    {
        UsbHost again;
        ASSERT_EQ(again.claim_result_, 0);
    }
    ASSERT_EQ(vp.boundary_errors().size(), 1u);
    EXPECT_EQ(vp.boundary_errors()[0].offset, 21u);
    const auto frames = vp.transcript();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1].kind, FrameKind::Inquiry);
    EXPECT_EQ(frames[2].kind, FrameKind::ConfigDownload);
    const std::string root = vp.umockdev_dir();
    vp.stop();
    EXPECT_FALSE(std::filesystem::exists(root));
}

TEST(UsbPrinter, SplitMergeAndDisconnectFaults)
{
    VirtualPrinter vp(usb_options());
    std::string err;
    ASSERT_TRUE(vp.start(&err)) << err;
    vp.add_fault(Fault(FaultKind::Split, Exchange::UploadStart, 1, 0, 2));
    vp.add_fault(Fault(FaultKind::Merge, Exchange::Inquiry, 1));
    vp.add_fault(Fault(FaultKind::Disconnect, Exchange::UploadBlock, 2));
    UsbHost host;
    ASSERT_EQ(host.claim_result_, 0);
    Bytes packet;

    // Start answer split into packets of 2, 2, 1.
    EXPECT_EQ(host.write({0x1B, 0xFF, 0x20, 0x08, 0, 0, 1, 0, 0x00, 0x02, 0, 0}), 12);
    std::vector<std::size_t> sizes;
    for (int i = 0; i < 3; ++i)
    {
        ASSERT_EQ(host.read_packet(packet), 0);
        sizes.push_back(packet.size());
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{2, 2, 1}));

    // The inquiry answer is held and arrives in one packet with the next answer.
    EXPECT_EQ(host.write({0x1D, 0x61, 0x00, 0x01}), 4);
    EXPECT_EQ(host.read_packet(packet, 150), LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(host.write({0x1D, 0x61, 0x00, 0x10}), 4);
    ASSERT_EQ(host.read_packet(packet), 0);
    EXPECT_EQ(packet.size(), 18u + 24u);

    // Second upload block: the device goes away; every later transfer fails.
    Bytes blk = {0x1B, 0xFF, 0x22, 0xFF};
    blk.resize(4 + 255, 0xAB);
    EXPECT_EQ(host.write(blk), 259);
    EXPECT_TRUE(vp.connected());
    host.write(blk);
    EXPECT_FALSE(vp.connected());
    EXPECT_EQ(host.write(blk), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(host.read_packet(packet), LIBUSB_ERROR_NO_DEVICE);
    ASSERT_EQ(vp.uploads().size(), 1u);
    EXPECT_EQ(vp.uploads()[0].data.size(), 255u);
}

// The program creates the testbed; a second process finds it through UMOCKDEV_DIR.
TEST(UsbPrinter, ProgramServesAnotherProcess)
{
    const char* program = QEL_VPRINTER_PROGRAM;
    // The printer process must not see the wrapper's own testbed. Two printers in one
    // process, each with its serial number.
    test_support::EmulatorProcess printer;
    ASSERT_TRUE(test_support::start_emulator(
        program,
        {"--usb", "--product", "0x0010", "--serial", "SN-FIRST", "--usb", "--serial", "SN-SECOND"},
        printer, {{"UMOCKDEV_DIR", ""}, {"LD_PRELOAD", ""}}))
        << printer.error;
    const std::string dir = printer.umockdev_dir;
    auto next_line = [&] { return test_support::read_line(printer.process, 20000); };
    EXPECT_EQ(printer.port, "/dev/bus/usb/001/005");
    EXPECT_EQ(next_line(), "READY /dev/bus/usb/001/006");
    ASSERT_FALSE(dir.empty());
    // The serial number field of the information record (inquiry bit 1).
    auto serial_of = [](UsbHost& host)
    {
        EXPECT_EQ(host.write({0x1D, 0x61, 0x00, 0x02}), 4);
        const Bytes answer = host.read_until(121);
        return answer.size() == 121 ? std::string(answer.begin() + 22, answer.begin() + 39)
                                    : std::string();
    };
    const std::string padded_first("SN-FIRST\0\0\0\0\0\0\0\0\0", 17);

    // This process (under the preload library) now talks to the other process's device.
    ::setenv("UMOCKDEV_DIR", dir.c_str(), 1);
    {
        UsbHost host;
        ASSERT_NE(host.handle_, nullptr);
        EXPECT_EQ(host.descriptor_.idProduct, 0x0010);
        ASSERT_EQ(host.claim_result_, 0);
        EXPECT_EQ(host.write({0x1D, 0x61, 0x00, 0x80}), 4);
        const Bytes answer = host.read_until(43);
        ASSERT_EQ(answer.size(), 43u);
        EXPECT_EQ(answer[2], 9);
        EXPECT_EQ(serial_of(host), padded_first);
    }
    {
        UsbHost second(6);
        ASSERT_EQ(second.claim_result_, 0);
        EXPECT_EQ(second.descriptor_.idProduct, 0x0002);
        EXPECT_EQ(serial_of(second), std::string("SN-SECOND\0\0\0\0\0\0\0\0", 17));
    }
    // Plugged in again: each printer at the next free address; a new enumeration finds it
    // there, and nothing at the old address.
    ::kill(printer.process.pid, SIGUSR1);
    EXPECT_EQ(next_line(), "MOVED /dev/bus/usb/001/005 /dev/bus/usb/001/007");
    EXPECT_EQ(next_line(), "MOVED /dev/bus/usb/001/006 /dev/bus/usb/001/008");
    {
        UsbHost gone(5);
        EXPECT_EQ(gone.handle_, nullptr);
        UsbHost moved(7);
        ASSERT_NE(moved.handle_, nullptr);
        ASSERT_EQ(moved.claim_result_, 0);
        EXPECT_EQ(moved.descriptor_.idProduct, 0x0010);
        EXPECT_EQ(serial_of(moved), padded_first);
    }
    EXPECT_EQ(test_support::stop_emulator(printer), 0);
    EXPECT_FALSE(std::filesystem::exists(dir));
}
