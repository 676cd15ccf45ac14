// Heap blocks that carry their size: allocation, appends, release.
#include "Qel_Tb.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

namespace
{
unsigned char* Append(void* block, const void* data, unsigned long n)
{
    return static_cast<unsigned char*>(qel_tb_alloc_mem_cat(block, data, n));
}

// The block is there, holds `size` bytes and starts with the `n` bytes at `head`.
void ExpectBlock(unsigned char* block, unsigned long size, const void* head, size_t n)
{
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(qel_tb_alloc_mem_size(block), size);
    EXPECT_EQ(std::memcmp(block, head, n), 0);
}
} // namespace

TEST(SizedBlock, AllocatesZeroFilledPayloadOfGivenSize)
{
    void* empty = qel_tb_alloc_mem(0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(qel_tb_alloc_mem_size(empty), 0UL);
    qel_tb_free(empty);

    auto* p = static_cast<unsigned char*>(qel_tb_alloc_mem(16));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(qel_tb_alloc_mem_size(p), 16UL);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(p[i], 0x00) << i;
    // The payload is aligned for any type, as a malloc block would be.
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u);
    qel_tb_free(p);
}

TEST(SizedBlock, NullIsAnEmptyBlock)
{
    EXPECT_EQ(qel_tb_alloc_mem_size(nullptr), 0UL);
    qel_tb_free(nullptr);
}

TEST(SizedBlockAppend, CollectsFromNull)
{
    const unsigned char four[4] = {1, 2, 3, 4};
    unsigned char many[255];
    for (int i = 0; i < 255; ++i)
        many[i] = static_cast<unsigned char>(0xFF - i);

    unsigned char* p = Append(nullptr, four, 4);
    ASSERT_NO_FATAL_FAILURE(ExpectBlock(p, 4, four, 4));
    p = Append(p, many, 255);
    ASSERT_NO_FATAL_FAILURE(ExpectBlock(p, 259, four, 4));
    EXPECT_EQ(std::memcmp(p + 4, many, 255), 0);
    qel_tb_free(p);
}

TEST(SizedBlockAppend, EmptyAppendCopiesToANewBlock)
{
    const unsigned char bytes[3] = {0xAA, 0xBB, 0xCC};
    unsigned char* p = Append(nullptr, bytes, 3);
    ASSERT_NE(p, nullptr);
    // The old block is released by each append (the sanitizer build would
    // report a leak or a double free otherwise).
    p = Append(p, nullptr, 0);
    ASSERT_NO_FATAL_FAILURE(ExpectBlock(p, 3, bytes, 3));
    p = Append(p, bytes, 0);
    ASSERT_NO_FATAL_FAILURE(ExpectBlock(p, 3, bytes, 3));
    qel_tb_free(p);

    void* empty = qel_tb_alloc_mem_cat(nullptr, nullptr, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(qel_tb_alloc_mem_size(empty), 0UL);
    qel_tb_free(empty);
}

TEST(SizedBlockAppend, NullDataStillGrowsTheBlock)
{
    const unsigned char two[2] = {7, 8};
    auto* p = static_cast<unsigned char*>(qel_tb_alloc_mem_cat(nullptr, two, 2));
    ASSERT_NE(p, nullptr);
    p = static_cast<unsigned char*>(qel_tb_alloc_mem_cat(p, nullptr, 10));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(qel_tb_alloc_mem_size(p), 12UL);
    EXPECT_EQ(p[0], 7);
    EXPECT_EQ(p[1], 8);
    std::memset(p + 2, 0x55, 10); // the grown part is writable
    qel_tb_free(p);
}

TEST(SizedBlockAppend, ExhaustedHeapReleasesTheOldBlock)
{
    const unsigned char one[1] = {1};
    void* p = qel_tb_alloc_mem_cat(nullptr, one, 1);
    ASSERT_NE(p, nullptr);
    // Far beyond any address space: the allocation must fail.
    EXPECT_EQ(qel_tb_alloc_mem_cat(p, nullptr, 1UL << 60), nullptr);

    // A size that would wrap the counter fails the same way.
    p = qel_tb_alloc_mem_cat(nullptr, one, 1);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(qel_tb_alloc_mem_cat(p, nullptr, ULONG_MAX), nullptr);

    EXPECT_EQ(qel_tb_alloc_mem(ULONG_MAX), nullptr);
    EXPECT_EQ(qel_tb_alloc_mem(1UL << 60), nullptr);
}

TEST(SizedBlockAppend, ManySmallAppendsKeepEveryByte)
{
    void* p = nullptr;
    std::vector<unsigned char> expected;
    for (int i = 0; i < 300; ++i)
    {
        unsigned char chunk[5];
        for (int k = 0; k < 5; ++k)
            chunk[k] = static_cast<unsigned char>(i * 5 + k);
        const unsigned long n = static_cast<unsigned long>(i % 6);
        p = qel_tb_alloc_mem_cat(p, chunk, n);
        ASSERT_NE(p, nullptr);
        expected.insert(expected.end(), chunk, chunk + n);
    }
    ASSERT_EQ(qel_tb_alloc_mem_size(p), expected.size());
    EXPECT_EQ(std::memcmp(p, expected.data(), expected.size()), 0);
    qel_tb_free(p);
}
