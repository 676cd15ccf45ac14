// The library against the virtual printer: the printer's own protocol on every kind of port.
#include "Qel_Api.h"
#include "virtual_printer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{
using qel_vp::PortKind;

// Inquiry of the status record (bit 0): answered by 1B FF 02 0E and 14 bytes.
const std::vector<unsigned char> kInquiry = {0x1D, 0x61, 0x00, 0x01};
const std::vector<unsigned char> kStatusHeader = {0x1B, 0xFF, 0x02, 0x0E};

std::string test_dir()
{
    const char* base = std::getenv("TMPDIR");
    std::string dir = std::string(base != nullptr ? base : "/tmp") + "/api-vp-XXXXXX";
    return mkdtemp(dir.data()) != nullptr ? dir : std::string();
}

class VprinterPort : public ::testing::TestWithParam<PortKind>
{
  protected:
    void SetUp() override
    {
        dir_ = test_dir();
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override
    {
        if (handle_ >= 0)
        {
            qel_api_printer_close(handle_);
        }
        if (printer_)
        {
            printer_->stop();
        }
        printer_.reset();
        std::string cmd = "rm -rf '" + dir_ + "'";
        (void)std::system(cmd.c_str());
    }

    // Starts the printer on the port kind of the test and opens its port.
    void start(qel_vp::PrinterOptions options = {})
    {
        options.kind = GetParam();
        if (options.kind == PortKind::Ttys)
        {
            options.link_path = dir_ + "/dev/Ttys0";
        }
        else if (options.kind == PortKind::Lp)
        {
            options.link_path = dir_ + "/dev/usb/lp0";
        }
        printer_ = std::make_unique<qel_vp::VirtualPrinter>(options);
        std::string error;
        ASSERT_TRUE(printer_->start(&error)) << error;
        std::string name = printer_->port_name();
        handle_ = qel_api_printer_open(name.data());
        ASSERT_GE(handle_, 0) << name;
        EXPECT_EQ(communication, options.kind == PortKind::Usb ? 2 : 1);
    }

    // One inquiry exchange as the tools run it; the status record's data, or empty.
    std::vector<unsigned char> inquire_status()
    {
        std::vector<unsigned char> request = kInquiry;
        if (qel_api_printer_write(handle_, request.data(), 4, 1000) != 4)
        {
            return {};
        }
        std::vector<unsigned char> header(4);
        if (qel_api_printer_read(handle_, header.data(), 4, 1000) != 4 || header != kStatusHeader)
        {
            return {};
        }
        std::vector<unsigned char> data(14);
        if (qel_api_printer_read(handle_, data.data(), 14, 1000) != 14)
        {
            return {};
        }
        return data;
    }

    std::string dir_;
    std::unique_ptr<qel_vp::VirtualPrinter> printer_;
    intptr_t handle_ = -1;
};

TEST_P(VprinterPort, InquiryExchange)
{
    start();
    const std::vector<unsigned char> data = inquire_status();
    ASSERT_EQ(data.size(), 14u);
    const auto expected = qel_vp::default_printer_data().records[0];
    EXPECT_EQ(std::vector<unsigned char>(expected.begin(), expected.end()), data);
    ASSERT_TRUE(printer_->wait_for_frames(1, 1000));
    const auto frames = printer_->transcript();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().kind, qel_vp::FrameKind::Inquiry);
}

TEST_P(VprinterPort, ClearDropsStrayBytesBeforeAnExchange)
{
    start();
    printer_->queue_answer({0x11, 0x22, 0x33});
    if (GetParam() == PortKind::Usb)
    {
        // The stray packet reaches the ring through a read that stays incomplete.
        unsigned char buffer[8];
        ASSERT_EQ(qel_api_printer_read(handle_, buffer, 8, 300), 0);
    }
    else
    {
        ASSERT_TRUE(printer_->wait_idle(1000));
        usleep(100 * 1000);
    }
    EXPECT_EQ(qel_api_printer_clear(handle_), 1);
    EXPECT_EQ(inquire_status().size(), 14u);
}

TEST_P(VprinterPort, SilentPrinterGivesAShortRead)
{
    qel_vp::PrinterOptions options;
    options.faults.push_back({qel_vp::FaultKind::Silent, qel_vp::Exchange::Inquiry, 1, 0, 0});
    start(options);
    std::vector<unsigned char> request = kInquiry;
    ASSERT_EQ(qel_api_printer_write(handle_, request.data(), 4, 1000), 4);
    unsigned char header[4] = {};
    EXPECT_EQ(qel_api_printer_read(handle_, header, 4, 300), 0);
    // The next exchange is answered again.
    EXPECT_EQ(inquire_status().size(), 14u);
}

TEST_P(VprinterPort, AnswerInOneBytePiecesIsReassembled)
{
    qel_vp::PrinterOptions options;
    options.faults.push_back({qel_vp::FaultKind::Split, qel_vp::Exchange::Inquiry, 1, 0, 1});
    start(options);
    EXPECT_EQ(inquire_status().size(), 14u);
}

INSTANTIATE_TEST_SUITE_P(Pty, VprinterPort, ::testing::Values(PortKind::Ttys, PortKind::Lp),
                         [](const auto& info)
                         { return info.param == PortKind::Ttys ? "Ttys" : "Lp"; });
INSTANTIATE_TEST_SUITE_P(Usb, VprinterPort, ::testing::Values(PortKind::Usb),
                         [](const auto&) { return std::string("Usb"); });

TEST(VprinterUsb, UnsupportedProductIsRefused)
{
    qel_vp::PrinterOptions options;
    options.kind = PortKind::Usb;
    options.product = 0x0017;
    qel_vp::VirtualPrinter printer(options);
    std::string error;
    ASSERT_TRUE(printer.start(&error)) << error;
    std::string name = printer.port_name();
    EXPECT_EQ(qel_api_printer_open(name.data()), -2);
    EXPECT_EQ(m_pub_rx_buffer, nullptr);
    printer.stop();
}

} // namespace
