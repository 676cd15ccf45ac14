// CRC-32/ISO-HDLC and CRC-16/IBM-SDLC against published check values and an
// independent bit-serial computation.
#include "Qel_Tb.h"
#include "checksums.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace
{
// Textbook CRC, most significant bit first with explicit reflection, written
// independently of the library's table and shift directions.
uint32_t RefReflect(uint32_t v, int bits)
{
    uint32_t r = 0;
    for (int i = 0; i < bits; ++i)
        if (v & (1u << i))
            r |= 1u << (bits - 1 - i);
    return r;
}

uint32_t RefCrc(const unsigned char* p, size_t n, int width, uint32_t poly, uint32_t init,
                uint32_t xorout)
{
    const uint32_t top = 1u << (width - 1);
    const uint32_t mask = width == 32 ? 0xFFFFFFFFu : (1u << width) - 1;
    uint32_t reg = init;
    for (size_t i = 0; i < n; ++i)
    {
        reg ^= RefReflect(p[i], 8) << (width - 8);
        for (int b = 0; b < 8; ++b)
            reg = (reg & top) ? ((reg << 1) ^ poly) & mask : (reg << 1) & mask;
    }
    return RefReflect(reg, width) ^ xorout;
}

uint32_t RefCrc32(const std::vector<unsigned char>& v)
{
    return RefCrc(v.data(), v.size(), 32, 0x04C11DB7u, 0xFFFFFFFFu, 0xFFFFFFFFu);
}

uint16_t RefCrc16(const std::vector<unsigned char>& v)
{
    return static_cast<uint16_t>(RefCrc(v.data(), v.size(), 16, 0x1021u, 0xFFFFu, 0xFFFFu));
}

const unsigned char kCheck[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
const unsigned char kAbc[] = {'a', 'b', 'c'};
} // namespace

TEST(Crc32, PublishedCheckValues)
{
    EXPECT_EQ(qel_tb_calc_crc32(kCheck, 9), 0xCBF43926u);
    EXPECT_EQ(qel_tb_calc_crc32(kAbc, 3), 0x352441C2u);
    EXPECT_EQ(qel_tb_calc_crc32(kCheck, 0), 0x00000000u);
    // Repeated calls give the same result (the table is not rebuilt or changed).
    EXPECT_EQ(qel_tb_calc_crc32(kCheck, 9), 0xCBF43926u);
}

TEST(Crc32, NullPointerGivesInitialValue)
{
    EXPECT_EQ(qel_tb_calc_crc32(nullptr, 0), 0xFFFFFFFFu);
    EXPECT_EQ(qel_tb_calc_crc32(nullptr, 100), 0xFFFFFFFFu);
}

TEST(Crc32, TableEqualsBitwiseConstruction)
{
    for (uint32_t i = 0; i < 256; ++i)
    {
        // Entry i is the register after feeding byte i into a zero register.
        uint32_t r = i;
        for (int b = 0; b < 8; ++b)
            r = (r & 1u) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
        ASSERT_EQ(dwCrc32Table[i], r) << "entry " << i;
    }
    EXPECT_EQ(dwCrc32Table[1], 0x77073096u);
    EXPECT_EQ(dwCrc32Table[255], 0x2D02EF8Du);
}

TEST(Crc32, ReflectKeepsOnlyTheLowBits)
{
    EXPECT_EQ(Lo_Crc32Reflect(0x01u, 8), 0x80u);
    EXPECT_EQ(Lo_Crc32Reflect(0x1F0u, 8), 0x0Fu); // bit 8 is dropped
    EXPECT_EQ(Lo_Crc32Reflect(0x04C11DB7u, 32), 0xEDB88320u);
    EXPECT_EQ(Lo_Crc32Reflect(0xFFu, 4), 0x0Fu);
}

TEST(Crc16, PublishedCheckValues)
{
    EXPECT_EQ(qel_tb_calc_crc16(kCheck, 9), 0x906E);
    EXPECT_EQ(qel_tb_calc_crc16(kAbc, 3), 0x9E25);
    EXPECT_EQ(qel_tb_calc_crc16(kCheck, 0), 0x0000);
    EXPECT_EQ(qel_tb_calc_crc16(nullptr, 0), 0xFFFF);
    EXPECT_EQ(qel_tb_calc_crc16(nullptr, 9), 0xFFFF);
}

TEST(CrcRandom, MatchesIndependentComputation)
{
    std::mt19937 rng(20261208);
    for (int round = 0; round < 200; ++round)
    {
        std::vector<unsigned char> buf(rng() % 700);
        for (auto& b : buf)
            b = static_cast<unsigned char>(rng());
        ASSERT_EQ(qel_tb_calc_crc32(buf.data(), static_cast<uint32_t>(buf.size())), RefCrc32(buf))
            << "length " << buf.size();
        ASSERT_EQ(qel_tb_calc_crc16(buf.data(), static_cast<uint32_t>(buf.size())), RefCrc16(buf))
            << "length " << buf.size();
    }
}

TEST(CrcRandom, HighBytesEnterAsUnsigned)
{
    std::vector<unsigned char> high;
    for (int b = 0x80; b <= 0xFF; ++b)
        high.push_back(static_cast<unsigned char>(b));
    EXPECT_EQ(qel_tb_calc_crc32(high.data(), static_cast<uint32_t>(high.size())), RefCrc32(high));
    EXPECT_EQ(qel_tb_calc_crc16(high.data(), static_cast<uint32_t>(high.size())), RefCrc16(high));
    const unsigned char ff[] = {0xFF};
    EXPECT_EQ(qel_tb_calc_crc32(ff, 1), 0xFF000000u);
}
