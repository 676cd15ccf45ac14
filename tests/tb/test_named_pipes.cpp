// Named pipes for real: FIFOs in a scratch directory, peers on other threads.
#include "Qel_Tb.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace
{
constexpr auto kRead = EV_QEL_TB_DRIVER_IO_PIPE_ACCESS_READ;
constexpr auto kWrite = EV_QEL_TB_DRIVER_IO_PIPE_ACCESS_WRITE;

class NamedPipe : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        path = dir.file("pipe.fifo");
        ASSERT_EQ(qel_tb_initialize_named_pipe(path.c_str()), 0);
    }
    // Opens the reading end, then the writing end, as the print monitor and
    // the filter do.
    void open_both()
    {
        reader = qel_tb_open_named_pipe(path.c_str(), kRead);
        ASSERT_GE(reader, 0);
        writer = qel_tb_open_named_pipe(path.c_str(), kWrite);
        ASSERT_GE(writer, 0);
    }
    test_support::TempDir dir;
    std::string path;
    int reader = -1;
    int writer = -1;
};

mode_t ModeOf(const std::string& p)
{
    struct stat st;
    if (stat(p.c_str(), &st) != 0)
        return 0;
    return st.st_mode;
}
} // namespace

TEST_F(NamedPipe, CreatedForItsOwnerAndTheFilterGroupOnlyWhateverTheUmask)
{
    EXPECT_EQ(ModeOf(path) & 07777, 0660u);
    // A root daemon hands its FIFOs to CUPS's filter group.
    const struct group* lp = getgrnam("lp");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    if (geteuid() == 0 && lp != nullptr)
        EXPECT_EQ(st.st_gid, lp->gr_gid);
    else
        EXPECT_EQ(st.st_gid, getegid());
    const mode_t old = umask(0277);
    const std::string other = dir.file("other.fifo");
    EXPECT_EQ(qel_tb_initialize_named_pipe(other.c_str()), 0);
    umask(old);
    EXPECT_TRUE(S_ISFIFO(ModeOf(other)));
    EXPECT_EQ(ModeOf(other) & 07777, 0660u);

    // An existing FIFO of the caller counts as success and is closed to
    // everybody else again.
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    EXPECT_EQ(qel_tb_initialize_named_pipe(path.c_str()), 0);
    EXPECT_EQ(ModeOf(path) & 07777, 0660u);

    EXPECT_EQ(qel_tb_initialize_named_pipe(dir.file("missing/x.fifo").c_str()), -1);
}

TEST_F(NamedPipe, WhatElseIsAtThePathIsLeftAlone)
{
    // A link is never followed: neither a file nor a FIFO behind it gets a
    // new mode, and the link stays.  A file, or a FIFO of another user, is
    // not taken over either.
    const std::string file = dir.file("secret"), link_to_file = dir.file("link1.fifo");
    const std::string link_to_fifo = dir.file("link2.fifo"), foreign = dir.file("foreign.fifo");
    {
        std::FILE* f = std::fopen(file.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(symlink(file.c_str(), link_to_file.c_str()), 0);
    ASSERT_EQ(symlink(path.c_str(), link_to_fifo.c_str()), 0);
    ASSERT_EQ(mkfifo(foreign.c_str(), 0644), 0);
    ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
    for (const std::string& at : {link_to_file, link_to_fifo, file, foreign})
    {
        EXPECT_EQ(qel_tb_initialize_named_pipe(at.c_str()), -1) << at;
    }
    EXPECT_EQ(ModeOf(file) & 07777, 0600u);
    EXPECT_TRUE(S_ISREG(ModeOf(file)));
    EXPECT_EQ(ModeOf(path) & 07777, 0640u);
    EXPECT_EQ(ModeOf(foreign) & 07777, 0644u);
    struct stat st;
    ASSERT_EQ(lstat(link_to_file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(NamedPipe, RemoveReportsTheResult)
{
    EXPECT_EQ(qel_tb_remove_named_pipe_file(path.c_str()), 0);
    EXPECT_EQ(ModeOf(path), 0u);
    EXPECT_EQ(qel_tb_remove_named_pipe_file(path.c_str()), -1);
}

TEST_F(NamedPipe, ReadEndOpensWithoutAWriter)
{
    const int fd = qel_tb_open_named_pipe(path.c_str(), kRead);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fcntl(fd, F_GETFL) & (O_ACCMODE | O_NONBLOCK), O_RDONLY | O_NONBLOCK);
    qel_tb_close_named_pipe(fd);
}

TEST_F(NamedPipe, WriteEndWithoutReaderGivesUpAfterThreeSeconds)
{
    struct timespec start;
    qel_tb_set_time_stamp(&start);
    EXPECT_EQ(qel_tb_open_named_pipe(path.c_str(), kWrite), -1);
    EXPECT_GE(qel_tb_calc_age_in_ms(&start), 3000UL);
}

TEST_F(NamedPipe, WriteEndWaitsForALateReader)
{
    int reader = -1;
    std::thread peer(
        [&]
        {
            usleep(300 * 1000);
            reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
        });
    const int fd = qel_tb_open_named_pipe(path.c_str(), kWrite);
    peer.join();
    ASSERT_GE(reader, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fcntl(fd, F_GETFL) & (O_ACCMODE | O_NONBLOCK), O_WRONLY | O_NONBLOCK);
    qel_tb_close_named_pipe(fd);
    close(reader);
}

TEST_F(NamedPipe, UnopenableEndsGiveMinusOne)
{
    EXPECT_EQ(qel_tb_open_named_pipe(path.c_str(), static_cast<ET_QEL_TB_DRIVER_IO_PIPE_ACCESS>(7)),
              -1);
    EXPECT_EQ(qel_tb_open_named_pipe(dir.file("absent.fifo").c_str(), kRead), -1);
}

TEST_F(NamedPipe, WriteIsBufferedWhileTheReaderDoesNotRead)
{
    ASSERT_NO_FATAL_FAILURE(open_both());

    TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER header = {QEL_TB_DRIVER_IO_SYNCHRONIZATION, 24,
                                                 EV_QEL_TB_DRIVER_IO_MSG_REQUEST_IS_PRINTING, 0};
    EXPECT_EQ(qel_tb_write_named_pipe(writer, reinterpret_cast<unsigned char*>(&header), 24, 2000),
              24UL);
    qel_tb_close_named_pipe(writer);

    // The bytes on the wire are the little-endian layout.
    unsigned char wire[24] = {};
    EXPECT_EQ(qel_tb_read_named_pipe(reader, wire, 24, 1000), 24UL);
    const unsigned char expected[24] = {0x01, 0x01, 0x01, 0x01, 0, 0, 0, 0, 24, 0, 0, 0,
                                        4,    0,    0,    0,    0, 0, 0, 0, 0,  0, 0, 0};
    EXPECT_EQ(std::memcmp(wire, expected, 24), 0);
    qel_tb_close_named_pipe(reader);
}

TEST_F(NamedPipe, ShortReadReturnsWhatArrivedInTime)
{
    const int reader = qel_tb_open_named_pipe(path.c_str(), kRead);
    ASSERT_GE(reader, 0);
    const int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    unsigned char twenty[20];
    for (int i = 0; i < 20; ++i)
        twenty[i] = static_cast<unsigned char>(0xA0 + i);
    ASSERT_EQ(write(writer, twenty, 20), 20);

    unsigned char buf[44] = {};
    EXPECT_EQ(qel_tb_read_named_pipe(reader, buf, 44, 200), 20UL);
    EXPECT_EQ(std::memcmp(buf, twenty, 20), 0);
    EXPECT_EQ(buf[20], 0);
    close(writer);
    qel_tb_close_named_pipe(reader);
}

TEST_F(NamedPipe, ReadCollectsPiecesFromAPeer)
{
    const int reader = qel_tb_open_named_pipe(path.c_str(), kRead);
    ASSERT_GE(reader, 0);
    std::thread peer(
        [&]
        {
            const int w = qel_tb_open_named_pipe(path.c_str(), kWrite);
            if (w < 0)
                return;
            for (unsigned char piece = 0; piece < 4; ++piece)
            {
                unsigned char bytes[11];
                std::memset(bytes, 0x10 + piece, sizeof bytes);
                qel_tb_write_named_pipe(w, bytes, sizeof bytes, 1000);
                usleep(30 * 1000);
            }
            qel_tb_close_named_pipe(w);
        });
    unsigned char buf[44] = {};
    const unsigned long got = qel_tb_read_named_pipe(reader, buf, 44, 5000);
    peer.join();
    ASSERT_EQ(got, 44UL);
    for (int i = 0; i < 44; ++i)
        ASSERT_EQ(buf[i], 0x10 + i / 11) << i;
    qel_tb_close_named_pipe(reader);
}

TEST_F(NamedPipe, ZeroTimeOutMakesOneTry)
{
    const int reader = qel_tb_open_named_pipe(path.c_str(), kRead);
    ASSERT_GE(reader, 0);
    unsigned char buf[8] = {};
    EXPECT_EQ(qel_tb_read_named_pipe(reader, buf, 8, 0), 0UL);

    const int writer = qel_tb_open_named_pipe(path.c_str(), kWrite);
    ASSERT_GE(writer, 0);
    const unsigned char five[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(qel_tb_write_named_pipe(writer, five, 5, 0), 5UL);
    // One try takes what is there and does not wait for the rest.
    EXPECT_EQ(qel_tb_read_named_pipe(reader, buf, 8, 0), 5UL);
    EXPECT_EQ(std::memcmp(buf, five, 5), 0);
    qel_tb_close_named_pipe(writer);
    qel_tb_close_named_pipe(reader);
}

TEST_F(NamedPipe, DegenerateArgumentsMoveNothing)
{
    ASSERT_NO_FATAL_FAILURE(open_both());
    const unsigned char three[3] = {9, 8, 7};
    ASSERT_EQ(write(writer, three, 3), 3);

    unsigned char buf[3] = {};
    EXPECT_EQ(qel_tb_read_named_pipe(reader, buf, 0, 1000), 0UL);
    EXPECT_EQ(qel_tb_read_named_pipe(reader, nullptr, 3, 1000), 0UL);
    EXPECT_EQ(qel_tb_read_named_pipe(-1, buf, 3, 1000), 0UL);
    EXPECT_EQ(qel_tb_write_named_pipe(writer, three, 0, 1000), 0UL);
    EXPECT_EQ(qel_tb_write_named_pipe(writer, nullptr, 3, 1000), 0UL);
    EXPECT_EQ(qel_tb_write_named_pipe(-1, three, 3, 1000), 0UL);
    // None of the calls above touched the pipe: the three bytes are still there.
    EXPECT_EQ(read(reader, buf, 3), 3);
    EXPECT_EQ(std::memcmp(buf, three, 3), 0);

    qel_tb_close_named_pipe(-1);
    qel_tb_close_named_pipe(writer);
    qel_tb_close_named_pipe(reader);
}

TEST_F(NamedPipe, FullPipeStopsTheWriteAtTheTimeOut)
{
    ASSERT_NO_FATAL_FAILURE(open_both());
    const int capacity = fcntl(writer, F_GETPIPE_SZ);
    ASSERT_GT(capacity, 0);
    std::vector<unsigned char> big(static_cast<size_t>(capacity) + 1000, 0x5A);
    EXPECT_EQ(qel_tb_write_named_pipe(writer, big.data(), big.size(), 100),
              static_cast<unsigned long>(capacity));
    qel_tb_close_named_pipe(writer);
    qel_tb_close_named_pipe(reader);
}

TEST_F(NamedPipe, WriteAfterTheReaderLeftDoesNotKillTheWriter)
{
    // The default action of SIGPIPE ends the process; the write must survive.
    struct sigaction dfl = {}, old = {};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, &old);

    ASSERT_NO_FATAL_FAILURE(open_both());
    qel_tb_close_named_pipe(reader);

    const unsigned char bytes[24] = {};
    EXPECT_EQ(qel_tb_write_named_pipe(writer, bytes, 24, 50), 0UL);
    qel_tb_close_named_pipe(writer);

    // No SIGPIPE stays pending or blocked behind the caller's back.
    sigset_t pending, mask;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    EXPECT_EQ(sigismember(&mask, SIGPIPE), 0);
    sigaction(SIGPIPE, &old, nullptr);
}

TEST(NamedPipeProtocol, PackageLayoutsAreFixed)
{
    TS_QEL_TB_PAGE_PROCCESS_PAGE_SETTINGS s = {};
    s.page_width_in_bytes = 72;
    s.page_hight_in_bits = 100;
    s.raster_header = -2;
    unsigned char wire[44];
    std::memcpy(wire, &s, 44);
    EXPECT_EQ(wire[12], 72);
    EXPECT_EQ(wire[16], 100);
    EXPECT_EQ(wire[40], 0xFE);
    EXPECT_EQ(wire[43], 0xFF);
}
