// Tests of the printer side of the protocol: exchanges, transcript, faults, printer data.
#include "virtual_printer.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace qel_vp;
using Bytes = std::vector<std::uint8_t>;

namespace
{

Bytes join(const std::vector<Reply>& replies)
{
    Bytes out;
    for (const Reply& r : replies)
        out.insert(out.end(), r.bytes.begin(), r.bytes.end());
    return out;
}

Bytes inquiry(unsigned mask)
{
    return {0x1D, 0x61, static_cast<std::uint8_t>(mask >> 8), static_cast<std::uint8_t>(mask)};
}

Bytes upload_start(std::uint16_t mask, std::uint32_t size)
{
    return {0x1B,
            0xFF,
            0x20,
            0x08,
            0x00,
            0x00,
            static_cast<std::uint8_t>(mask),
            static_cast<std::uint8_t>(mask >> 8),
            static_cast<std::uint8_t>(size),
            static_cast<std::uint8_t>(size >> 8),
            static_cast<std::uint8_t>(size >> 16),
            static_cast<std::uint8_t>(size >> 24)};
}

Bytes block(const Bytes& data)
{
    Bytes b = {0x1B, 0xFF, 0x22, static_cast<std::uint8_t>(data.size())};
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Bytes upload_end(std::uint16_t crc)
{
    return {0x1B,
            0xFF,
            0x24,
            0x02,
            static_cast<std::uint8_t>(crc),
            static_cast<std::uint8_t>(crc >> 8)};
}

const Bytes kDownload = {0x1B, 0xFF, 0x46, 0x00};
const Bytes kReset = {0x1B, 0xF2, 0x03, 0x00};

} // namespace

TEST(ProtocolEngine, InquiryAnswersEveryKindWithItsHeaderAndRecord)
{
    ProtocolEngine engine;
    const PrinterData data = default_printer_data();
    const struct
    {
        unsigned bit;
        std::uint8_t type, size;
    } kinds[] = {{0, 2, 14}, {1, 3, 117}, {2, 4, 53}, {3, 5, 163},
                 {4, 6, 20}, {6, 8, 21},  {7, 9, 39}};
    for (const auto& k : kinds)
    {
        const Bytes answer = join(engine.feed(inquiry(1u << k.bit)));
        ASSERT_EQ(answer.size(), 4u + k.size) << "bit " << k.bit;
        EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 4), (Bytes{0x1B, 0xFF, k.type, k.size}));
        EXPECT_EQ(Bytes(answer.begin() + 4, answer.end()), data.records[k.bit]);
    }
    // Bits without a kind get no answer; several bits are answered in bit order.
    EXPECT_TRUE(engine.feed(inquiry(0x0020)).empty());
    EXPECT_TRUE(engine.feed(inquiry(0x0100)).empty());
    const Bytes two = join(engine.feed(inquiry(0x0011)));
    ASSERT_EQ(two.size(), 18u + 24u);
    EXPECT_EQ(two[2], 2);
    EXPECT_EQ(two[18 + 2], 6);
}

TEST(ProtocolEngine, RecordsCarryTheAwkwardCasesToolsMustHandle)
{
    const PrinterData d = default_printer_data();
    // Negative head temperatures (signed 16-bit, little-endian).
    EXPECT_LT(static_cast<std::int16_t>(d.records[0][5] | d.records[0][6] << 8), 0);
    EXPECT_LT(static_cast<std::int16_t>(d.records[2][19] | d.records[2][20] << 8), 0);
    // A text that fills its field without a zero, next to one that has a zero.
    const Bytes& info = d.records[1];
    EXPECT_EQ(std::count(info.begin() + 18, info.begin() + 35, 0), 0);
    EXPECT_GT(std::count(info.begin() + 1, info.begin() + 18, 0), 0);
    // Counters at odd offsets are non-zero in every byte position that matters.
    EXPECT_NE(d.records[7][1] | d.records[7][2] | d.records[7][3] | d.records[7][4], 0);
    // The configuration block is valid for the configuration tool's input check.
    const ConfigBlock& c = d.config;
    EXPECT_EQ(c[0] | c[1] << 8, 1);
    EXPECT_EQ(c[2] | c[3] << 8, 255);
    EXPECT_EQ(crc16(std::span<const std::uint8_t>(c.data(), 253)), c[253] | c[254] << 8);
}

TEST(ProtocolEngine, SyncBytesAndSplitRequestsAreHandled)
{
    ProtocolEngine engine;
    EXPECT_TRUE(engine.feed(Bytes(10, 0x00)).empty());
    EXPECT_TRUE(engine.feed(Bytes{0x1D}).empty());
    EXPECT_TRUE(engine.feed(Bytes{0x61, 0x00}).empty());
    const Bytes answer = join(engine.feed(Bytes{0x01, 0x00, 0x00}));
    EXPECT_EQ(answer.size(), 18u);
    ASSERT_EQ(engine.transcript().size(), 3u);
    EXPECT_EQ(engine.transcript()[0].kind, FrameKind::Sync);
    EXPECT_EQ(engine.transcript()[0].bytes.size(), 10u);
    EXPECT_EQ(engine.transcript()[1].kind, FrameKind::Inquiry);
    EXPECT_EQ(engine.transcript()[1].offset, 10u);
    EXPECT_EQ(engine.transcript()[2].kind, FrameKind::Sync);
    EXPECT_TRUE(engine.errors().empty());
    EXPECT_EQ(engine.received_bytes(), 16u);
}

TEST(ProtocolEngine, ConfigurationUploadTakesEffectAtHardReset)
{
    ProtocolEngine engine;
    const ConfigBlock original = engine.config();
    Bytes answer = join(engine.feed(kDownload));
    ASSERT_EQ(answer.size(), 259u);
    EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 4), (Bytes{0x1B, 0xFF, 0x47, 0xFF}));
    EXPECT_TRUE(std::equal(original.begin(), original.end(), answer.begin() + 4));

    ConfigBlock changed = original;
    changed[4] = 'X';
    seal_config_block(changed);
    Bytes up = {0x1B, 0xFF, 0x26, 0xFF};
    up.insert(up.end(), changed.begin(), changed.end());
    EXPECT_EQ(join(engine.feed(up)), (Bytes{0x1B, 0xFF, 0x27, 0x00}));
    ASSERT_TRUE(engine.pending_config().has_value());
    // Before the reset the printer still serves the old block.
    answer = join(engine.feed(kDownload));
    EXPECT_TRUE(std::equal(original.begin(), original.end(), answer.begin() + 4));

    EXPECT_TRUE(engine.feed(kReset).empty());
    EXPECT_EQ(engine.hard_resets(), 1u);
    EXPECT_FALSE(engine.pending_config().has_value());
    EXPECT_EQ(engine.config(), changed);
    answer = join(engine.feed(kDownload));
    EXPECT_TRUE(std::equal(changed.begin(), changed.end(), answer.begin() + 4));
}

TEST(ProtocolEngine, DataUploadChecksCrcAndKeepsTheData)
{
    ProtocolEngine engine;
    Bytes data(300);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 13);
    EXPECT_EQ(join(engine.feed(upload_start(0x0041, 300))), (Bytes{0x1B, 0xFF, 0x21, 0x01, 0x00}));
    EXPECT_TRUE(engine.feed(block(Bytes(data.begin(), data.begin() + 255))).empty());
    EXPECT_TRUE(engine.feed(block(Bytes(data.begin() + 255, data.end()))).empty());
    EXPECT_EQ(join(engine.feed(upload_end(crc16(data)))), (Bytes{0x1B, 0xFF, 0x25, 0x01, 0x00}));
    ASSERT_EQ(engine.uploads().size(), 1u);
    const Upload& u = engine.uploads()[0];
    EXPECT_EQ(u.type_mask, 0x0041);
    EXPECT_EQ(u.size, 300u);
    EXPECT_EQ(u.data, data);
    EXPECT_EQ(u.blocks, 2u);
    EXPECT_TRUE(u.crc_ok);

    // A wrong CRC, and a size that differs from the announcement, are refused.
    engine.feed(upload_start(0x0001, 2));
    engine.feed(block({1, 2}));
    EXPECT_EQ(join(engine.feed(upload_end(0x1234))).back(), 0x01);
    engine.feed(upload_start(0x0001, 3));
    engine.feed(block({1, 2}));
    EXPECT_EQ(join(engine.feed(upload_end(crc16(Bytes{1, 2})))).back(), 0x01);
    // An empty upload carries the CRC of no data.
    engine.feed(upload_start(0x0001, 0));
    EXPECT_EQ(join(engine.feed(upload_end(0x0000))).back(), 0x00);
    EXPECT_TRUE(engine.errors().empty());

    // Blocks outside an upload are reported.
    engine.feed(block({9}));
    ASSERT_EQ(engine.errors().size(), 1u);
    EXPECT_NE(engine.errors()[0].message.find("without an upload start"), std::string::npos);
}

TEST(ProtocolEngine, PageStreamAndUnknownBytesAreReportedWithOffsets)
{
    ProtocolEngine engine;
    std::vector<std::size_t> sunk;
    engine.set_page_sink(
        [](const Page& p, void* user)
        { static_cast<std::vector<std::size_t>*>(user)->push_back(p.lines.size()); },
        &sunk);
    const Bytes page = {0x1B, 0xF0, 0x01, 0x01, 0x02, 0x1B, 0xF0, 0x02, 0x01, 0xFF, 0x1B,
                        0xF0, 0x04, 0x01, 0x02, 0x0C, 0x1B, 0xF0, 0x06, 0x01, 0x02};
    // Delivered a byte at a time, as a slow line would.
    for (std::uint8_t b : page)
        EXPECT_TRUE(engine.feed(Bytes{b}).empty());
    ASSERT_EQ(engine.pages().size(), 1u);
    EXPECT_EQ(engine.pages()[0].lines.size(), 3u);
    EXPECT_EQ(engine.pages()[0].settings.speed, 2);
    EXPECT_EQ(sunk, std::vector<std::size_t>{3});

    engine.feed(Bytes{0x41, 0x42, 0x1B, 0xFF, 0x99, 0x01, 0x00, 0x1B, 0xF0, 0x09, 0x00});
    ASSERT_EQ(engine.errors().size(), 3u);
    EXPECT_EQ(engine.errors()[0].offset, page.size());     // 41 42: one message for the run
    EXPECT_EQ(engine.errors()[1].offset, page.size() + 2); // unknown frame type 99
    EXPECT_EQ(engine.errors()[2].offset, page.size() + 7); // unknown page command
    // After the garbage the printer still answers.
    EXPECT_EQ(join(engine.feed(inquiry(1))).size(), 18u);
}

TEST(ProtocolEngine, FaultsChangeTheSelectedAnswer)
{
    const Bytes normal = join(ProtocolEngine().feed(inquiry(1)));
    auto with = [&](Fault f)
    {
        ProtocolEngine engine;
        engine.add_fault(f);
        return engine.feed(inquiry(1));
    };
    EXPECT_TRUE(with({FaultKind::Silent, Exchange::Inquiry}).empty());
    EXPECT_EQ(join(with({FaultKind::WrongType, Exchange::Inquiry}))[2], 3);
    EXPECT_EQ(join(with({FaultKind::WrongSize}))[3], 13);
    EXPECT_EQ(join(with({FaultKind::WrongFirstByte}))[0], 0x00);
    const Bytes second = join(with({FaultKind::WrongSecondByte}));
    EXPECT_EQ(second[1], 0x00);
    EXPECT_EQ(Bytes(second.begin() + 2, second.end()), Bytes(normal.begin() + 2, normal.end()));
    EXPECT_EQ(join(with({FaultKind::ShortData, Exchange::Inquiry, 1, 0, 5})).size(), 13u);
    const Bytes stray = join(with({FaultKind::StrayBytes}));
    EXPECT_EQ(Bytes(stray.begin(), stray.begin() + 3), (Bytes{0x11, 0x22, 0x33}));
    EXPECT_EQ(Bytes(stray.begin() + 3, stray.end()), normal);
    const auto late = with({FaultKind::Late, Exchange::Inquiry, 1, 700});
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0].delay_ms, 700u);
    const auto split = with({FaultKind::Split, Exchange::Any, 1, 0, 4});
    ASSERT_EQ(split.size(), 5u); // 18 bytes in pieces of 4
    EXPECT_EQ(join(split), normal);
    const auto gone = with({FaultKind::Disconnect, Exchange::Inquiry});
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_TRUE(gone[0].disconnect);
    EXPECT_TRUE(gone[0].bytes.empty());
    // A fault for another exchange leaves the inquiry alone.
    EXPECT_EQ(join(with({FaultKind::Silent, Exchange::ConfigDownload})), normal);
}

TEST(ProtocolEngine, FaultSelectionCountsExchanges)
{
    ProtocolEngine engine;
    engine.add_fault({FaultKind::Silent, Exchange::Inquiry, 2});
    engine.add_fault({FaultKind::Merge, Exchange::ConfigDownload, 1});
    EXPECT_FALSE(engine.feed(inquiry(1)).empty());
    EXPECT_TRUE(engine.feed(inquiry(1)).empty());
    EXPECT_FALSE(engine.feed(inquiry(1)).empty());
    // The merged download answer comes out in one chunk with the next answer.
    EXPECT_TRUE(engine.feed(kDownload).empty());
    const auto merged = engine.feed(inquiry(1));
    ASSERT_EQ(merged.size(), 1u);
    EXPECT_EQ(merged[0].bytes.size(), 259u + 18u);

    ProtocolEngine every;
    every.add_fault({FaultKind::CancelStatus, Exchange::UploadStart, 0});
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(join(every.feed(upload_start(1, 1))).back(), 0x01);
    // A cancelled start leaves nothing running.
    every.feed(block({1}));
    EXPECT_FALSE(every.errors().empty());

    // "any" counts answered exchanges only: the reset between does not count.
    ProtocolEngine any;
    any.add_fault({FaultKind::Silent, Exchange::Any, 2});
    EXPECT_FALSE(any.feed(inquiry(1)).empty());
    any.feed(kReset);
    EXPECT_TRUE(any.feed(kDownload).empty());
}

TEST(ProtocolEngine, DisconnectInTheMiddleOfAnUpload)
{
    ProtocolEngine engine;
    engine.add_fault({FaultKind::Disconnect, Exchange::UploadBlock, 2});
    engine.feed(upload_start(1, 600));
    EXPECT_TRUE(engine.feed(block(Bytes(255, 1))).empty());
    const auto r = engine.feed(block(Bytes(255, 2)));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_TRUE(r[0].disconnect);
    EXPECT_EQ(engine.uploads()[0].data.size(), 255u);
    EXPECT_FALSE(engine.uploads()[0].ended);
}

TEST(ProtocolEngine, FaultTextForm)
{
    Fault f;
    std::string err;
    ASSERT_TRUE(parse_fault("late:config-download:2:700", f, &err)) << err;
    EXPECT_EQ(f.kind, FaultKind::Late);
    EXPECT_EQ(f.on, Exchange::ConfigDownload);
    EXPECT_EQ(f.nth, 2u);
    EXPECT_EQ(f.delay_ms, 700u);
    ASSERT_TRUE(parse_fault("disconnect:upload-block:3", f, &err));
    EXPECT_EQ(f.on, Exchange::UploadBlock);
    EXPECT_EQ(f.nth, 3u);
    ASSERT_TRUE(parse_fault("short:inquiry:0:5", f, &err));
    EXPECT_EQ(f.nth, 0u);
    EXPECT_EQ(f.count, 5u);
    ASSERT_TRUE(parse_fault("merge", f, &err));
    EXPECT_EQ(f.on, Exchange::Any);
    EXPECT_EQ(f.nth, 1u);
    for (const char* bad : {"", "loud", "late:printer", "late:inquiry:x", "silent:any:1:5",
                            "split:any:1:0", "late:inquiry:1:5:6"})
    {
        EXPECT_FALSE(parse_fault(bad, f, &err)) << bad;
        EXPECT_FALSE(err.empty());
    }
}

TEST(ProtocolEngine, PrinterDataFileReplacesRecordsAndBlock)
{
    const std::string path = ::testing::TempDir() + "vp_printer_data.txt";
    {
        std::ofstream out(path);
        out << "# pasted from the tools\n";
        out << "printer_status                                     = "
               "1[0102030405060708090A0B0C0D0E]\n";
        out << "configuration_data = [";
        for (int i = 0; i < 255; ++i)
            out << "ab";
        out << "]\n";
    }
    PrinterData d = default_printer_data();
    std::string err;
    ASSERT_TRUE(load_printer_data(path, d, &err)) << err;
    EXPECT_EQ(d.records[0], (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
    EXPECT_EQ(d.config[0], 0xAB);
    EXPECT_EQ(d.records[1], default_printer_data().records[1]);

    {
        std::ofstream out(path);
        out << "printer_life = [0102]\n";
    }
    PrinterData kept = default_printer_data();
    EXPECT_FALSE(load_printer_data(path, kept, &err));
    EXPECT_NE(err.find(":1:"), std::string::npos) << err;
    EXPECT_EQ(kept.records[7], default_printer_data().records[7]);
    EXPECT_FALSE(load_printer_data(path + ".missing", kept, &err));
}
