// The virtual printer on pseudo-terminal links, driven by a plain file-descriptor host.
#include "child_process.h"
#include "pty_peer.h"
#include "virtual_printer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using namespace qel_vp;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

namespace
{

std::string test_dir(const std::string& name)
{
    const std::string dir = ::testing::TempDir() + "vp_" + name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// Reads until n bytes came or the line stayed quiet for quiet_ms.
Bytes read_some(int fd, std::size_t n, int quiet_ms = 1000)
{
    Bytes out;
    std::uint8_t buf[512];
    while (out.size() < n)
    {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, quiet_ms) <= 0)
            break;
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got <= 0)
            break;
        out.insert(out.end(), buf, buf + got);
    }
    return out;
}

bool write_all(int fd, const Bytes& b)
{
    return ::write(fd, b.data(), b.size()) == static_cast<ssize_t>(b.size());
}

// Options of a printer of `kind` behind the link `link`.
PrinterOptions pty_options(PortKind kind, const std::string& link)
{
    PrinterOptions o;
    o.kind = kind;
    o.link_path = link;
    return o;
}

::testing::AssertionResult started(VirtualPrinter& vp)
{
    std::string err;
    if (vp.start(&err))
    {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << err;
}

} // namespace

TEST(PtyPrinter, LpLinkIsRawAnswersAndGoesAway)
{
    const std::string dir = test_dir("lp");
    PrinterOptions o = pty_options(PortKind::Lp, dir + "/dev/usb/lp0");
    VirtualPrinter vp(o);
    ASSERT_TRUE(started(vp));
    EXPECT_EQ(vp.port_name(), o.link_path);
    ASSERT_TRUE(fs::is_symlink(o.link_path));

    // The host sets no termios on such a node.
    const int fd = ::open(o.link_path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    Bytes request(10, 0);
    request.insert(request.end(), {0x1D, 0x61, 0x00, 0x40});
    ASSERT_TRUE(write_all(fd, request));
    const Bytes answer = read_some(fd, 25);
    ASSERT_EQ(answer.size(), 25u);
    EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 4), (Bytes{0x1B, 0xFF, 0x08, 0x15}));

    // Raw bytes pass unchanged: no CR/LF mapping, no echo.
    vp.queue_answer({0x0D, 0x0A, 0x03, 0x7F, 0x00, 0x11});
    EXPECT_EQ(read_some(fd, 6), (Bytes{0x0D, 0x0A, 0x03, 0x7F, 0x00, 0x11}));
    ASSERT_TRUE(vp.wait_for_bytes(14, 1000));
    EXPECT_EQ(vp.received(), request);
    vp.clear_received();
    EXPECT_TRUE(vp.received().empty());

    // An empty read returns after the VTIME tenth of a second instead of blocking.
    std::uint8_t byte;
    EXPECT_EQ(::read(fd, &byte, 1), 0);

    vp.disconnect();
    for (int i = 0; i < 200 && vp.connected(); ++i)
        ::usleep(5000);
    EXPECT_FALSE(vp.connected());
    EXPECT_LE(::read(fd, &byte, 1), 0);
    ::close(fd);
    vp.stop();
    EXPECT_FALSE(fs::exists(o.link_path) || fs::is_symlink(o.link_path));
}

TEST(PtyPrinter, TtysLinkLeavesTheLineSettingsToTheHost)
{
    const std::string dir = test_dir("ttys");
    PrinterOptions o = pty_options(PortKind::Ttys, dir + "/Ttys0");
    VirtualPrinter vp(o);
    ASSERT_TRUE(started(vp));
    const int fd = ::open(o.link_path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    // Until the host configures it the line is a cooked terminal, as a real serial line is.
    EXPECT_TRUE(t.c_lflag & ICANON);
    test_support::make_raw(fd, true);
    ASSERT_TRUE(write_all(fd, {0x1B, 0xFF, 0x46, 0x00}));
    const Bytes answer = read_some(fd, 259);
    ASSERT_EQ(answer.size(), 259u);
    const ConfigBlock block = vp.config();
    EXPECT_TRUE(std::equal(block.begin(), block.end(), answer.begin() + 4));
    ::close(fd);

    // A link path without the marker is refused.
    PrinterOptions bad = o;
    bad.link_path = dir + "/tty0";
    VirtualPrinter wrong(bad);
    std::string err;
    EXPECT_FALSE(wrong.start(&err));
    EXPECT_NE(err.find("Ttys"), std::string::npos);
}

// Each open of the line after the last close is a new job, which must begin on a command
// boundary; a stall holds what comes after its point until it is over.
TEST(PtyPrinter, JobBoundariesStallAndSerialNumber)
{
    const std::string dir = test_dir("jobs");
    PrinterOptions o = pty_options(PortKind::Lp, dir + "/dev/usb/lp0");
    o.serial = "SN-JOBS";
    o.stalls = {{4, 700}};
    VirtualPrinter vp(o);
    ASSERT_TRUE(started(vp));
    auto job = [&](const Bytes& bytes, std::size_t total)
    {
        const int fd = ::open(o.link_path.c_str(), O_RDWR | O_NOCTTY);
        EXPECT_TRUE(write_all(fd, bytes));
        EXPECT_TRUE(vp.wait_for_bytes(total, 3000)) << total;
        ::close(fd);
        // (A host that opens again at once could not be told apart from this job.)
        for (int i = 0; i < 600 && vp.host_attached(); ++i)
            ::usleep(5000);
        EXPECT_FALSE(vp.host_attached());
    };

    const int fd = ::open(o.link_path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < 600 && !vp.host_attached(); ++i)
        ::usleep(5000);
    EXPECT_TRUE(vp.host_attached());
    ASSERT_TRUE(write_all(fd, {0x1D, 0x61, 0x00, 0x02}));
    const Bytes info = read_some(fd, 121);
    ASSERT_EQ(info.size(), 121u);
    EXPECT_EQ(std::string(info.begin() + 22, info.begin() + 39),
              std::string("SN-JOBS\0\0\0\0\0\0\0\0\0\0", 17));
    // The stall began with the 4th byte: the next request waits for its end.
    ASSERT_TRUE(write_all(fd, {0x1B, 0xFF, 0x46, 0x00}));
    EXPECT_FALSE(vp.wait_for_bytes(8, 300));
    EXPECT_TRUE(vp.wait_for_bytes(8, 2000));
    EXPECT_EQ(read_some(fd, 259).size(), 259u);
    ::close(fd);
    for (int i = 0; i < 600 && vp.host_attached(); ++i)
        ::usleep(5000);
    EXPECT_TRUE(vp.boundary_errors().empty());

    // A job cut off inside a command; the next job begins there, and the one after it with
    // the tail of a command.
    job({0x1B, 0xFF, 0x46}, 11);
    job({0x00}, 12);
    job({0xF0, 0x01}, 14);
    const auto errors = vp.boundary_errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].offset, 11u);
    EXPECT_NE(errors[0].message.find("offset 8 is unfinished"), std::string::npos);
    EXPECT_EQ(errors[1].offset, 12u);
}

TEST(PtyPrinter, FaultsAndPagesOverTheLine)
{
    const std::string dir = test_dir("faults");
    PrinterOptions o = pty_options(PortKind::Lp, dir + "/dev/usb/lp1");
    o.out_dir = dir + "/pages";
    o.faults = {Fault(FaultKind::Silent, Exchange::Inquiry, 1),
                Fault(FaultKind::StrayBytes, Exchange::Inquiry, 2),
                Fault(FaultKind::Late, Exchange::Inquiry, 3, 200),
                Fault(FaultKind::Disconnect, Exchange::UploadBlock, 1)};
    VirtualPrinter vp(o);
    ASSERT_TRUE(started(vp));
    const int fd = ::open(o.link_path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);

    ASSERT_TRUE(write_all(fd, {0x1D, 0x61, 0x00, 0x01}));
    EXPECT_TRUE(read_some(fd, 1, 300).empty());
    ASSERT_TRUE(write_all(fd, {0x1D, 0x61, 0x00, 0x01}));
    const Bytes second = read_some(fd, 21);
    ASSERT_EQ(second.size(), 21u);
    EXPECT_EQ(Bytes(second.begin(), second.begin() + 4), (Bytes{0x11, 0x22, 0x33, 0x1B}));
    ASSERT_TRUE(write_all(fd, {0x1D, 0x61, 0x00, 0x01}));
    EXPECT_EQ(read_some(fd, 18).size(), 18u); // late, but within the host's patience

    // A page: written out as files as soon as its page end arrives.
    ASSERT_TRUE(write_all(fd, {0x1B, 0xF0, 0x0D, 0x02, 0x00, 0x02, 0x1B, 0xF0, 0x03, 0x02, 0xC8,
                               0xF0, 0x0C, 0x1B, 0xF0, 0x06, 0x01, 0x02}));
    for (int i = 0; i < 200 && vp.pages().empty(); ++i)
        ::usleep(5000);
    ASSERT_EQ(vp.pages().size(), 1u);
    EXPECT_EQ(vp.pages()[0].settings.path, 2);
    EXPECT_TRUE(fs::exists(o.out_dir + "/page-001.png"));
    EXPECT_TRUE(fs::exists(o.out_dir + "/page-001.txt"));

    // The printer vanishes at the first upload block; the host's next write fails.
    ASSERT_TRUE(write_all(fd, {0x1B, 0xFF, 0x20, 0x08, 0, 0, 1, 0, 4, 0, 0, 0}));
    EXPECT_EQ(read_some(fd, 5).size(), 5u);
    ASSERT_TRUE(write_all(fd, {0x1B, 0xFF, 0x22, 0x02, 0xAA, 0xBB}));
    for (int i = 0; i < 200 && vp.connected(); ++i)
        ::usleep(5000);
    EXPECT_FALSE(vp.connected());
    const Bytes more = {0x1B, 0xFF, 0x22, 0x02, 0xCC, 0xDD};
    EXPECT_EQ(::write(fd, more.data(), more.size()), -1);
    ::close(fd);
    const auto frames = vp.transcript();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().kind, FrameKind::UploadBlock);
    EXPECT_TRUE(vp.uploads()[0].data.empty());
}

// The program on a "Ttys" link: READY line, pages into a folder, transcript, clean exit.
TEST(PtyPrinter, ProgramRunsUntilSigterm)
{
    const char* program = QEL_VPRINTER_PROGRAM;
    const std::string dir = test_dir("program");
    const std::string link = dir + "/Ttys7";
    const std::string transcript = dir + "/transcript.txt";
    const std::string out = dir + "/out";
    test_support::EmulatorProcess printer;
    ASSERT_TRUE(test_support::start_emulator(
        program,
        {"--tty", link, "--out", out, "--transcript", transcript, "--fault", "wrong-type:inquiry"},
        printer))
        << printer.error;
    EXPECT_EQ(printer.port, link);

    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    test_support::make_raw(fd, true);
    ASSERT_TRUE(write_all(fd, {0x1D, 0x61, 0x00, 0x01}));
    const Bytes answer = read_some(fd, 18);
    ASSERT_EQ(answer.size(), 18u);
    EXPECT_EQ(answer[2], 3); // the selected fault
    ASSERT_TRUE(write_all(fd, {0x1B, 0xF0, 0x02, 0x01, 0x81, 0x1B, 0xF0, 0x06, 0x01, 0x00}));
    for (int i = 0; i < 200 && !fs::exists(out + "/page-001.pbm"); ++i)
        ::usleep(5000);
    ::close(fd);
    EXPECT_EQ(test_support::stop_emulator(printer), 0);
    EXPECT_FALSE(fs::is_symlink(link));

    std::ifstream pbm(out + "/page-001.pbm", std::ios::binary);
    const std::string image((std::istreambuf_iterator<char>(pbm)), {});
    ASSERT_EQ(image.size(), std::string("P4\n576 1\n").size() + 72);
    EXPECT_EQ(static_cast<unsigned char>(image[9]), 0x81);
    std::ifstream tr(transcript);
    const std::string text((std::istreambuf_iterator<char>(tr)), {});
    EXPECT_NE(text.find("0 inquiry 4 1D 61 00 01\n"), std::string::npos) << text;
    EXPECT_NE(text.find("4 page-command 5 1B F0 02 01 81\n"), std::string::npos) << text;
}

// A whole receipt as a CUPS backend would write it: many reads on the master, frames cut
// anywhere, the decoded page equal to its source.
TEST(PtyPrinter, LongPageArrivesIntact)
{
    const std::string dir = test_dir("long");
    PrinterOptions o = pty_options(PortKind::Lp, dir + "/dev/usb/lp2");
    VirtualPrinter vp(o);
    ASSERT_TRUE(started(vp));
    Bytes stream = {0x1B, 0xF0, 0x01, 0x01, 0x04, 0x1B, 0xF0, 0x0D, 0x02, 0x00, 0x01};
    Bytes image;
    for (unsigned y = 0; y < 1600; ++y)
    {
        Bytes line(72);
        for (unsigned x = 0; x < 72; ++x)
            line[x] = static_cast<std::uint8_t>((x * 37 + y * 11) ^ (y >> 3));
        image.insert(image.end(), line.begin(), line.end());
        stream.insert(stream.end(), {0x1B, 0xF0, 0x02, 72});
        stream.insert(stream.end(), line.begin(), line.end());
    }
    stream.insert(stream.end(), {0x0C, 0x1B, 0xF0, 0x06, 0x01, 0x02});
    const int fd = ::open(o.link_path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    std::size_t done = 0;
    while (done < stream.size())
    {
        const ssize_t n =
            ::write(fd, stream.data() + done, std::min<std::size_t>(1000, stream.size() - done));
        ASSERT_GT(n, 0);
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    ASSERT_TRUE(vp.wait_for_bytes(stream.size(), 5000));
    for (int i = 0; i < 200 && vp.pages().empty(); ++i)
        ::usleep(5000);
    const auto pages = vp.pages();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].bitmap(), image);
    EXPECT_EQ(pages[0].settings.speed, 4);
    EXPECT_TRUE(vp.errors().empty());
}
