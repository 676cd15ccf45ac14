// The command coder: coded text rules, raw to coded, round trips, handles.
#include "Qel_Tb.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace
{
using Bytes = std::vector<unsigned char>;

// Raw bytes of a record made from coded text; records are always released.
Bytes Decode(const std::string& text)
{
    const int cmd = qel_tb_cmd_init_coded(reinterpret_cast<const unsigned char*>(text.data()),
                                          static_cast<unsigned int>(text.size()));
    EXPECT_NE(cmd, 0) << text;
    unsigned char* raw = nullptr;
    unsigned int n = 0xFFFF;
    EXPECT_EQ(qel_tb_cmd_get_raw(cmd, &raw, &n), 1);
    Bytes out(raw, raw + n);
    qel_tb_cmd_exit(cmd);
    return out;
}

std::string Encode(const Bytes& raw, unsigned int* n_coded = nullptr)
{
    const int cmd = qel_tb_cmd_init_raw(raw.data(), static_cast<unsigned int>(raw.size()));
    EXPECT_NE(cmd, 0);
    unsigned char* coded = nullptr;
    unsigned int n = 0;
    EXPECT_EQ(qel_tb_cmd_get_coded(cmd, &coded, &n), 1);
    if (n_coded != nullptr)
        *n_coded = n;
    char* str = nullptr;
    EXPECT_EQ(qel_tb_cmd_get_coded_str(cmd, &str), 1);
    EXPECT_EQ(str, reinterpret_cast<char*>(coded));
    std::string text(str);
    qel_tb_cmd_exit(cmd);
    return text;
}
} // namespace

TEST(CoderHex, DigitsPairUpInBrackets)
{
    EXPECT_EQ(Decode("[1B 40]"), (Bytes{0x1B, 0x40}));
    EXPECT_EQ(Decode("[1b4 0]"), (Bytes{0x1B, 0x40}));
    EXPECT_EQ(Decode("[1B\t4\t0]"), (Bytes{0x1B, 0x40}));
    EXPECT_EQ(Decode("[fF 00 Aa]"), (Bytes{0xFF, 0x00, 0xAA}));
    EXPECT_EQ(Decode("[1]"), Bytes{});
    EXPECT_EQ(Decode("[4"), Bytes{}); // the pending digit dies with the text
}

TEST(CoderHex, OtherCharactersLeaveHexMode)
{
    // G leaves hex mode and is dropped; the bracket is then plain text.
    EXPECT_EQ(Decode("[1B G]"), (Bytes{0x1B, 0x5D}));
    // An opening bracket inside hex mode also just leaves it.
    EXPECT_EQ(Decode("[41[42]"), (Bytes{0x41, 0x34, 0x32, 0x5D}));
    EXPECT_EQ(Decode("]A"), (Bytes{0x5D, 0x41}));
    // A half byte is dropped when hex mode ends.
    EXPECT_EQ(Decode("[4]5"), (Bytes{0x35}));
}

TEST(CoderText, QuotedStringsKeepEveryCharacter)
{
    EXPECT_EQ(Decode("\"a//b\""), (Bytes{0x61, 0x2F, 0x2F, 0x62}));
    EXPECT_EQ(Decode("\"a b\\\t\x01\""), (Bytes{'a', ' ', 'b', '\\', '\t', 0x01}));
    // Hex mode and a pending digit continue behind a string.
    EXPECT_EQ(Decode("[41 \"x\" 42]"), (Bytes{0x41, 'x', 0x42}));
    EXPECT_EQ(Decode("[4\"x\"1]"), (Bytes{'x', 0x41}));
    // An unfinished string still counts.
    EXPECT_EQ(Decode("\"abc"), (Bytes{'a', 'b', 'c'}));
}

TEST(CoderText, PlainPrintablesOnlyOutsideStrings)
{
    EXPECT_EQ(Decode("AB // note"), (Bytes{0x41, 0x42}));
    EXPECT_EQ(Decode("A B\tC"), (Bytes{'A', 'B', 'C'}));
    EXPECT_EQ(Decode("a\r\nb\x01\x7F\x80\xFF~"), (Bytes{'a', 'b', '~'}));
    EXPECT_EQ(Decode("a/b"), (Bytes{'a', '/', 'b'}));
    EXPECT_EQ(Decode("a/"), (Bytes{'a', '/'}));
}

TEST(CoderEscape, BackslashRules)
{
    EXPECT_EQ(Decode("\\x41 42\\a43"), (Bytes{0x41, 0x42, 0x34, 0x33}));
    EXPECT_EQ(Decode("\\X41\\A"), (Bytes{0x41}));
    EXPECT_EQ(Decode("\\n"), Bytes{0x0A});
    EXPECT_EQ(Decode("\\ n"), Bytes{0x0A});
    EXPECT_EQ(Decode("\\N"), Bytes{0x4E});
    EXPECT_EQ(Decode("\\\\"), Bytes{0x5C});
    EXPECT_EQ(Decode("\\b\\f\\r\\t"), (Bytes{0x08, 0x0C, 0x0D, 0x09}));
    EXPECT_EQ(Decode("\\B\\F\\R\\T"), (Bytes{'B', 'F', 'R', 'T'}));
    EXPECT_EQ(Decode("\\\"\\[\\]"), (Bytes{'"', '[', ']'}));
    // An escaped character is a byte even in hex mode, which stays on.
    EXPECT_EQ(Decode("[4\\n1]"), (Bytes{0x0A, 0x41}));
    EXPECT_EQ(Decode("A\\"), Bytes{'A'}); // a waiting backslash is dropped
}

TEST(CoderComment, DoubleSlashEndsEverythingButStrings)
{
    EXPECT_EQ(Decode("[41 // 42]"), Bytes{0x41});
    EXPECT_EQ(Decode("\\//n"), Bytes{});
    EXPECT_EQ(Decode("// only a comment"), Bytes{});
    const std::string text = "// only a comment";
    const int cmd = qel_tb_cmd_init_coded(reinterpret_cast<const unsigned char*>(text.data()),
                                          static_cast<unsigned int>(text.size()));
    ASSERT_NE(cmd, 0);
    unsigned char* coded = nullptr;
    unsigned int n = 0;
    ASSERT_EQ(qel_tb_cmd_get_coded(cmd, &coded, &n), 1);
    // The record keeps a terminated copy of the text, not counted in nCoded.
    EXPECT_EQ(n, text.size());
    EXPECT_EQ(std::memcmp(coded, text.data(), n), 0);
    EXPECT_EQ(coded[n], '\0');
    qel_tb_cmd_exit(cmd);
}

TEST(CoderRaw, BytesBecomeBracketedHexPairs)
{
    unsigned int n = 0;
    EXPECT_EQ(Encode({0x1B, 0x40}, &n), "[1B 40]");
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(Encode({0x0A}, &n), "[0A]");
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(Encode({0x00, 0xFF, 0xab}, &n), "[00 FF AB]");
    EXPECT_EQ(n, 11u);
}

TEST(CoderRaw, RandomBytesSurviveTheRoundTrip)
{
    std::mt19937 rng(4711);
    for (int round = 0; round < 300; ++round)
    {
        Bytes raw(1 + rng() % 300);
        for (auto& b : raw)
            b = static_cast<unsigned char>(rng());
        unsigned int n = 0;
        const std::string coded = Encode(raw, &n);
        ASSERT_EQ(n, 3 * raw.size() + 2);
        ASSERT_EQ(Decode(coded), raw);
    }
}

TEST(CoderRecord, InputIsCopied)
{
    unsigned char text[] = "\"hi\"";
    const int cmd = qel_tb_cmd_init_coded(text, 4);
    ASSERT_NE(cmd, 0);
    std::memset(text, 'X', 4);
    unsigned char* raw = nullptr;
    unsigned int n = 0;
    ASSERT_EQ(qel_tb_cmd_get_raw(cmd, &raw, &n), 1);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(raw[0], 'h');
    char* str = nullptr;
    ASSERT_EQ(qel_tb_cmd_get_coded_str(cmd, &str), 1);
    EXPECT_STREQ(str, "\"hi\"");
    qel_tb_cmd_exit(cmd);
}

TEST(CoderRecord, EmptyInputAndBadArgumentsAreRefused)
{
    const unsigned char one[1] = {0x41};
    EXPECT_EQ(qel_tb_cmd_init_coded(nullptr, 4), 0);
    EXPECT_EQ(qel_tb_cmd_init_coded(one, 0), 0);
    EXPECT_EQ(qel_tb_cmd_init_raw(nullptr, 4), 0);
    EXPECT_EQ(qel_tb_cmd_init_raw(one, 0), 0);

    const int cmd = qel_tb_cmd_init_raw(one, 1);
    ASSERT_NE(cmd, 0);
    unsigned char* p = nullptr;
    unsigned int n = 0;
    char* s = nullptr;
    EXPECT_EQ(qel_tb_cmd_get_raw(cmd, nullptr, &n), 0);
    EXPECT_EQ(qel_tb_cmd_get_raw(cmd, &p, nullptr), 0);
    EXPECT_EQ(qel_tb_cmd_get_coded(cmd, nullptr, &n), 0);
    EXPECT_EQ(qel_tb_cmd_get_coded(cmd, &p, nullptr), 0);
    EXPECT_EQ(qel_tb_cmd_get_coded_str(cmd, nullptr), 0);
    EXPECT_EQ(qel_tb_cmd_get_raw(0, &p, &n), 0);
    EXPECT_EQ(qel_tb_cmd_get_coded_str(0, &s), 0);
    qel_tb_cmd_exit(cmd);
    qel_tb_cmd_exit(0);
}

TEST(CoderRecord, StaleAndUnknownHandlesAreRefused)
{
    const unsigned char one[1] = {0x41};
    const int first = qel_tb_cmd_init_raw(one, 1);
    ASSERT_NE(first, 0);
    qel_tb_cmd_exit(first);
    qel_tb_cmd_exit(first); // a second release is refused, not a double free

    const int second = qel_tb_cmd_init_raw(one, 1);
    ASSERT_NE(second, 0);
    EXPECT_NE(second, first);
    unsigned char* p = nullptr;
    unsigned int n = 0;
    char* s = nullptr;
    for (int bad : {first, -1, 99999, 0x7FFFFFFF, second + 1})
    {
        EXPECT_EQ(qel_tb_cmd_get_raw(bad, &p, &n), 0) << bad;
        EXPECT_EQ(qel_tb_cmd_get_coded(bad, &p, &n), 0) << bad;
        EXPECT_EQ(qel_tb_cmd_get_coded_str(bad, &s), 0) << bad;
        qel_tb_cmd_exit(bad);
    }
    // The live record was not disturbed by any of that.
    ASSERT_EQ(qel_tb_cmd_get_coded_str(second, &s), 1);
    EXPECT_STREQ(s, "[41]");
    qel_tb_cmd_exit(second);
}

TEST(CoderRecord, ManyLiveRecordsHaveDistinctHandles)
{
    std::vector<int> handles;
    for (int i = 0; i < 1000; ++i)
    {
        const unsigned char b = static_cast<unsigned char>(i);
        const int cmd = qel_tb_cmd_init_raw(&b, 1);
        ASSERT_NE(cmd, 0);
        handles.push_back(cmd);
    }
    for (int i = 0; i < 1000; ++i)
    {
        unsigned char* p = nullptr;
        unsigned int n = 0;
        ASSERT_EQ(qel_tb_cmd_get_raw(handles[i], &p, &n), 1);
        ASSERT_EQ(n, 1u);
        ASSERT_EQ(p[0], static_cast<unsigned char>(i));
    }
    for (int h : handles)
        qel_tb_cmd_exit(h);
}
