// Port objects (port.h): several printers in one process, tty lines at a chosen rate, and one
// writer per printer across port objects, the C interface and other processes.
#include "Qel_Api.h"
#include "port.h"
#include "pty_peer.h"
#include "temp_dir.h"
#include "usb_printer.h"
#include "virtual_printer.h"

#include <gtest/gtest.h>

#include <array>
#include <latch>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using test_support::PtyPeer;
using TestDir = test_support::TempDir;
using qel::Port;
using qel::PortSetup;

namespace
{
// The inquiry the inquiry tool sends for one kind: 1D 61 and the kind's bit mask, high byte
// first. Bit 0 asks for the status record, answered by 1B FF 02 0E and 14 bytes.
std::array<unsigned char, 4> inquiry_request(unsigned bit)
{
    const unsigned mask = 1u << bit;
    return {0x1D, 0x61, static_cast<unsigned char>(mask >> 8), static_cast<unsigned char>(mask)};
}

// One status exchange as the tools run it: the record, or empty when any step failed.
std::vector<unsigned char> inquire_status(Port& port)
{
    if (port.clear() != 1)
    {
        return {};
    }
    const auto request = inquiry_request(0);
    if (port.write(request.data(), 4, 500) != 4)
    {
        return {};
    }
    std::vector<unsigned char> header(4);
    if (port.read(header.data(), 4, 1000) != 4 ||
        header != std::vector<unsigned char>{0x1B, 0xFF, 0x02, 0x0E})
    {
        return {};
    }
    std::vector<unsigned char> record(14);
    if (port.read(record.data(), 14, 1000) != 14)
    {
        return {};
    }
    return record;
}

// Two printers on pseudo-terminals and one on emulated USB, each asked for its status twenty
// times by a thread of its own, all at once. Each printer's record differs in its last byte,
// so an answer that reached the wrong port shows.
TEST(ThreePrinters, StatusInquiriesOnThreePortsAtOnce)
{
    TestDir dir;
    ASSERT_FALSE(dir.path().empty());
    std::array<qel_vp::PrinterOptions, 3> options;
    options[0].kind = qel_vp::PortKind::Ttys;
    options[0].link_path = dir.path() + "/dev/Ttys0";
    options[1].kind = qel_vp::PortKind::Lp;
    options[1].link_path = dir.path() + "/dev/usb/lp0";
    options[2].kind = qel_vp::PortKind::Usb;
    std::vector<std::unique_ptr<qel_vp::VirtualPrinter>> printers;
    std::array<std::vector<unsigned char>, 3> records;
    for (std::size_t i = 0; i < options.size(); ++i)
    {
        options[i].data.records[0].back() = static_cast<unsigned char>(0xA0 + i);
        records[i] = options[i].data.records[0];
        printers.push_back(std::make_unique<qel_vp::VirtualPrinter>(options[i]));
        std::string error;
        ASSERT_TRUE(printers.back()->start(&error)) << error;
    }
    const std::array<PortSetup, 3> setups = {
        PortSetup::serial(printers[0]->port_name(), 115200),
        PortSetup::char_device(printers[1]->port_name()),
        PortSetup::usb(options[2].bus, options[2].address),
    };

    constexpr int kRounds = 20;
    std::array<int, 3> answered{};
    std::array<int, 3> open_error{};
    std::latch start(3);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < setups.size(); ++i)
    {
        threads.emplace_back(
            [&, i]
            {
                std::unique_ptr<Port> port = Port::open(setups[i], &open_error[i]);
                start.arrive_and_wait();
                for (int round = 0; port && round < kRounds; ++round)
                {
                    answered[i] += inquire_status(*port) == records[i] ? 1 : 0;
                }
            });
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    for (std::size_t i = 0; i < setups.size(); ++i)
    {
        EXPECT_EQ(open_error[i], 0) << "printer " << i;
        EXPECT_EQ(answered[i], kRounds) << "printer " << i;
        std::size_t inquiries = 0;
        for (const qel_vp::Frame& frame : printers[i]->transcript())
        {
            inquiries += frame.kind == qel_vp::FrameKind::Inquiry ? 1 : 0;
        }
        EXPECT_EQ(inquiries, static_cast<std::size_t>(kRounds)) << "printer " << i;
    }
    // The port objects keep their state to themselves.
    EXPECT_EQ(communication, 0);
    EXPECT_EQ(m_pub_rx_buffer, nullptr);
    for (auto& printer : printers)
    {
        printer->stop();
    }
}

// A scratch directory with a printer-class node in it (raw, as the kernel's usblp makes it).
class PortObject : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_TRUE(lp_.ok()); }

    TestDir dir_;
    PtyPeer lp_{dir_.path() + "/dev/usb/lp0", true};
};

// Any tty device is a serial line at the rate asked for, whatever its name.
TEST_F(PortObject, SerialLineOnAnyTtyAtTheChosenRate)
{
    PtyPeer peer(dir_.path() + "/dev/ttyUSB0", false);
    ASSERT_TRUE(peer.ok());
    int error = 1;
    EXPECT_EQ(Port::open(PortSetup::serial(peer.port_name(), 14400), &error), nullptr);
    EXPECT_EQ(error, -2) << "a rate the line cannot run";

    std::unique_ptr<Port> port = Port::open(PortSetup::serial(peer.port_name(), 9600), &error);
    ASSERT_NE(port, nullptr) << error;
    struct termios t;
    ASSERT_EQ(tcgetattr(peer.slave_fd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);

    const std::vector<unsigned char> answer = {0x1B, 0xFF, 0x47, 0x0D, 0x0A, 0x03, 0x7F, 0x00};
    peer.send(answer);
    std::vector<unsigned char> data(8);
    ASSERT_EQ(port->read(data.data(), 8, 1000), 8);
    EXPECT_EQ(data, answer) << "a cooked line would have changed the bytes";

    EXPECT_TRUE(port->set_serial(230400));
    ASSERT_EQ(tcgetattr(peer.slave_fd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B230400));
    EXPECT_FALSE(port->set_serial(14400));
    ASSERT_EQ(tcgetattr(peer.slave_fd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B230400)) << "a refused rate changes nothing";

    port->close();
    EXPECT_FALSE(port->is_open());
    EXPECT_EQ(port->write(answer.data(), 8, 100), 0);
    EXPECT_EQ(port->clear(), 0);
}

// While a port object holds a printer, neither another port object nor the C interface can
// open it; once it closes, the next opener gets it.
TEST_F(PortObject, OneWriterPerPortInOneProcess)
{
    std::string name = lp_.port_name();
    std::unique_ptr<Port> first = Port::open(PortSetup::char_device(name));
    ASSERT_NE(first, nullptr);
    int error = 0;
    EXPECT_EQ(Port::open(PortSetup::char_device(name), &error), nullptr);
    EXPECT_EQ(error, -1);
    EXPECT_EQ(qel_api_printer_open(name.data()), -1);

    first->close();
    const intptr_t handle = qel_api_printer_open(name.data());
    ASSERT_GE(handle, 0);
    EXPECT_EQ(Port::open(PortSetup::serial(name, 9600), &error), nullptr)
        << "the C interface's port holds the printer too";
    EXPECT_EQ(error, -1);
    qel_api_printer_close(handle);
    EXPECT_NE(Port::open(PortSetup::char_device(name)), nullptr);
}

// Runs `child` in a forked process and returns its exit status (-1 when it did not exit).
template <typename F> int run_child(F child)
{
    const pid_t pid = fork();
    if (pid == 0)
    {
        _exit(child());
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
    {
        return -1;
    }
    return WEXITSTATUS(status);
}

// Another program (an inquiry run during a print job) cannot open a printer that is in use,
// and this one cannot open a printer that another program holds.
TEST_F(PortObject, LockedPortCannotBeOpenedByAnotherProcess)
{
    std::string name = lp_.port_name();

    std::unique_ptr<Port> job = Port::open(PortSetup::char_device(name));
    ASSERT_NE(job, nullptr);
    // Exit status 0: the open failed with -1 as the C interface reports it.
    EXPECT_EQ(run_child([&] { return qel_api_printer_open(name.data()) == -1 ? 0 : 1; }), 0);
    job.reset();
    EXPECT_EQ(run_child([&] { return qel_api_printer_open(name.data()) >= 0 ? 0 : 1; }), 0)
        << "the printer is free once the job has closed it";

    // A child holds the printer until told to go.
    int ready[2];
    int go[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(go), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0)
    {
        const intptr_t handle = qel_api_printer_open(name.data());
        const char opened = handle >= 0 ? 'y' : 'n';
        (void)!write(ready[1], &opened, 1);
        char word = 0;
        (void)!read(go[0], &word, 1);
        qel_api_printer_close(handle);
        _exit(0);
    }
    char opened = 0;
    ASSERT_EQ(read(ready[0], &opened, 1), 1);
    EXPECT_EQ(opened, 'y');
    int error = 0;
    EXPECT_EQ(Port::open(PortSetup::char_device(name), &error), nullptr);
    EXPECT_EQ(error, -1);
    EXPECT_EQ(qel_api_printer_open(name.data()), -1);
    ASSERT_EQ(write(go[1], "g", 1), 1);
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    for (int fd : {ready[0], ready[1], go[0], go[1]})
    {
        close(fd);
    }
    EXPECT_NE(Port::open(PortSetup::char_device(name)), nullptr);
}

// Raw USB is exclusive through the interface claim: a second opener of the same device fails
// while the first holds the claim, and the first port goes on working with its own context.
TEST(UsbClaim, SecondOpenFailsWhileTheInterfaceIsClaimed)
{
    const auto device = test_support::usb_printer();
    qel_vp::VirtualPrinter& printer = *device;
    int error = 0;
    std::unique_ptr<Port> first = Port::open(PortSetup::usb(1, 5), &error);
    ASSERT_NE(first, nullptr) << error;
    EXPECT_EQ(Port::open(PortSetup::usb(1, 5), &error), nullptr);
    EXPECT_EQ(error, -4);
    std::string name = printer.port_name();
    EXPECT_EQ(qel_api_printer_open(name.data()), -4) << "the C interface's port is refused too";
    EXPECT_EQ(printer.usb_activity().claims, 1u);

    const auto request = inquiry_request(0);
    EXPECT_EQ(first->write(request.data(), 4, 1000), 4);
    EXPECT_EQ(printer.received(), std::vector<std::uint8_t>(request.begin(), request.end()));
    printer.queue_answer({1, 2, 3, 4, 5, 6, 7, 8});
    std::vector<unsigned char> data(4);
    ASSERT_EQ(first->read(data.data(), 4, 1000), 4);
    ASSERT_EQ(first->read(data.data(), 4, 0), 4) << "the rest of the packet, from the ring";
    EXPECT_EQ(data, (std::vector<unsigned char>{5, 6, 7, 8}));

    first.reset();
    EXPECT_NE(Port::open(PortSetup::usb(1, 5), &error), nullptr) << error;
    EXPECT_EQ(printer.usb_activity().claims, 2u);
}

} // namespace
