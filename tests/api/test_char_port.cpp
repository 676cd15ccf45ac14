// Character-device ports: pseudo-terminals linked as serial ("Ttys") and printer-class names.
#include "Qel_Api.h"
#include "pty_peer.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <chrono>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using test_support::PtyPeer;

namespace
{
long elapsed_ms(std::chrono::steady_clock::time_point start)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

class CharPort : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_TRUE(tmp_.ok()); }
    void TearDown() override
    {
        if (handle_ >= 0)
        {
            qel_api_printer_close(handle_);
        }
    }
    intptr_t open_name(const std::string& name)
    {
        std::string copy = name;
        handle_ = qel_api_printer_open(copy.data());
        return handle_;
    }
    // The printer's end linked at dir_ + link and the port opened on it as a character device;
    // nullptr when either failed.
    PtyPeer* open_printer(const std::string& link, bool raw)
    {
        peer_ = std::make_unique<PtyPeer>(dir_ + link, raw);
        if (!peer_->ok() || open_name(peer_->port_name()) < 0)
            return nullptr;
        EXPECT_EQ(communication, 1);
        return peer_.get();
    }

    test_support::TempDir tmp_;
    const std::string& dir_ = tmp_.path();
    intptr_t handle_ = -1;
    std::unique_ptr<PtyPeer> peer_;
};

// Serial lines: the library puts the line into raw mode itself.
TEST_F(CharPort, SerialLineIsSetTo115200RawWithFlowControl)
{
    PtyPeer* peer = open_printer("/dev/Ttys0", false);
    ASSERT_NE(peer, nullptr);

    struct termios t;
    ASSERT_EQ(tcgetattr(peer->slave_fd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 1);
}

TEST_F(CharPort, SerialLineCarriesBinaryBothWays)
{
    PtyPeer* peer = open_printer("/dev/Ttys0", false);
    ASSERT_NE(peer, nullptr);

    std::vector<unsigned char> request = {0x1B, 0xFF, 0x46, 0x00, 0x0D, 0x0A};
    EXPECT_EQ(qel_api_printer_write(handle_, request.data(), 6, 1000), 6);
    EXPECT_EQ(peer->receive(6, 1000), request);

    // Bytes a cooked line would change or swallow.
    const std::vector<unsigned char> answer = {0x1B, 0xFF, 0x47, 0x0D, 0x0A, 0x03, 0x7F, 0x00};
    peer->send(answer);
    unsigned char data[8] = {};
    ASSERT_EQ(qel_api_printer_read(handle_, data, 8, 1000), 8);
    EXPECT_EQ(std::vector<unsigned char>(data, data + 8), answer);
}

TEST_F(CharPort, ReadReturnsShortWhenThePrinterFallsSilent)
{
    PtyPeer* peer = open_printer("/dev/Ttys1", false);
    ASSERT_NE(peer, nullptr);
    peer->send({1, 2, 3});
    unsigned char data[5] = {};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(qel_api_printer_read(handle_, data, 5, 300), 3);
    EXPECT_GE(elapsed_ms(start), 300);
    EXPECT_LT(elapsed_ms(start), 3000) << "the read must not hang";
    EXPECT_EQ(data[2], 3);
    EXPECT_EQ(data[3], 0);
}

TEST_F(CharPort, ClearDiscardsStrayBytes)
{
    PtyPeer* peer = open_printer("/dev/Ttys0", false);
    ASSERT_NE(peer, nullptr);
    peer->send({0x11, 0x22, 0x33});
    usleep(50 * 1000);
    EXPECT_EQ(qel_api_printer_clear(handle_), 1);
    peer->send({0x44});
    unsigned char byte = 0;
    ASSERT_EQ(qel_api_printer_read(handle_, &byte, 1, 1000), 1);
    EXPECT_EQ(byte, 0x44);
}

TEST_F(CharPort, SerialSettingsFollowTheArguments)
{
    PtyPeer* peer = open_printer("/dev/Ttys0", false);
    ASSERT_NE(peer, nullptr);
    struct termios t;

    EXPECT_EQ(qel_api_printer_set_serial(handle_, 9600, 7, 'E', 2), 1);
    ASSERT_EQ(tcgetattr(peer->slave_fd(), &t), 0);
    // A pty forces CS8 and drops PARENB whatever is asked; the parity and
    // character size rules are checked on the settings themselves elsewhere.
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cflag & PARODD, 0u);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);

    EXPECT_EQ(qel_api_printer_set_serial(handle_, 14400, 8, 'o', 1), 1);
    ASSERT_EQ(tcgetattr(peer->slave_fd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200)) << "unknown rates run at 115200";
    EXPECT_NE(t.c_cflag & PARODD, 0u);
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
}

TEST_F(CharPort, SerialSettingsDiscardPendingInput)
{
    PtyPeer* peer = open_printer("/dev/Ttys0", false);
    ASSERT_NE(peer, nullptr);
    peer->send({9, 9, 9});
    usleep(50 * 1000);
    EXPECT_EQ(qel_api_printer_set_serial(handle_, 115200, 8, 'n', 1), 1);
    unsigned char byte = 0;
    EXPECT_EQ(qel_api_printer_read(handle_, &byte, 1, 0), 0);
}

TEST_F(CharPort, SilentSerialReadReturnsAfterATenthOfASecond)
{
    PtyPeer* peer = open_printer("/dev/Ttys0", false);
    ASSERT_NE(peer, nullptr);
    // The port's own descriptor never blocks; a blocking one on the same line
    // shows the line's time-out.
    unsigned char byte = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(read(peer->slave_fd(), &byte, 1), 0);
    EXPECT_GE(elapsed_ms(start), 50);
    EXPECT_LT(elapsed_ms(start), 2000);
}

// Printer-class nodes: opened as they are, no line settings.
TEST_F(CharPort, PrinterClassNodeIsOpenedWithoutLineSettings)
{
    PtyPeer* peer = open_printer("/dev/usb/lp0", true);
    ASSERT_NE(peer, nullptr);
    struct termios t;
    ASSERT_EQ(tcgetattr(peer->slave_fd(), &t), 0);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u) << "the library must not set a printer-class node";

    std::vector<unsigned char> request = {0x1D, 0x61, 0x01, 0x00};
    EXPECT_EQ(qel_api_printer_write(handle_, request.data(), 4, 1000), 4);
    EXPECT_EQ(peer->receive(4, 1000), request);
    peer->send({0x1B, 0xFF, 0x02, 0x0E});
    unsigned char header[4] = {};
    ASSERT_EQ(qel_api_printer_read(handle_, header, 4, 1000), 4);
    EXPECT_EQ(header[3], 0x0E);

    peer->send({5, 6, 7});
    usleep(50 * 1000);
    EXPECT_EQ(qel_api_printer_clear(handle_), 1);
    EXPECT_EQ(qel_api_printer_read(handle_, header, 1, 0), 0);
}

// Interrupts the thread that made it every few seconds until it goes, so that
// a call that blocks in read() or write() ends (EINTR) and shows as a long
// call instead of a hung test.
class Interrupter
{
  public:
    Interrupter() : target_(pthread_self())
    {
        struct sigaction wake = {};
        wake.sa_handler = [](int) {};
        sigaction(SIGUSR1, &wake, &previous_); // no SA_RESTART: the blocked call returns
        thread_ = std::thread(
            [this]
            {
                std::unique_lock<std::mutex> hold(lock_);
                while (!done_.wait_for(hold, std::chrono::seconds(3), [this] { return stop_; }))
                {
                    pthread_kill(target_, SIGUSR1);
                }
            });
    }
    ~Interrupter()
    {
        {
            std::lock_guard<std::mutex> hold(lock_);
            stop_ = true;
        }
        done_.notify_one();
        thread_.join();
        sigaction(SIGUSR1, &previous_, nullptr);
    }
    Interrupter(const Interrupter&) = delete;
    Interrupter& operator=(const Interrupter&) = delete;

  private:
    pthread_t target_;
    struct sigaction previous_ = {};
    std::mutex lock_;
    std::condition_variable done_;
    bool stop_ = false;
    std::thread thread_;
};

// A line whose reads block until a byte comes (VMIN 1, as a printer-class node
// of a silent printer behaves) and a printer that takes nothing hold no call
// past its time-out; the time-outs are those of the tools' exchanges.
TEST_F(CharPort, BlockingLineKeepsEveryCallWithinItsTimeout)
{
    PtyPeer peer(dir_ + "/dev/usb/lp0", true);
    ASSERT_TRUE(peer.ok());
    struct termios line;
    ASSERT_EQ(tcgetattr(peer.slave_fd(), &line), 0);
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    ASSERT_EQ(tcsetattr(peer.slave_fd(), TCSANOW, &line), 0);
    ASSERT_GE(open_name(peer.port_name()), 0);
    Interrupter interrupter;

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(qel_api_printer_clear(handle_), 1);
    EXPECT_LT(elapsed_ms(start), 700) << "clear waited for a silent printer";

    unsigned char header[4] = {};
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(qel_api_printer_read(handle_, header, 4, 1000), 0);
    EXPECT_GE(elapsed_ms(start), 1000);
    EXPECT_LT(elapsed_ms(start), 1700);

    peer.send({0x1B, 0xFF});
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(qel_api_printer_read(handle_, header, 4, 1000), 2) << "the bytes that came";
    EXPECT_GE(elapsed_ms(start), 1000);
    EXPECT_LT(elapsed_ms(start), 1700);
    EXPECT_EQ(header[1], 0xFF);

    // Nobody reads the other end: the line's buffers fill up.
    std::vector<unsigned char> job(1 << 20, 0x55);
    start = std::chrono::steady_clock::now();
    const int written =
        qel_api_printer_write(handle_, job.data(), static_cast<int>(job.size()), 500);
    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<int>(job.size()));
    EXPECT_GE(elapsed_ms(start), 500);
    EXPECT_LT(elapsed_ms(start), 1200);
}

TEST_F(CharPort, MissingNodeGivesMinusOne)
{
    EXPECT_EQ(open_name(dir_ + "/dev/usb/lp7"), -1);
    EXPECT_EQ(communication, 1);
    EXPECT_EQ(open_name(dir_ + "/dev/Ttys9"), -1);
}

TEST_F(CharPort, NameWithoutMarkerKeepsTheEarlierKind)
{
    PtyPeer first(dir_ + "/dev/usb/lp0", true);
    PtyPeer plain(dir_ + "/printer", true);
    ASSERT_TRUE(first.ok() && plain.ok());
    ASSERT_GE(open_name(first.port_name()), 0);
    qel_api_printer_close(handle_);
    EXPECT_EQ(communication, 1) << "the kind survives close";

    ASSERT_GE(open_name(plain.port_name()), 0);
    EXPECT_EQ(communication, 1);
    unsigned char byte = 0x5A;
    EXPECT_EQ(qel_api_printer_write(handle_, &byte, 1, 1000), 1);
    EXPECT_EQ(plain.receive(1, 1000), std::vector<unsigned char>{0x5A});
}

TEST_F(CharPort, CloseReleasesTheDescriptor)
{
    PtyPeer* peer = open_printer("/dev/usb/lp0", true);
    ASSERT_NE(peer, nullptr);
    const int fd = static_cast<int>(handle_);
    qel_api_printer_close(handle_);
    handle_ = -1;
    errno = 0;
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST_F(CharPort, EmptyTransfersDoNothing)
{
    PtyPeer* peer = open_printer("/dev/usb/lp0", true);
    ASSERT_NE(peer, nullptr);
    unsigned char byte = 1;
    EXPECT_EQ(qel_api_printer_write(handle_, &byte, 0, 100), 0);
    EXPECT_EQ(qel_api_printer_write(handle_, nullptr, 1, 100), 0);
    EXPECT_EQ(qel_api_printer_write(handle_, &byte, -4, 100), 0);
    EXPECT_EQ(qel_api_printer_read(handle_, nullptr, 1, 100), 0);
    EXPECT_EQ(qel_api_printer_write(-1, &byte, 1, 100), 0);
    EXPECT_TRUE(peer->receive(1, 100).empty());
}

} // namespace
