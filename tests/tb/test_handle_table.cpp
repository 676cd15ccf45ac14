// The table behind int handles: non-zero handles, refusal of stale ones, limits.
#include "handle_table.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

TEST(HandleTable, FullTableRefusesAndRecovers)
{
    static LoHandleTable<int> table; // large: keep it off the stack
    static int value = 0;
    std::vector<int> handles;
    for (int i = 0; i < LoHandleTable<int>::kMaxSlots; ++i)
    {
        const int h = table.insert(&value);
        ASSERT_GT(h, 0);
        handles.push_back(h);
    }
    EXPECT_EQ(table.insert(&value), 0);
    EXPECT_EQ(std::set<int>(handles.begin(), handles.end()).size(), handles.size());

    EXPECT_EQ(table.remove(handles[100]), &value);
    const int reused = table.insert(&value);
    EXPECT_GT(reused, 0);
    EXPECT_NE(reused, handles[100]);
    EXPECT_EQ(table.find(handles[100]), nullptr);
    EXPECT_EQ(table.find(reused), &value);
    for (int h : handles)
        table.remove(h);
    table.remove(reused);
}

TEST(HandleTable, GenerationsWrapWithoutReusingZeroOrGoingNegative)
{
    LoHandleTable<int> table;
    int value = 0;
    int previous = 0;
    for (int round = 0; round < 0x8000 + 10; ++round)
    {
        const int h = table.insert(&value);
        ASSERT_GT(h, 0) << round;
        ASSERT_NE(h, previous) << round;
        ASSERT_EQ(table.find(h), &value);
        ASSERT_EQ(table.remove(h), &value);
        ASSERT_EQ(table.find(h), nullptr);
        previous = h;
    }
}

TEST(HandleTable, ThreadsWorkOnTheirOwnRecords)
{
    LoHandleTable<int> table;
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back(
            [&, t]
            {
                std::vector<int> values(500, t);
                std::vector<int> mine;
                for (int& v : values)
                    mine.push_back(table.insert(&v));
                for (size_t i = 0; i < mine.size(); ++i)
                {
                    const int* p = table.find(mine[i]);
                    if (p != &values[i] || *p != t)
                        ++failures[t];
                }
                for (int h : mine)
                    if (table.remove(h) == nullptr)
                        ++failures[t];
            });
    }
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(failures[t], 0) << t;
}
