// Decoded and raw lines of the inquiry records, checked on small hand-made byte arrays.
#include "inquiry_records.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace
{

std::string Pad(const std::string& name)
{
    return name + std::string(50 - name.size(), ' ') + " = ";
}

const TS_QEL_PD_INQ_FIELD* Field(int bit, const std::string& name)
{
    const TS_QEL_PD_INQ_KIND* kind = qel_pd_inq_kind_of_bit(bit);
    if (kind == nullptr)
        return nullptr;
    for (const TS_QEL_PD_INQ_FIELD& f : kind->asFields)
        if (name == f.pszName)
            return &f;
    return nullptr;
}

std::string Line(int bit, const std::string& name, const std::vector<unsigned char>& record)
{
    const TS_QEL_PD_INQ_FIELD* f = Field(bit, name);
    if (f == nullptr)
        return "<no field " + name + ">";
    std::array<char, 512> out{};
    size_t n = qel_pd_inq_format_field(f, record, out.data(), out.size());
    EXPECT_EQ(n, std::string(out.data()).size());
    return out.data();
}

std::vector<unsigned char> Record(int bit)
{
    return std::vector<unsigned char>(qel_pd_inq_kind_of_bit(bit)->nSize, 0);
}

// The field's line is its padded name, " = " and `value` (with its line end).
void ExpectLine(int bit, const std::string& name, const std::vector<unsigned char>& record,
                const std::string& value)
{
    EXPECT_EQ(Line(bit, name, record), Pad(name) + value) << name;
}

TEST(InquiryKinds, BitsWithoutAKindAreBitFiveAndTheHighByte)
{
    for (int bit : {5, 8, 9, 10, 11, 12, 13, 14, 15})
        EXPECT_EQ(qel_pd_inq_kind_of_bit(bit), nullptr) << bit;
    for (int bit : {0, 1, 2, 3, 4, 6, 7})
        ASSERT_NE(qel_pd_inq_kind_of_bit(bit), nullptr) << bit;
    EXPECT_EQ(qel_pd_inq_kind_of_bit(6)->iResponseType, 8);
    EXPECT_EQ(qel_pd_inq_kind_of_bit(3)->nSize, 163);
}

TEST(InquiryNumbers, LittleEndianAtOddOffsetsWithSignWhereTheLayoutSaysSo)
{
    auto status = Record(0);
    status[5] = 0xFB; // head temperature -5 at offset 5
    status[6] = 0xFF;
    status[7] = 0x10; // board voltage 0x8010 = 32784 at offset 7, printed unsigned
    status[8] = 0x80;
    ExpectLine(0, "printer_status.print_head_temp_c", status, "-5\n");
    ExpectLine(0, "printer_status.board_voltage_tv", status, "32784\n");

    auto present = Record(6);
    present[5] = 0xC8;                    // 200, unsigned 8-bit
    present[6] = 0x40, present[7] = 0x42; // 1000000 = 0x000F4240 at offset 6
    present[8] = 0x0F, present[9] = 0x00;
    for (int i = 14; i < 18; i++) // -1 at offset 14
        present[i] = 0xFF;
    ExpectLine(6, "printer_present.nr_of_loaded_printouts", present, "200\n");
    ExpectLine(6, "printer_present.total_nr_of_loaded_printouts", present, "1000000\n");
    ExpectLine(6, "printer_present.total_nr_of_rejected_printouts", present, "-1\n");

    auto life = Record(7);
    life[1] = 0xFE, life[2] = 0xFF, life[3] = 0xFF, life[4] = 0xFF; // 4294967294 at offset 1
    life[29] = 0xFF, life[30] = 0xFF;                               // 65535 at offset 29
    life[28] = 0x01; // last byte of nr_of_paper_cuts: 0x01000000
    ExpectLine(7, "printer_life.time_powered_s", life, "4294967294\n");
    ExpectLine(7, "printer_life.nr_of_paper_loads", life, "65535\n");
    ExpectLine(7, "printer_life.nr_of_paper_cuts", life, "16777216\n");
}

TEST(InquiryTexts, StopAtTheFirstZeroAndNeverRunPastTheirWidth)
{
    auto info = Record(1);
    const std::string version = "R4-V1.04.07"; // fills all 11 bytes at offset 85
    std::copy(version.begin(), version.end(), info.begin() + 85);
    const std::string date = "Feb 16 2021"; // the next field, right behind
    std::copy(date.begin(), date.end(), info.begin() + 96);
    const std::string serial("SN12\0XYZ", 8); // a zero inside, rubbish behind it
    std::copy(serial.begin(), serial.end(), info.begin() + 18);

    ExpectLine(1, "printer_info.firmware_version", info, "\"R4-V1.04.07\"\n");
    ExpectLine(1, "printer_info.firmware_date", info, "\"Feb 16 2021\"\n");
    ExpectLine(1, "printer_info.serial_nr", info, "\"SN12\"\n");
    ExpectLine(1, "printer_info.part_nr", info, "\"\"\n");
}

// A text that would set the terminal's title and clear its screen is shown, not obeyed.
TEST(InquiryTexts, ControlAndHighBytesPrintAsEscapes)
{
    auto info = Record(1);
    const std::string part = "\x1B]0;pwn\x07\x1B[2J\x7F\xE9~ \\";
    std::copy(part.begin(), part.end(), info.begin() + 1);
    ExpectLine(1, "printer_info.part_nr", info, "\"\\x1B]0;pwn\\x07\\x1B[2J\\x7F\\xE9~ \\\"\n");
}

TEST(InquiryTexts, FlashInfoIsSixQuotedTextsEachFollowedByASpace)
{
    auto flash = Record(3);
    std::fill(flash.begin() + 1, flash.begin() + 22, 'A'); // first text: all 21 bytes
    flash[22] = 'B';                                       // second: "B"
    // third to sixth empty
    ExpectLine(3, "printer_flash.info", flash,
               "\"" + std::string(21, 'A') + "\" \"B\" \"\" \"\" \"\" \"\" \n");
}

TEST(InquiryHex, GroupsFollowTheLayout)
{
    auto sensor = Record(2);
    for (int i = 0; i < 53; i++)
        sensor[i] = static_cast<unsigned char>(i * 5);
    ExpectLine(2, "printer_sensor.adc_measurement", sensor, "[050A0F14191E23282D32373C41464B50]\n");
    ExpectLine(2, "printer_sensor.paper_path_key_state", sensor, "[91] [96] [9B]\n");
    ExpectLine(2, "printer_sensor.presenter_sensor_3_state", sensor, "[EB]\n");

    auto flash = Record(3);
    for (int i = 127; i < 157; i++)
        flash[i] = static_cast<unsigned char>(i);
    ExpectLine(3, "printer_flash.checksum", flash,
               "[7F808182] [83848586] [8788898A] [8B8C8D8E] [8F909192] [93949596]\n");
    ExpectLine(3, "printer_flash.state", flash, "[97] [98] [99] [9A] [9B] [9C]\n");

    auto feed = Record(4);
    feed[3] = 0x01, feed[4] = 0x02, feed[7] = 0xAB, feed[8] = 0xCD;
    ExpectLine(4, "printer_feed.paper_path_status", feed, "[0102] [0000] [ABCD]\n");
}

TEST(InquiryRawLine, NameMaskInDecimalAndEveryByte)
{
    auto life = Record(7);
    life[0] = 0x0A;
    life[38] = 0xF1;
    std::array<char, 512> out{};
    size_t n = qel_pd_inq_format_raw(qel_pd_inq_kind_of_bit(7), life, out.data(), out.size());
    std::string expected = Pad("printer_life") + "128[0A" + std::string(74, '0') + "F1]\n";
    EXPECT_EQ(std::string(out.data()), expected);
    EXPECT_EQ(n, expected.size());
}

TEST(InquiryBuffers, ShortBuffersAreCutAndTerminatedAndShortRecordsRefused)
{
    auto status = Record(0);
    std::array<char, 20> small{};
    small.fill('#');
    size_t n = qel_pd_inq_format_raw(qel_pd_inq_kind_of_bit(0), status, small.data(), small.size());
    EXPECT_EQ(n, 50u + 3u + 1u + 1u + 28u + 2u); // name, " = ", "1", "[", digits, "]\n"
    EXPECT_EQ(std::string(small.data()), std::string("printer_status     "));

    const TS_QEL_PD_INQ_FIELD* last = Field(0, "printer_status.error_info");
    ASSERT_NE(last, nullptr);
    std::vector<unsigned char> tooShort(13, 0);
    std::array<char, 128> out{};
    out.fill('#');
    EXPECT_EQ(qel_pd_inq_format_field(last, tooShort, out.data(), out.size()), 0u);
    EXPECT_EQ(out[0], '\0');
}

} // namespace
