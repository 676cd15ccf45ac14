// Configuration download, upload and hard reset against a recording port.
#include "config_exchange.h"
#include "failing_answers.h"
#include "failure_texts.h"
#include "fake_port.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace
{

using Bytes = std::vector<uint8_t>;
constexpr intptr_t kPrinter = 7;

Bytes block_bytes()
{
    Bytes b(255);
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<uint8_t>(255 - i);
    return b;
}

Bytes cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class ConfigExchange : public ::testing::Test
{
  protected:
    void SetUp() override { fake_port::reset(); }
    std::array<unsigned char, 255> block{};
};

} // namespace

TEST_F(ConfigExchange, DownloadAsksOnceAndFillsTheBlock)
{
    fake_port::queue_answer(cat({0x1B, 0xFF, 0x47, 0xFF}, block_bytes()));
    EXPECT_EQ(lo_download_configuration_data(kPrinter, block.data(), 255), nullptr);
    EXPECT_EQ(Bytes(block.begin(), block.end()), block_bytes());

    const auto& c = fake_port::calls();
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0].op, 'c'); // the port is cleared before the request
    EXPECT_EQ(c[1].op, 'w');
    EXPECT_EQ(c[1].bytes, (Bytes{0x1B, 0xFF, 0x46, 0x00}));
    EXPECT_EQ(c[1].timeout_ms, 500u);
    EXPECT_EQ(c[2].op, 'r');
    EXPECT_EQ(c[2].size, 4);
    EXPECT_EQ(c[2].timeout_ms, 500u);
    EXPECT_EQ(c[3].size, 255);
    EXPECT_EQ(c[3].timeout_ms, 3000u);
}

TEST_F(ConfigExchange, DownloadFailures)
{
    // Nothing is sent after the request.
    fake_port::expect_failing_answers(
        {
            {{0x1B, 0xFF, 0x47, 0xFE}, failure_text::download_size, 1},
            {{0x1B, 0xFF, 0x48, 0xFF}, failure_text::download_type, 1},
            {{0x00, 0xFF, 0x47, 0xFF}, failure_text::download_size, 1},
            {{0x1B, 0xFE, 0x47, 0xFF}, failure_text::download_size, 1},
            {{0x1B, 0xFF, 0x47}, failure_text::config_no_header, 1},
            {{}, failure_text::config_no_header, 1},
            {cat({0x1B, 0xFF, 0x47, 0xFF}, Bytes(254, 0x11)), failure_text::download_no_data, 1},
        },
        [&] { return lo_download_configuration_data(kPrinter, block.data(), 255); });

    fake_port::expect_failing_write(
        1, 3, failure_text::download_not_sent,
        [&] { return lo_download_configuration_data(kPrinter, block.data(), 255); });
}

TEST_F(ConfigExchange, UploadSendsHeaderThenBlock)
{
    const Bytes b = block_bytes();
    std::memcpy(block.data(), b.data(), b.size());
    fake_port::queue_answer({0x1B, 0xFF, 0x27, 0x00});
    EXPECT_EQ(lo_upload_configuration_data(kPrinter, block.data(), 255), nullptr);

    const auto w = fake_port::writes();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0].bytes, (Bytes{0x1B, 0xFF, 0x26, 0xFF}));
    EXPECT_EQ(w[1].bytes, b);
    EXPECT_EQ(w[0].timeout_ms, 500u);
    EXPECT_EQ(w[1].timeout_ms, 500u);
    const auto r = fake_port::reads();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].size, 4);
    EXPECT_EQ(r[0].timeout_ms, 5000u); // the printer stores the block before it answers
    EXPECT_EQ(fake_port::calls()[0].op, 'c');
}

TEST_F(ConfigExchange, UploadFailures)
{
    fake_port::expect_failing_answers(
        {
            {{0x1B, 0xFF, 0x27, 0x01}, failure_text::config_upload_size},
            {{0x1B, 0xFF, 0x28, 0x00}, failure_text::config_upload_type},
            {{0x1B, 0x00, 0x27, 0x00}, failure_text::config_upload_size},
            {{0x1B, 0xFF}, failure_text::config_no_header},
        },
        [&] { return lo_upload_configuration_data(kPrinter, block.data(), 255); });

    const auto upload = [&] { return lo_upload_configuration_data(kPrinter, block.data(), 255); };
    fake_port::expect_failing_write(1, 2, failure_text::config_upload_header_not_sent, upload);
    EXPECT_EQ(fake_port::writes().size(), 1u); // the block does not follow a broken header
    fake_port::expect_failing_write(2, 254, failure_text::config_upload_block_not_sent, upload);
}

TEST_F(ConfigExchange, ResetSendsOnlyTheCommand)
{
    fake_port::queue_answer({0x55}); // whatever the printer sends, nothing is read
    EXPECT_EQ(lo_reset_printer(kPrinter), nullptr);
    const auto& c = fake_port::calls();
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].op, 'c');
    EXPECT_EQ(c[1].bytes, (Bytes{0x1B, 0xF2, 0x03, 0x00}));
    EXPECT_EQ(c[1].timeout_ms, 500u);

    fake_port::expect_failing_write(1, 3, failure_text::reset_not_sent,
                                    [&] { return lo_reset_printer(kPrinter); });
}
