// The inquiry exchange over a scripted transport, and the decode of records into named and
// typed values.
#include "failure_texts.h"
#include "inquiry_records.h"
#include "printer_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

namespace
{

using Bytes = std::vector<unsigned char>;

// A port that hands out scripted answer bytes, records what was written and never sleeps.
struct ScriptedPort
{
    std::deque<unsigned char> answer;
    int writable = 1 << 20; // bytes a write may still move
    Bytes written;
    std::vector<int> reads; // sizes asked for
    int clears = 0;
    unsigned long paused_us = 0;

    TS_QEL_PD_TRANSPORT transport()
    {
        return {this,
                [](void* p, const unsigned char* data, int n, unsigned long)
                {
                    auto* port = static_cast<ScriptedPort*>(p);
                    int moved = std::min(n, port->writable);
                    port->writable -= moved;
                    port->written.insert(port->written.end(), data, data + moved);
                    return moved;
                },
                [](void* p, unsigned char* data, int n, unsigned long)
                {
                    auto* port = static_cast<ScriptedPort*>(p);
                    port->reads.push_back(n);
                    int got = 0;
                    for (; got < n && !port->answer.empty(); ++got, port->answer.pop_front())
                        data[got] = port->answer.front();
                    return got;
                },
                [](void* p)
                {
                    static_cast<ScriptedPort*>(p)->clears++;
                    return 1;
                },
                [](void* p, unsigned long us) { static_cast<ScriptedPort*>(p)->paused_us += us; }};
    }
};

Bytes cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(PrinterDataExchange, StatusInquiryOverAnyTransport)
{
    const Bytes record = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
    struct Case
    {
        const char* what;
        Bytes answer;
        int writable;
        const char* message;    // nullptr: success
        std::vector<int> reads; // sizes the exchange asked for
    } cases[] = {
        {"answered", cat({0x1B, 0xFF, 0x02, 0x0E}, record), 4, nullptr, {4, 14}},
        {"request cut", {}, 3, failure_text::inquiry_not_sent, {}},
        {"no header", {0x1B, 0xFF, 0x02}, 4, failure_text::inquiry_no_header, {4}},
        {"other type", cat({0x1B, 0xFF, 0x03, 0x0E}, record), 4, failure_text::inquiry_type, {4}},
        {"other size", cat({0x1B, 0xFF, 0x02, 0x0D}, record), 4, failure_text::inquiry_size, {4}},
        {"no ESC", cat({0x00, 0xFF, 0x02, 0x0E}, record), 4, failure_text::inquiry_size, {4}},
        {"record cut",
         {0x1B, 0xFF, 0x02, 0x0E, 1, 2, 3},
         4,
         failure_text::inquiry_no_data,
         {4, 14}},
    };
    for (const Case& c : cases)
    {
        ScriptedPort port;
        port.answer.assign(c.answer.begin(), c.answer.end());
        port.writable = c.writable;
        const TS_QEL_PD_TRANSPORT transport = port.transport();
        Bytes got(14, 0xEE);
        const char* message =
            qel_pd_inquire(&transport, qel_pd_inq_kind_of_bit(EV_QEL_PD_INQ_STATUS), got.data());
        if (c.message == nullptr)
        {
            EXPECT_EQ(message, nullptr) << c.what;
            EXPECT_EQ(got, record) << c.what;
        }
        else
        {
            EXPECT_STREQ(message, c.message) << c.what;
        }
        const Bytes request = {0x1D, 0x61, 0x00, 0x01};
        EXPECT_EQ(port.written, Bytes(request.begin(), request.begin() + std::min(4, c.writable)))
            << c.what;
        EXPECT_EQ(port.reads, c.reads) << c.what;
        // The port is cleared between two pauses of 100 ms through the transport's own pause.
        EXPECT_EQ(port.clears, 1) << c.what;
        EXPECT_EQ(port.paused_us, 200000u) << c.what;
    }
}

TEST(PrinterDataDecode, StatusAndInformationGiveNamedAndTypedValues)
{
    Bytes status(14, 0);
    status[5] = 0xFB, status[6] = 0xFF;   // head temperature -5
    status[10] = 0x34, status[11] = 0x12; // error code 0x1234, sent low byte first
    uint16_t error_code = 0;
    ASSERT_TRUE(qel_pd_status_error_code(status, &error_code));
    EXPECT_EQ(error_code, 0x1234);
    const auto values = qel_pd_inq_decode(qel_pd_inq_kind_of_bit(EV_QEL_PD_INQ_STATUS), status);
    ASSERT_EQ(values.size(), 7u);
    EXPECT_EQ(values[2].sName, "printer_status.print_head_temp_c");
    EXPECT_EQ(values[2].sValue, "-5");
    EXPECT_EQ(values[5].sName, "printer_status.error_code");
    EXPECT_EQ(values[5].sValue, "[3412]");

    Bytes info(117, 0);
    const std::string serial = "SN\x1B"
                               "0123456789ABCD"; // all 17 bytes, an escape among them
    std::copy(serial.begin(), serial.end(), info.begin() + 18);
    info[35] = 'X'; // the date of manufacture right behind it
    const std::string version = "R4-V1.04";
    std::copy(version.begin(), version.end(), info.begin() + 85);
    info[52] = 0x01, info[55] = 0x80; // model code
    std::string text;
    ASSERT_TRUE(qel_pd_info_serial_nr(info, &text));
    EXPECT_EQ(text, serial); // as sent, not escaped, never past the field
    ASSERT_TRUE(qel_pd_info_firmware_version(info, &text));
    EXPECT_EQ(text, version);
    uint32_t model = 0;
    ASSERT_TRUE(qel_pd_info_model_code(info, &model));
    EXPECT_EQ(model, 0x80000001u);
    const auto info_values =
        qel_pd_inq_decode(qel_pd_inq_kind_of_bit(EV_QEL_PD_INQ_INFORMATION), info);
    ASSERT_EQ(info_values.size(), 12u);
    EXPECT_EQ(info_values[2].sValue, "\"SN\\x1B0123456789ABCD\"");

    // A record shorter than its kind gives nothing at all.
    const Bytes cut(info.begin(), info.end() - 1);
    EXPECT_FALSE(qel_pd_info_serial_nr(cut, &text));
    EXPECT_FALSE(qel_pd_info_model_code(cut, &model));
    EXPECT_FALSE(qel_pd_status_error_code(Bytes(13, 0), &error_code));
    EXPECT_TRUE(qel_pd_inq_decode(qel_pd_inq_kind_of_bit(EV_QEL_PD_INQ_INFORMATION), cut).empty());
}

TEST(PrinterText, HexGroupsAreCutLikeSnprintf)
{
    const unsigned char ub[] = {0x01, 0xAB, 0x10, 0xFF};
    char acOut[32];
    EXPECT_EQ(qel_pd_format_hex_groups(acOut, sizeof acOut, ub, 1, 4, 1), 19u);
    EXPECT_STREQ(acOut, "[01] [AB] [10] [FF]");
    EXPECT_EQ(qel_pd_format_hex_groups(acOut, sizeof acOut, ub, 2, 2, 2), 13u);
    EXPECT_STREQ(acOut, "[01AB] [10FF]");
    EXPECT_EQ(qel_pd_format_hex_groups(acOut, 5, ub, 4, 1, 4), 10u);
    EXPECT_STREQ(acOut, "[01A");
}

} // namespace
