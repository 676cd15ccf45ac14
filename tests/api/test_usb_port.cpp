// USB ports through the real libusb against an emulated usbfs printer.
#include "Qel_Api.h"
#include "process_threads.h"
#include "usb_printer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <unistd.h>
#include <numeric>
#include <vector>

using qel_vp::PrinterOptions;
using qel_vp::VirtualPrinter;
using test_support::thread_count;
using test_support::usb_printer;

namespace
{
std::vector<unsigned char> bytes_from(unsigned char first, std::size_t n)
{
    std::vector<unsigned char> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

class UsbPort : public ::testing::Test
{
  protected:
    void TearDown() override
    {
        // The port goes before the emulated device it talks to.
        if (handle_ >= 0)
        {
            qel_api_printer_close(handle_);
        }
        printer_.reset();
        DEBUG_MESSAGES = 0;
    }

    // Builds the emulated printer (printer_) and opens its port; returns the handle.
    intptr_t open_port(PrinterOptions setup = {})
    {
        printer_ = usb_printer(setup);
        std::string name = printer_->port_name();
        handle_ = qel_api_printer_open(name.data());
        return handle_;
    }

    std::unique_ptr<VirtualPrinter> printer_;
    intptr_t handle_ = -1;
};

TEST_F(UsbPort, OpenFindsTheDeviceAndTakesItsEndpoints)
{
    PrinterOptions setup;
    setup.usb.endpoints = {0x03, 0x82};
    setup.usb.packet_size = 32;
    printer_ = usb_printer(setup);
    VirtualPrinter& printer = *printer_;
    test_support::warm_up(printer.port_name());
    const int threads = thread_count();
    std::string name = printer.port_name();
    handle_ = qel_api_printer_open(name.data());
    ASSERT_GT(handle_, 0);

    EXPECT_EQ(communication, 2);
    EXPECT_EQ(QEL_API_ACCESS_READ, 0x82);
    EXPECT_EQ(QEL_API_ACCESS_WRITE, 0x03);
    EXPECT_EQ(QEL_API_ACCESS_READ_ENDPOINT_SIZE, 32);
    EXPECT_EQ(QEL_API_INTERFACE, 0);
    EXPECT_FALSE(printer.usb_activity().driver_bound) << "usblp must be detached";
    EXPECT_EQ(printer.usb_activity().claims, 1u);
    ASSERT_NE(m_pub_rx_buffer, nullptr);
    EXPECT_EQ(m_index_rx_bottom, 0);
    EXPECT_EQ(m_index_rx_top, 0);

    qel_api_printer_close(handle_);
    handle_ = -1;
    EXPECT_EQ(printer.usb_activity().releases, 1u);
    EXPECT_EQ(thread_count(), threads) << "libusb context not ended";
    EXPECT_EQ(m_pub_rx_buffer, nullptr);
    EXPECT_EQ(communication, 2) << "the kind survives close";
    EXPECT_EQ(QEL_API_ACCESS_READ, 0x82) << "endpoints survive close";
}

TEST_F(UsbPort, SecondHalfOfAPacketComesFromTheRing)
{
    ASSERT_GT(open_port(), 0);
    printer_->queue_answer(bytes_from(0x10, 8));

    unsigned char first[4] = {};
    ASSERT_EQ(qel_api_printer_read(handle_, first, 4, 1000), 4);
    EXPECT_EQ(std::vector<unsigned char>(first, first + 4), bytes_from(0x10, 4));
    const unsigned submits = printer_->usb_activity().in_submits;

    unsigned char second[4] = {};
    ASSERT_EQ(qel_api_printer_read(handle_, second, 4, 1000), 4);
    EXPECT_EQ(std::vector<unsigned char>(second, second + 4), bytes_from(0x14, 4));
    EXPECT_EQ(printer_->usb_activity().in_submits, submits)
        << "no device transfer for bytes already held";
}

TEST_F(UsbPort, IncompleteReadKeepsItsBytesForTheNextRead)
{
    ASSERT_GT(open_port(), 0);
    printer_->queue_answer(bytes_from(0x40, 6));

    unsigned char data[10] = {};
    EXPECT_EQ(qel_api_printer_read(handle_, data, 10, 200), 0);
    EXPECT_EQ(data[0], 0) << "an incomplete read hands out nothing";

    ASSERT_EQ(qel_api_printer_read(handle_, data, 6, 0), 6);
    EXPECT_EQ(std::vector<unsigned char>(data, data + 6), bytes_from(0x40, 6));
}

TEST_F(UsbPort, ClearDropsWhatAnIncompleteReadLeft)
{
    ASSERT_GT(open_port(), 0);
    printer_->queue_answer({1, 2, 3});
    unsigned char data[8] = {};
    ASSERT_EQ(qel_api_printer_read(handle_, data, 8, 100), 0);

    EXPECT_EQ(qel_api_printer_clear(handle_), 1);
    EXPECT_EQ(m_index_rx_bottom, 0);
    EXPECT_EQ(m_index_rx_top, 0);
    printer_->queue_answer({7, 8});
    ASSERT_EQ(qel_api_printer_read(handle_, data, 2, 1000), 2);
    EXPECT_EQ(data[0], 7);
    EXPECT_EQ(data[1], 8);
}

TEST_F(UsbPort, ReadLargerThanTheRingNeverSucceeds)
{
    ASSERT_GT(open_port(), 0);
    for (int i = 0; i < 17; ++i)
    {
        printer_->queue_answer(bytes_from(static_cast<unsigned char>(i * 64), 64));
    }
    std::vector<unsigned char> data(1024);
    // 15 packets fill 960 bytes; the 16th would leave no byte free.
    EXPECT_EQ(qel_api_printer_read(handle_, data.data(), 1024, 3000), -2);
    EXPECT_EQ(m_index_rx_top - m_index_rx_bottom, 960) << "the ring keeps what it held";
}

TEST_F(UsbPort, PacketLargerThanTheRoomLeftIsRefusedAndTheRingSurvives)
{
    ASSERT_GT(open_port(), 0);
    for (int i = 0; i < 15; ++i)
    {
        printer_->queue_answer(bytes_from(static_cast<unsigned char>(i), 64));
    }
    printer_->queue_answer(bytes_from(0xA0, 40)); // 1000 held, 24 free
    printer_->queue_answer(bytes_from(0xC0, 64));
    std::vector<unsigned char> data(1010);
    EXPECT_EQ(qel_api_printer_read(handle_, data.data(), 1010, 3000), -3);

    ASSERT_EQ(qel_api_printer_read(handle_, data.data(), 1000, 0), 1000);
    EXPECT_EQ(data[0], 0);
    EXPECT_EQ(data[64], 1);
    EXPECT_EQ(data[960], 0xA0);
    EXPECT_EQ(data[999], 0xA0 + 39);
}

TEST_F(UsbPort, SilentPrinterReadEndsAfterTheTimeout)
{
    ASSERT_GT(open_port(), 0);
    unsigned char data[4] = {};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(qel_api_printer_read(handle_, data, 4, 500), 0);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    EXPECT_GE(elapsed, 500);
    EXPECT_LT(elapsed, 3000) << "the read must not hang";
}

TEST_F(UsbPort, TimeoutZeroMakesExactlyOneTry)
{
    ASSERT_GT(open_port(), 0);
    unsigned char data[4] = {};
    const unsigned before = printer_->usb_activity().in_submits;
    EXPECT_EQ(qel_api_printer_read(handle_, data, 4, 0), 0);
    EXPECT_EQ(printer_->usb_activity().in_submits, before + 1);
}

TEST_F(UsbPort, WriteDeliversEveryByteInOrder)
{
    ASSERT_GT(open_port(), 0);
    auto data = bytes_from(0, 200);
    EXPECT_EQ(qel_api_printer_write(handle_, data.data(), 200, 1000), 200);
    EXPECT_EQ(printer_->received(), data);
    EXPECT_EQ(qel_api_printer_write(handle_, data.data(), 0, 1000), 0);
    EXPECT_EQ(qel_api_printer_write(handle_, nullptr, 5, 1000), 0);
    EXPECT_EQ(printer_->received().size(), 200u) << "empty writes send nothing";
}

TEST_F(UsbPort, WriteTriesEndingInAnErrorCountOnlyTheBytesTransferred)
{
    PrinterOptions setup;
    setup.usb.out_piece = 3;
    setup.usb.out_piece_error = true;
    ASSERT_GT(open_port(setup), 0);
    auto data = bytes_from(0x30, 16);
    EXPECT_EQ(qel_api_printer_write(handle_, data.data(), 16, 2000), 16);
    EXPECT_EQ(printer_->received(), data) << "every byte once, in order";
}

TEST_F(UsbPort, WriteToAPrinterThatStopsTakingReportsWhatArrived)
{
    PrinterOptions setup;
    setup.usb.out_piece = 4;
    setup.usb.out_piece_error = true;
    setup.usb.out_limit = 10;
    ASSERT_GT(open_port(setup), 0);
    auto data = bytes_from(0x50, 16);
    EXPECT_EQ(qel_api_printer_write(handle_, data.data(), 16, 300), 10);
    EXPECT_EQ(printer_->received().size(), 10u);
}

TEST_F(UsbPort, SerialSettingsLeaveAUsbPortAlone)
{
    ASSERT_GT(open_port(), 0);
    EXPECT_EQ(qel_api_printer_set_serial(handle_, 9600, 8, 'E', 2), 1);
    EXPECT_EQ(communication, 2);
}

TEST_F(UsbPort, ClosedHandleIsNoPort)
{
    ASSERT_GT(open_port(), 0);
    const intptr_t stale = handle_;
    qel_api_printer_close(handle_);
    handle_ = -1;
    unsigned char data[4] = {1, 2, 3, 4};
    EXPECT_EQ(qel_api_printer_write(stale, data, 4, 0), 0);
    EXPECT_EQ(qel_api_printer_read(stale, data, 4, 0), 0);
    EXPECT_EQ(qel_api_printer_clear(stale), 0);
    qel_api_printer_close(stale); // a second close must not touch the freed handle
    EXPECT_EQ(printer_->usb_activity().releases, 1u);
}

TEST_F(UsbPort, DiagnosticsOnlyWhenAskedFor)
{
    printer_ = usb_printer();
    VirtualPrinter& printer = *printer_;
    std::string name = printer.port_name();
    testing::internal::CaptureStdout();
    handle_ = qel_api_printer_open(name.data());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_GT(handle_, 0);
    qel_api_printer_close(handle_);
    handle_ = -1;

    DEBUG_MESSAGES = 1;
    testing::internal::CaptureStdout();
    handle_ = qel_api_printer_open(name.data());
    printer.queue_answer({0xDE, 0xAD});
    unsigned char data[2];
    const int n = qel_api_printer_read(handle_, data, 2, 1000);
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_GT(handle_, 0);
    EXPECT_EQ(n, 2);
    EXPECT_NE(out.find(" Endpoints count = 2\n"), std::string::npos) << out;
    EXPECT_NE(out.find(" Endpoint READ = 0x81\n Endpoint WRITE= 0x02\n"), std::string::npos);
    EXPECT_NE(out.find("\n Transfered = 2 \n[DE] [AD] \n \n"), std::string::npos) << out;
    EXPECT_NE(out.find("Read count bytes = 2, free buffer size = 1022, current buffer = 2 \n"),
              std::string::npos);
}

TEST_F(UsbPort, EmptyReadTryIsExplainedInTheDiagnostics)
{
    ASSERT_GT(open_port(), 0);
    DEBUG_MESSAGES = 1;
    testing::internal::CaptureStdout();
    unsigned char data[2];
    EXPECT_EQ(qel_api_printer_read(handle_, data, 2, 0), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("\n Transfered = 0 \n\n \nerror = -7, count = 0\nREAD TIMEOUT -7\n"),
              std::string::npos)
        << out;
}

TEST_F(UsbPort, KindFollowsTheMarkerAndSurvivesClose)
{
    ASSERT_GT(open_port(), 0);
    qel_api_printer_close(handle_);
    handle_ = -1;
    EXPECT_EQ(communication, 2);

    // No marker: still a USB name, and this one has no bus and device.
    char plain[] = "/some/printer";
    EXPECT_EQ(qel_api_printer_open(plain), -2);
    EXPECT_EQ(communication, 2);

    // A printer-class marker switches to a character device.
    char lp[] = "/nonexistent/dev/usb/lp9";
    EXPECT_EQ(qel_api_printer_open(lp), -1);
    EXPECT_EQ(communication, 1);
}

// Failed opens: the code, and nothing left behind: no claimed interface, no
// libusb context (its event thread), and the interface bound to its kernel
// driver as before. The sanitizer build's leak check also catches a device
// handle or device list that was not given back.
class UsbOpenFailure : public ::testing::Test
{
  protected:
    void expect_failure(const PrinterOptions& setup, intptr_t code, const char* port = nullptr)
    {
        const auto device = usb_printer(setup);
        VirtualPrinter& printer = *device;
        test_support::warm_up(printer.port_name());
        const int threads = thread_count();
        std::string name = port != nullptr ? port : printer.port_name();
        EXPECT_EQ(qel_api_printer_open(name.data()), code);
        EXPECT_EQ(printer.usb_activity().claims, printer.usb_activity().releases)
            << "interface left claimed";
        EXPECT_EQ(thread_count(), threads) << "libusb context left running";
        EXPECT_EQ(m_pub_rx_buffer, nullptr);
        EXPECT_EQ(printer.usb_activity().driver_bound, setup.usb.kernel_driver)
            << "kernel driver not given back";
    }
};

TEST_F(UsbOpenFailure, NoDeviceAtThatAddress)
{
    expect_failure({}, -2, "/dev/bus/usb/001/006");
    expect_failure({}, -2, "/dev/bus/usb/002/005");
}

TEST_F(UsbOpenFailure, NameWithoutDeviceNumber)
{
    expect_failure({}, -2, "/dev/bus/usb/001");
}

// Printers the library must refuse, with the code of each refusal.
struct OpenFailureCase
{
    const char* name;
    void (*setup)(PrinterOptions&);
    intptr_t code;
};

const OpenFailureCase kOpenFailures[] = {
    {"UnsupportedProduct", [](PrinterOptions& o) { o.product = 0x0017; }, -2},
    {"ForeignVendor",
     [](PrinterOptions& o)
     {
         o.usb.vendor = 0x5E2E;
         o.product = 0x0010;
     },
     -2},
    {"KernelDriverWillNotLetGo", [](PrinterOptions& o) { o.usb.detach_fails = true; }, -3},
    {"InterfaceNeverClaimed", [](PrinterOptions& o) { o.usb.claim_fails = true; }, -4},
    {"ConfigurationWithoutInterface", [](PrinterOptions& o) { o.usb.with_interface = false; }, -6},
    {"SingleEndpoint", [](PrinterOptions& o) { o.usb.endpoints = {0x81}; }, -7},
};

class UsbOpenRefusal : public UsbOpenFailure, public ::testing::WithParamInterface<OpenFailureCase>
{
};

TEST_P(UsbOpenRefusal, EndsCleanlyWithItsCode)
{
    PrinterOptions setup;
    GetParam().setup(setup);
    expect_failure(setup, GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(UsbOpenFailure, UsbOpenRefusal, ::testing::ValuesIn(kOpenFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UsbOpenFailure, RetryAfterAFailureOpensCleanly)
{
    PrinterOptions setup;
    setup.usb.endpoints = {0x81};
    expect_failure(setup, -7);
    const auto printer = usb_printer();
    std::string name = printer->port_name();
    const intptr_t handle = qel_api_printer_open(name.data());
    ASSERT_GT(handle, 0);
    EXPECT_EQ(printer->usb_activity().claims, 1u);
    qel_api_printer_close(handle);
}

} // namespace
