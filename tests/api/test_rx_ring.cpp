// The receive ring of a USB port, driven directly.
#include "Qel_Api.h"
#include "api_internal.h"

#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <vector>

namespace
{
class RxRing : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        storage_.fill(0xEE);
        m_pub_rx_buffer = storage_.data();
        m_index_rx_bottom = 0;
        m_index_rx_top = 0;
    }
    void TearDown() override
    {
        m_pub_rx_buffer = nullptr;
        m_index_rx_bottom = 0;
        m_index_rx_top = 0;
    }
    static std::vector<unsigned char> sequence(int n, unsigned char first = 0)
    {
        std::vector<unsigned char> v(static_cast<size_t>(n));
        std::iota(v.begin(), v.end(), first);
        return v;
    }
    // Puts bottom and top at `at` (an empty ring starting there).
    static void start_at(int at)
    {
        m_index_rx_bottom = at;
        m_index_rx_top = at;
    }

    std::array<unsigned char, 1024> storage_{};
};

TEST_F(RxRing, OneByteAlwaysStaysFree)
{
    auto data = sequence(1000);
    ASSERT_EQ(buffer_set_rx_data(data.data(), 1000), 1);
    EXPECT_EQ(buffer_get_rx_count(), 1000);
    EXPECT_EQ(buffer_get_rx_free(), 24);

    EXPECT_EQ(buffer_set_rx_data(data.data(), 24), 0) << "would fill the ring completely";
    EXPECT_EQ(m_index_rx_top, 1000) << "a refused store leaves the ring unchanged";
    EXPECT_EQ(buffer_set_rx_data(data.data(), 23), 1);
    EXPECT_EQ(buffer_get_rx_count(), 1023);
    EXPECT_EQ(buffer_get_rx_free(), 1);
    EXPECT_EQ(buffer_set_rx_data(data.data(), 1), 0);
    EXPECT_EQ(buffer_set_rx_data(data.data(), 0), 1) << "storing nothing is accepted";
}

TEST_F(RxRing, StoreAndTakeWrapAroundTheEnd)
{
    start_at(1020);
    auto data = sequence(10, 0x50);
    ASSERT_EQ(buffer_set_rx_data(data.data(), 10), 1);
    EXPECT_EQ(m_index_rx_top, 6);
    EXPECT_EQ(buffer_get_rx_count(), 10);
    EXPECT_EQ(storage_[1023], 0x53);
    EXPECT_EQ(storage_[0], 0x54);
    EXPECT_EQ(storage_[6], 0xEE) << "nothing written past the new top";

    std::vector<unsigned char> out(10);
    EXPECT_EQ(buffer_get_rx_data(out.data(), 10), 10);
    EXPECT_EQ(out, data);
    EXPECT_EQ(m_index_rx_bottom, 6);
    EXPECT_EQ(buffer_get_rx_count(), 0);
}

TEST_F(RxRing, TakeStopsAtWhatIsHeldAndKeepsTheRest)
{
    start_at(1000);
    auto data = sequence(40);
    ASSERT_EQ(buffer_set_rx_data(data.data(), 40), 1);
    std::vector<unsigned char> out(30, 0);
    EXPECT_EQ(buffer_get_rx_data(out.data(), 30), 30);
    EXPECT_EQ(out, sequence(30));
    EXPECT_EQ(buffer_get_rx_count(), 10);

    std::vector<unsigned char> rest(64, 0);
    EXPECT_EQ(buffer_get_rx_data(rest.data(), 64), 10);
    EXPECT_EQ(std::vector<unsigned char>(rest.begin(), rest.begin() + 10), sequence(10, 30));
    EXPECT_EQ(rest[10], 0) << "nothing copied beyond what was held";
    EXPECT_EQ(buffer_get_rx_data(rest.data(), 1), 0);
}

TEST_F(RxRing, CountsAcrossTheEnd)
{
    m_index_rx_bottom = 1000;
    m_index_rx_top = 10;
    EXPECT_EQ(buffer_get_rx_count(), 34);
    EXPECT_EQ(buffer_get_rx_free(), 990);
    m_index_rx_bottom = 10;
    m_index_rx_top = 9;
    EXPECT_EQ(buffer_get_rx_count(), 1023);
}

TEST_F(RxRing, ManyPacketsKeepTheirOrder)
{
    // Packets of 64 in, reads of 50 out, many times around the ring.
    unsigned char next_in = 0;
    unsigned char next_out = 0;
    for (int round = 0; round < 200; ++round)
    {
        auto packet = sequence(64, next_in);
        ASSERT_EQ(buffer_set_rx_data(packet.data(), 64), 1);
        next_in = static_cast<unsigned char>(next_in + 64);
        if (buffer_get_rx_count() >= 50)
        {
            std::vector<unsigned char> out(50);
            ASSERT_EQ(buffer_get_rx_data(out.data(), 50), 50);
            ASSERT_EQ(out, sequence(50, next_out)) << "round " << round;
            next_out = static_cast<unsigned char>(next_out + 50);
        }
        if (buffer_get_rx_free() <= 64)
        {
            std::vector<unsigned char> out(500);
            ASSERT_EQ(buffer_get_rx_data(out.data(), 500), 500);
            ASSERT_EQ(out, sequence(500, next_out));
            next_out = static_cast<unsigned char>(next_out + 500);
        }
    }
}

TEST_F(RxRing, BadArgumentsAndStateAreHarmless)
{
    unsigned char byte = 1;
    EXPECT_EQ(buffer_set_rx_data(&byte, -1), 0);
    EXPECT_EQ(buffer_set_rx_data(nullptr, 5), 0);
    EXPECT_EQ(buffer_get_rx_data(nullptr, 5), 0);
    EXPECT_EQ(buffer_get_rx_data(&byte, -3), 0);
    EXPECT_EQ(buffer_get_rx_count(), 0);

    // Indices set from outside to nonsense: the ring counts as empty.
    m_index_rx_bottom = 5000;
    m_index_rx_top = -7;
    EXPECT_EQ(buffer_get_rx_count(), 0);
    EXPECT_EQ(buffer_set_rx_data(&byte, 1), 1);
    EXPECT_EQ(m_index_rx_top, 1);

    // No ring at all (no USB port open).
    m_pub_rx_buffer = nullptr;
    EXPECT_EQ(buffer_get_rx_count(), 0);
    EXPECT_EQ(buffer_set_rx_data(&byte, 1), 0);
    EXPECT_EQ(buffer_get_rx_data(&byte, 1), 0);
}

TEST_F(RxRing, ClearEmptiesAndZeroes)
{
    auto data = sequence(100, 1);
    ASSERT_EQ(buffer_set_rx_data(data.data(), 100), 1);
    buffer_clear_rx();
    EXPECT_EQ(buffer_get_rx_count(), 0);
    EXPECT_EQ(m_index_rx_bottom, 0);
    EXPECT_EQ(m_index_rx_top, 0);
    for (unsigned char b : storage_)
    {
        ASSERT_EQ(b, 0);
    }
}

} // namespace
