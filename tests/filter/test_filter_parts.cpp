// Tests of the filter's building blocks: monitor packages, page image sizes,
// the FIFO checks, the debug log file and the output stream.
#include "debug_log.h"
#include "filter_harness.h"
#include "monitor_client.h"
#include "monitor_package.h"
#include "output_stream.h"
#include "page_encoder.h"
#include "page_image.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The tests link the filter's code without its main(); the log stays off.
const int f_log_file = 0;

using namespace qel_filter_test;

TEST(MonitorPackage, HeaderIsLittleEndianOn24Bytes)
{
    unsigned char bytes[QEL_PACKAGE_HEADER_BYTES];
    pack_package_header(make_package_header(EV_QEL_TB_DRIVER_IO_MSG_REQUEST_PAGE_DATA, 7200),
                        bytes);
    const Bytes expected = {0x01, 0x01, 0x01, 0x01, 0,    0,    0, 0, 24, 0, 0, 0,
                            7,    0,    0,    0,    0x20, 0x1C, 0, 0, 0,  0, 0, 0};
    EXPECT_EQ(Bytes(bytes, bytes + 24), expected);
    const TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER back = unpack_package_header(bytes);
    EXPECT_EQ(back.synchronization, 0x01010101u);
    EXPECT_EQ(back.header_size, 24);
    EXPECT_EQ(back.id, 7);
    EXPECT_EQ(back.data_size, 7200u);
}

TEST(MonitorPackage, AnswersWithoutSyncOrShortCountAsNone)
{
    unsigned char bytes[24];
    pack_package_header(make_package_header(EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_STOP_PRINTING, 0),
                        bytes);
    EXPECT_EQ(answer_from_bytes(bytes, 24).id, EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_STOP_PRINTING);
    EXPECT_EQ(answer_from_bytes(bytes, 23).id, EV_QEL_TB_DRIVER_IO_MSG_NONE);
    EXPECT_EQ(answer_from_bytes(bytes, 23).synchronization, 0x01010101u);
    bytes[4] = 0x01; // the upper half of the word must be zero too
    const TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER wrong = answer_from_bytes(bytes, 24);
    EXPECT_EQ(wrong.id, EV_QEL_TB_DRIVER_IO_MSG_NONE);
    EXPECT_EQ(wrong.synchronization, 0x0000000101010101u);
}

TEST(MonitorPackage, SettingsCopyTheHeaderFields)
{
    cups_page_header2_t header = raster_header(72, 100);
    header.cupsCompression = 55;
    header.cupsRowFeed = 3;
    header.MediaPosition = 2;
    set_header_value(header.AdvanceMedia, 1);
    set_header_value(header.CutMedia, 4);
    header.AdvanceDistance = 12;
    set_header_value(header.Duplex, 1);
    header.NumCopies = 3;
    unsigned char bytes[QEL_PAGE_SETTINGS_BYTES];
    pack_page_settings(page_settings_from_header(header), bytes);
    const uint32_t expected[] = {55, 3, 2, 72, 100, 1, 4, 12, 1, 3};
    for (size_t i = 0; i < 10; ++i)
    {
        const uint32_t field = bytes[4 * i] | bytes[4 * i + 1] << 8 | bytes[4 * i + 2] << 16 |
                               static_cast<uint32_t>(bytes[4 * i + 3]) << 24;
        EXPECT_EQ(field, expected[i]) << "field " << i;
    }
    // No address of the filter's memory goes to the monitor.
    EXPECT_EQ(Bytes(bytes + 40, bytes + 44), (Bytes{0, 0, 0, 0}));
}

TEST(PageImage, SizesThatCannotBeHeldAreRefused)
{
    size_t bytes = 0;
    cups_page_header2_t header = raster_header(72, 1599);
    EXPECT_EQ(page_image_size(header, &bytes), EV_QEL_PAGE_SIZE_OK);
    EXPECT_EQ(bytes, 72u * 1599u);

    header.cupsBytesPerLine = 0;
    EXPECT_EQ(page_image_size(header, &bytes), EV_QEL_PAGE_SIZE_EMPTY);
    header = raster_header(72, 0);
    EXPECT_EQ(page_image_size(header, &bytes), EV_QEL_PAGE_SIZE_EMPTY);

    // 2^16 x 2^16 wraps to 0 in 32 bits; 0xFFFFFFFF x 2 to 0xFFFFFFFE.
    header = raster_header(1, 1);
    header.cupsBytesPerLine = 65536;
    header.cupsHeight = 65536;
    EXPECT_EQ(page_image_size(header, &bytes), EV_QEL_PAGE_SIZE_TOO_LARGE);
    header.cupsBytesPerLine = 0xFFFFFFFFu;
    header.cupsHeight = 2;
    EXPECT_EQ(page_image_size(header, &bytes), EV_QEL_PAGE_SIZE_TOO_LARGE);

    header.cupsBytesPerLine = 1024;
    header.cupsHeight = 1024 * 1024; // exactly the limit
    EXPECT_EQ(page_image_size(header, &bytes), EV_QEL_PAGE_SIZE_OK);
    header.cupsHeight += 1;
    EXPECT_EQ(page_image_size(header, &bytes), EV_QEL_PAGE_SIZE_TOO_LARGE);
}

class FifoCheck : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_TRUE(tmp_.ok()); }
    test_support::TempDir tmp_;
    const std::string dir_ = tmp_.path();
};

TEST_F(FifoCheck, OnlyARealFifoIsOpened)
{
    const std::string fifo = dir_ + "/fifo", file = dir_ + "/file", link = dir_ + "/link";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);

    const int writer = monitor_open_fifo(fifo.c_str(), EV_QEL_TB_DRIVER_IO_PIPE_ACCESS_WRITE);
    EXPECT_GE(writer, 0);
    close(writer);
    const int answer = monitor_open_fifo(fifo.c_str(), EV_QEL_TB_DRIVER_IO_PIPE_ACCESS_READ);
    EXPECT_GE(answer, 0);
    close(answer);

    // A plain file or a link to the good FIFO is refused for either end, and
    // the file is left as it was.
    write_file(file, "START");
    ASSERT_EQ(symlink(fifo.c_str(), link.c_str()), 0);
    for (const auto& path : {file, link})
    {
        EXPECT_EQ(monitor_open_fifo(path.c_str(), EV_QEL_TB_DRIVER_IO_PIPE_ACCESS_WRITE), -1)
            << path;
        EXPECT_EQ(monitor_open_fifo(path.c_str(), EV_QEL_TB_DRIVER_IO_PIPE_ACCESS_READ), -1)
            << path;
    }
    EXPECT_EQ(read_file(file), "START");
    close(reader);
}

TEST_F(FifoCheck, LinkToAPlainFileIsRefused)
{
    const std::string file = dir_ + "/file", link = dir_ + "/link";
    write_file(file, "");
    ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
    EXPECT_EQ(monitor_open_fifo(link.c_str(), EV_QEL_TB_DRIVER_IO_PIPE_ACCESS_WRITE), -1);
    EXPECT_EQ(read_file(file), "");
}

TEST_F(FifoCheck, DebugLogIsCreatedWithoutFollowingLinks)
{
    const std::string file = dir_ + "/file", link = dir_ + "/link";
    const std::string fresh = dir_ + "/fifo"; // just a fresh name here

    ASSERT_TRUE(debug_log_create(fresh.c_str()));
    struct stat st;
    ASSERT_EQ(lstat(fresh.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    // A second job in the same second reuses its own file.
    chmod(fresh.c_str(), 0666);
    EXPECT_TRUE(debug_log_create(fresh.c_str()));
    ASSERT_EQ(lstat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // A link planted at the log's name, to an existing file or to nowhere,
    // is not followed: the target keeps its mode and is not created.
    write_file(file, "secret");
    chmod(file.c_str(), 0600);
    ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
    EXPECT_FALSE(debug_log_create(link.c_str()));
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(read_file(file), "secret");

    const std::string dangling = dir_ + "/dangling";
    const std::string target = dir_ + "/created-through-link";
    ASSERT_EQ(symlink(target.c_str(), dangling.c_str()), 0);
    EXPECT_FALSE(debug_log_create(dangling.c_str()));
    EXPECT_NE(access(target.c_str(), F_OK), 0);
}

TEST(OutputStream, WritesInOrderAndReportsFailures)
{
    const test_support::TempDir dir;
    const std::string path = dir.file("out");
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    output_open(fd);
    Bytes expected;
    for (int i = 0; i < 3000; ++i)
    {
        const Bytes piece(static_cast<size_t>(i % 50) * 13, static_cast<unsigned char>(i));
        ASSERT_TRUE(output_write(piece.data(), piece.size()));
        expected.insert(expected.end(), piece.begin(), piece.end());
    }
    const Bytes big(40000, 0x5A); // larger than the buffer
    ASSERT_TRUE(output_write(big.data(), big.size()));
    expected.insert(expected.end(), big.begin(), big.end());
    ASSERT_TRUE(output_flush());
    close(fd);
    EXPECT_EQ(read_bytes(path), expected);
    EXPECT_EQ(output_error(), 0);

    // A reader that went away: the write fails with EPIPE and stays failed.
    signal(SIGPIPE, SIG_IGN);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    output_open(ends[1]);
    const Bytes some(100, 1);
    EXPECT_TRUE(output_write(some.data(), some.size())); // still buffered
    EXPECT_FALSE(output_flush());
    EXPECT_EQ(output_error(), EPIPE);
    EXPECT_FALSE(output_write(some.data(), some.size()));
    close(ends[1]);

    const int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    output_open(full);
    EXPECT_FALSE(output_write(big.data(), big.size()));
    EXPECT_EQ(output_error(), ENOSPC);
    close(full);
}
