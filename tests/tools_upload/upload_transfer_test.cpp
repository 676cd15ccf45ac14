// Data-exchange upload against a recording port: frames, both transfer modes,
// both ways of reading a response, and every failure.
#include "upload_file_maker.h"
#include "upload_frames.h"
#include "upload_transfer.h"

#include "failing_answers.h"
#include "failure_texts.h"
#include "fake_port.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

using Bytes = std::vector<uint8_t>;
constexpr intptr_t kPrinter = 3;

const Bytes kStartOk = {0x1B, 0xFF, 0x21, 0x01, 0x00};
const Bytes kEndOk = {0x1B, 0xFF, 0x25, 0x01, 0x00};

// CRC-16/IBM-SDLC computed bit by bit.
uint16_t crc16(const Bytes& d)
{
    uint16_t r = 0xFFFF;
    for (uint8_t b : d)
    {
        r ^= b;
        for (int k = 0; k < 8; ++k)
            r = (r & 1) ? (r >> 1) ^ 0x8408 : r >> 1;
    }
    return static_cast<uint16_t>(r ^ 0xFFFF);
}

// The bytes the printer must receive for an upload of data with this mask.
Bytes expected_wire(const Bytes& data, uint16_t mask)
{
    const uint32_t n = static_cast<uint32_t>(data.size());
    Bytes w = {0x1B,
               0xFF,
               0x20,
               0x08,
               0x00,
               0x00,
               static_cast<uint8_t>(mask),
               static_cast<uint8_t>(mask >> 8),
               static_cast<uint8_t>(n),
               static_cast<uint8_t>(n >> 8),
               static_cast<uint8_t>(n >> 16),
               static_cast<uint8_t>(n >> 24)};
    for (std::size_t at = 0; at < data.size(); at += 255)
    {
        const std::size_t len = std::min<std::size_t>(255, data.size() - at);
        w.insert(w.end(), {0x1B, 0xFF, 0x22, static_cast<uint8_t>(len)});
        w.insert(w.end(), data.begin() + at, data.begin() + at + len);
    }
    const uint16_t crc = crc16(data);
    w.insert(w.end(),
             {0x1B, 0xFF, 0x24, 0x02, static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8)});
    return w;
}

const char* upload(Bytes& data, int mode, bool usb, int silent = 1, uint16_t mask = 0x0041)
{
    auto* routine = usb ? lo_upload_data_new : lo_upload_data;
    return routine(kPrinter, mask, data.data(), static_cast<unsigned>(data.size()), mode, silent);
}

// Standard output of a call, read back from a temporary file.
template <typename F> std::string stdout_of(F call)
{
    std::fflush(stdout);
    char path[] = "/tmp/qel_upload_dots_XXXXXX";
    const int fd = mkstemp(path);
    const int saved = dup(1);
    dup2(fd, 1);
    call();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string text;
    char buf[256];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<std::size_t>(n));
    close(fd);
    unlink(path);
    return text;
}

class UploadTransfer : public ::testing::Test
{
  protected:
    void SetUp() override { fake_port::reset(); }
    void answer_both()
    {
        fake_port::queue_answer(kStartOk);
        fake_port::queue_answer(kEndOk);
    }
};

} // namespace

TEST(UploadFrames, BlockSizesAndProgressRule)
{
    auto blocks = [](uint32_t size)
    {
        std::vector<unsigned> out;
        for (uint32_t sent = 0; sent < size;)
        {
            const unsigned n = upload_next_block_size(size, sent);
            out.push_back(n);
            sent += n;
        }
        return out;
    };
    EXPECT_TRUE(blocks(0).empty());
    EXPECT_EQ(blocks(1), std::vector<unsigned>{1});
    EXPECT_EQ(blocks(254), std::vector<unsigned>{254});
    EXPECT_EQ(blocks(255), std::vector<unsigned>{255});
    EXPECT_EQ(blocks(256), (std::vector<unsigned>{255, 1}));
    EXPECT_EQ(blocks(510), (std::vector<unsigned>{255, 255}));
    EXPECT_EQ(blocks(511), (std::vector<unsigned>{255, 255, 1}));

    EXPECT_FALSE(upload_progress_due(0, 0, 0));
    EXPECT_FALSE(upload_progress_due(16, 0, 256)); // exactly a sixteenth is not more
    EXPECT_TRUE(upload_progress_due(17, 0, 256));
    EXPECT_TRUE(upload_progress_due(255, 0, 255));
}

TEST_F(UploadTransfer, BothModesPutTheSameBytesOnTheWire)
{
    for (std::size_t n : {0u, 1u, 255u, 256u, 510u, 5120u, 12345u})
    {
        Bytes data = upload_maker::pattern(n, static_cast<uint32_t>(n));
        const Bytes expected = expected_wire(data, 0x0041);
        for (int mode : {UPLOAD_MODE_PACED, UPLOAD_MODE_BUFFERED})
        {
            fake_port::reset();
            answer_both();
            EXPECT_EQ(upload(data, mode, false), nullptr) << n << " mode " << mode;
            EXPECT_EQ(fake_port::wire(), expected) << n << " mode " << mode;
        }
    }
}

TEST_F(UploadTransfer, PacedModeWritesEveryHeaderAndBlockOnItsOwn)
{
    Bytes data = upload_maker::pattern(300);
    answer_both();
    ASSERT_EQ(upload(data, UPLOAD_MODE_PACED, false), nullptr);
    const auto w = fake_port::writes();
    // start header, start payload, 2 x (block header, block), end header, CRC.
    std::vector<int> sizes;
    for (const auto& c : w)
    {
        sizes.push_back(c.size);
        EXPECT_EQ(c.timeout_ms, 5000u);
    }
    EXPECT_EQ(sizes, (std::vector<int>{4, 8, 4, 255, 4, 45, 4, 2}));
}

TEST_F(UploadTransfer, BufferedModeWritesCollectedFramesOncePastTheThreshold)
{
    Bytes data = upload_maker::pattern(12345);
    answer_both();
    ASSERT_EQ(upload(data, UPLOAD_MODE_BUFFERED, false), nullptr);
    const auto w = fake_port::writes();
    ASSERT_GE(w.size(), 6u);
    // Frames of 259 bytes: the collection passes 5120 bytes with the 20th frame.
    EXPECT_EQ(w[2].size, 20 * 259);
    EXPECT_EQ(w[3].size, 20 * 259);
    const std::size_t frames = (12345 + 254) / 255;
    const int last = static_cast<int>((frames - 40) * 4 + (12345 - 40 * 255));
    EXPECT_EQ(w[4].size, last);
    for (std::size_t i = 2; i <= 4; ++i)
        EXPECT_EQ(w[i].timeout_ms, 10000u);
    EXPECT_EQ(w.size(), 7u); // start 4 + 8, three data writes, end 4 + 2
    EXPECT_EQ(w[5].size, 4);
    EXPECT_EQ(w[6].size, 2);

    // Data that ends right at a flush leaves no empty write behind.
    fake_port::reset();
    answer_both();
    Bytes exact = upload_maker::pattern(20 * 255);
    ASSERT_EQ(upload(exact, UPLOAD_MODE_BUFFERED, false), nullptr);
    EXPECT_EQ(fake_port::writes().size(), 5u);
}

TEST_F(UploadTransfer, ResponsesAreReadAsHeaderAndStatusOrInOneRead)
{
    Bytes data = upload_maker::pattern(10);
    answer_both();
    ASSERT_EQ(upload(data, UPLOAD_MODE_PACED, false), nullptr);
    auto r = fake_port::reads();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].size, 4);
    EXPECT_EQ(r[0].timeout_ms, 5000u);
    EXPECT_EQ(r[1].size, 1);
    EXPECT_EQ(r[1].timeout_ms, 5000u);
    EXPECT_EQ(r[2].size, 4);
    EXPECT_EQ(r[2].timeout_ms, 60000u);
    EXPECT_EQ(r[3].size, 1);
    EXPECT_EQ(r[3].timeout_ms, 5000u);

    fake_port::reset();
    fake_port::set_all_or_nothing(true);
    answer_both();
    ASSERT_EQ(upload(data, UPLOAD_MODE_PACED, true), nullptr);
    r = fake_port::reads();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].size, 5);
    EXPECT_EQ(r[0].timeout_ms, 5000u);
    EXPECT_EQ(r[1].size, 5);
    EXPECT_EQ(r[1].timeout_ms, 60000u);
}

TEST_F(UploadTransfer, ResponseFailures)
{
    // Nothing is sent after the failure.
    const std::vector<fake_port::FailingAnswer> cases = {
        {{0x1B, 0xFF, 0x21, 0x01, 0x01}, failure_text::upload_cancelled, 2},
        {{0x1B, 0xFF, 0x22, 0x01, 0x00}, failure_text::upload_start_none, 2},
        {{0x1B, 0xFF, 0x21, 0x02, 0x00}, failure_text::upload_start_none, 2},
        {{0x00, 0xFF, 0x21, 0x01, 0x00}, failure_text::upload_start_none, 2},
        {{0x1B, 0xFF, 0x21, 0x01}, failure_text::upload_start_none, 2},
        {{}, failure_text::upload_start_none, 2},
        {{0x1B, 0xFF, 0x21, 0x01, 0x00, 0x1B, 0xFF, 0x25, 0x01, 0x01},
         failure_text::upload_cancelled,
         8},
        {{0x1B, 0xFF, 0x21, 0x01, 0x00, 0x1B, 0xFF, 0x25, 0x00, 0x00},
         failure_text::upload_end_none,
         8},
        {{0x1B, 0xFF, 0x21, 0x01, 0x00, 0x1B, 0xFF, 0x25, 0x01}, failure_text::upload_end_none, 8},
    };
    for (bool usb : {false, true})
    {
        fake_port::expect_failing_answers(
            cases,
            [&]
            {
                Bytes data = upload_maker::pattern(300);
                return upload(data, UPLOAD_MODE_PACED, usb);
            },
            usb);
    }
}

TEST_F(UploadTransfer, WriteFailuresStopTheUpload)
{
    struct Case
    {
        int mode;
        unsigned nth; // failing write
        const char* message;
    } cases[] = {
        {UPLOAD_MODE_PACED, 1, failure_text::upload_start_not_sent},
        {UPLOAD_MODE_PACED, 2, failure_text::upload_start_not_sent},
        {UPLOAD_MODE_PACED, 3, failure_text::upload_block_not_sent},
        {UPLOAD_MODE_PACED, 6, failure_text::upload_block_not_sent},
        {UPLOAD_MODE_PACED, 7, failure_text::upload_end_not_sent},
        {UPLOAD_MODE_PACED, 8, failure_text::upload_end_not_sent},
        {UPLOAD_MODE_BUFFERED, 3, failure_text::upload_block_not_sent},
        {UPLOAD_MODE_BUFFERED, 4, failure_text::upload_end_not_sent},
    };
    for (const Case& k : cases)
    {
        fake_port::reset();
        answer_both();
        fake_port::fail_write(k.nth, 1);
        Bytes data = upload_maker::pattern(300);
        EXPECT_STREQ(upload(data, k.mode, false), k.message) << k.nth;
        EXPECT_EQ(fake_port::writes().size(), k.nth) << k.message;
        // A failure after the start does not go on to read the end response.
        EXPECT_LE(fake_port::reads().size(), 2u);
    }
}

TEST_F(UploadTransfer, ProgressDotsUnlessSilent)
{
    Bytes large = upload_maker::pattern(1 << 20); // one dot per 258 blocks
    answer_both();
    std::string out =
        stdout_of([&] { EXPECT_EQ(upload(large, UPLOAD_MODE_BUFFERED, false, 0), nullptr); });
    EXPECT_EQ(out, std::string(15, '.'));

    fake_port::reset();
    answer_both();
    out = stdout_of([&] { EXPECT_EQ(upload(large, UPLOAD_MODE_BUFFERED, false, 1), nullptr); });
    EXPECT_EQ(out, "");

    fake_port::reset();
    answer_both();
    Bytes small = upload_maker::pattern(255);
    out = stdout_of([&] { EXPECT_EQ(upload(small, UPLOAD_MODE_PACED, false, 0), nullptr); });
    EXPECT_EQ(out, "");
}
