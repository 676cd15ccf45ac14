// Configuration block line reader, block line and field listing.
#include "config_block.h"

#include "Qel_Tb.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace
{

using Block = std::array<unsigned char, QEL_PD_CONFIG_BLOCK_SIZE>;

const std::string kKey = "configuration_data                                 = [";

// A block that passes the reader's checks: revision 1, size 255, sealed CRC-16.
Block make_block(unsigned char seed = 3)
{
    Block b{};
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<unsigned char>(i * 7 + seed);
    b[0] = 1;
    b[1] = 0;
    b[2] = 255;
    b[3] = 0;
    return b;
}

void seal(Block& b)
{
    const unsigned short crc = qel_tb_calc_crc16(b.data(), 253);
    b[253] = static_cast<unsigned char>(crc & 0xFF);
    b[254] = static_cast<unsigned char>(crc >> 8);
}

Block sealed_block(unsigned char seed = 3)
{
    Block b = make_block(seed);
    seal(b);
    return b;
}

std::string hex_digits(const Block& b, bool lower = false)
{
    std::string s;
    char two[3];
    for (unsigned char c : b)
    {
        std::snprintf(two, sizeof two, lower ? "%2.2x" : "%2.2X", c);
        s += two;
    }
    return s;
}

std::string block_line(const Block& b, bool lower = false)
{
    return kKey + hex_digits(b, lower) + "]\n";
}

// Runs the reader over text; returns whether a block was accepted and which.
struct ReadResult
{
    int accepted;
    Block block;
};

ReadResult read_text(const std::string& text)
{
    ReadResult r{0, {}};
    r.block.fill(0xEE);
    std::FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    if (text.empty())
        in = std::fopen("/dev/null", "r");
    EXPECT_NE(in, nullptr);
    r.accepted = qel_pd_config_input_read(in, r.block.data());
    std::fclose(in);
    return r;
}

// Captures what a printing routine writes to a stream.
template <typename F> std::string capture(F print)
{
    char* buf = nullptr;
    std::size_t len = 0;
    std::FILE* out = open_memstream(&buf, &len);
    print(out);
    std::fclose(out);
    std::string s(buf, len);
    std::free(buf);
    return s;
}

} // namespace

TEST(ConfigInputReader, AcceptsTheLineThatDownloadPrints)
{
    const Block b = sealed_block();
    const std::string printed =
        capture([&](std::FILE* out) { qel_pd_config_line_print(out, b.data()); });
    EXPECT_EQ(printed, block_line(b));

    const ReadResult r = read_text("# Processing\n" + printed + "trailer line\n");
    ASSERT_EQ(r.accepted, 1);
    EXPECT_EQ(r.block, b);
}

TEST(ConfigInputReader, AcceptsLowerCaseDigitsTrailingTextAndNoLineEnd)
{
    const Block b = sealed_block(11);
    EXPECT_EQ(read_text(block_line(b, true)).block, b);

    std::string line = kKey + hex_digits(b) + "] anything after the bracket\r\n";
    EXPECT_EQ(read_text(line).block, b);

    line = kKey + hex_digits(b) + "]"; // last line without a line end
    EXPECT_EQ(read_text(line).accepted, 1);
}

TEST(ConfigInputReader, SkipsLinesThatAreNotBlockLines)
{
    const Block b = sealed_block();
    const std::string digits = hex_digits(b);

    // 254 bytes of digits, then the bracket.
    EXPECT_EQ(read_text(kKey + digits.substr(0, 508) + "]\n").accepted, 0);
    // 255 bytes but no bracket right after them.
    EXPECT_EQ(read_text(kKey + digits + " ]\n").accepted, 0);
    EXPECT_EQ(read_text(kKey + digits + "\n").accepted, 0);
    // A non-hexadecimal character among the digits (first, middle, last position).
    for (std::size_t at : {std::size_t{0}, std::size_t{255}, std::size_t{509}})
    {
        std::string bad = digits;
        bad[at] = 'G';
        EXPECT_EQ(read_text(kKey + bad + "]\n").accepted, 0) << "at " << at;
    }
    // The key text needs its exact spacing: tabs, a missing blank, a field line of "-v".
    std::string tabbed = "configuration_data\t= [" + digits + "]\n";
    EXPECT_EQ(read_text(tabbed).accepted, 0);
    std::string shifted = "configuration_data                                = [" + digits + "]\n";
    EXPECT_EQ(read_text(shifted).accepted, 0);
    std::string field = "configuration_data.revision_number                 = [" + digits + "]\n";
    EXPECT_EQ(read_text(field).accepted, 0);
    std::string indented = " " + block_line(b);
    EXPECT_EQ(read_text(indented).accepted, 0);
    // A NUL byte among the digits.
    std::string nul = kKey + digits + "]\n";
    nul[kKey.size() + 100] = '\0';
    EXPECT_EQ(read_text(nul).accepted, 0);

    EXPECT_EQ(read_text("").accepted, 0);
    EXPECT_EQ(read_text("\n\n\n").accepted, 0);
}

TEST(ConfigLineParse, RejectsBlocksThatFailTheirOwnChecks)
{
    Block b = sealed_block();
    Block out{};
    const std::string good = block_line(b);
    EXPECT_EQ(qel_pd_config_line_parse(good.data(), good.size(), out.data()),
              EV_QEL_PD_CONFIG_LINE_ACCEPTED);

    Block rev = make_block();
    rev[0] = 2;
    seal(rev);
    std::string line = block_line(rev);
    EXPECT_EQ(qel_pd_config_line_parse(line.data(), line.size(), out.data()),
              EV_QEL_PD_CONFIG_LINE_BAD_REVISION);
    rev[0] = 1;
    rev[1] = 1; // revision 0x0101: the high byte counts too
    seal(rev);
    line = block_line(rev);
    EXPECT_EQ(qel_pd_config_line_parse(line.data(), line.size(), out.data()),
              EV_QEL_PD_CONFIG_LINE_BAD_REVISION);

    Block size = make_block();
    size[2] = 254;
    seal(size);
    line = block_line(size);
    EXPECT_EQ(qel_pd_config_line_parse(line.data(), line.size(), out.data()),
              EV_QEL_PD_CONFIG_LINE_BAD_SIZE);
    size[2] = 255;
    size[3] = 1;
    seal(size);
    line = block_line(size);
    EXPECT_EQ(qel_pd_config_line_parse(line.data(), line.size(), out.data()),
              EV_QEL_PD_CONFIG_LINE_BAD_SIZE);

    // One changed byte anywhere in 0..252, or a changed checksum byte.
    for (std::size_t at : {std::size_t{4}, std::size_t{252}, std::size_t{253}, std::size_t{254}})
    {
        Block crc = b;
        crc[at] ^= 0x01;
        line = block_line(crc);
        EXPECT_EQ(qel_pd_config_line_parse(line.data(), line.size(), out.data()),
                  EV_QEL_PD_CONFIG_LINE_BAD_CHECKSUM)
            << "at " << at;
    }
    // Nothing of a rejected line reaches the caller's block.
    Block untouched;
    untouched.fill(0x5A);
    Block copy = untouched;
    EXPECT_NE(qel_pd_config_line_parse(line.data(), line.size(), copy.data()),
              EV_QEL_PD_CONFIG_LINE_ACCEPTED);
    EXPECT_EQ(copy, untouched);
}

TEST(ConfigInputReader, TheLastAcceptedLineWins)
{
    const Block first = sealed_block(3);
    const Block second = sealed_block(90);
    Block broken = sealed_block(44);
    broken[100] ^= 0xFF; // checksum no longer matches

    EXPECT_EQ(read_text(block_line(first) + block_line(second)).block, second);
    EXPECT_EQ(read_text(block_line(second) + block_line(first)).block, first);
    // A later line that fails the block checks keeps the earlier accepted block.
    EXPECT_EQ(read_text(block_line(first) + block_line(broken)).block, first);
    EXPECT_EQ(read_text(block_line(broken)).accepted, 0);
}

TEST(ConfigInputReader, OnlyTheStartOfALongLineCounts)
{
    const Block b = sealed_block();
    // A block line hidden after 1000 characters of another line is not a line of its own.
    const std::string hidden = std::string(1000, 'x') + block_line(b);
    EXPECT_EQ(read_text(hidden).accepted, 0);
    // A block line with a very long tail is still accepted, and so is the next line.
    const std::string tail = kKey + hex_digits(b) + "]" + std::string(5000, 'y') + "\n";
    EXPECT_EQ(read_text(tail).accepted, 1);
    const Block next = sealed_block(77);
    EXPECT_EQ(read_text(tail + block_line(next)).block, next);
}

TEST(ConfigListing, PrintsEveryFieldInBlockOrder)
{
    // Patterned block: odd offsets, values above 0x7FFF, negative 8-, 16- and 32-bit values,
    // and distinct third elements that must not appear.
    Block b{};
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<unsigned char>(i * 7 + 3);
    b[0] = 1;
    b[1] = 0;
    b[2] = 255;
    b[3] = 0;
    const char serial[] = "SN-0042";
    for (std::size_t i = 0; i < 34; ++i)
        b[4 + i] = i < sizeof serial - 1 ? static_cast<unsigned char>(serial[i]) : 0;
    b[73] = 0xFD; // print_density -3, 5, (-128)
    b[74] = 0x05;
    b[75] = 0x80;
    const int16_t correction[3] = {-2, 300, -7}; // mark_cut_correction_ym
    for (int e = 0; e < 3; ++e)
    {
        b[219 + 2 * e] = static_cast<unsigned char>(static_cast<uint16_t>(correction[e]) & 0xFF);
        b[220 + 2 * e] = static_cast<unsigned char>(static_cast<uint16_t>(correction[e]) >> 8);
    }

    const std::string expected =
        "configuration_data.revision_number                 = 1\n"
        "configuration_data.size_of_block                   = 255\n"
        "configuration_data.cust_serial_nr                  = \"SN-0042\"\n"
        "configuration_data.cust_flags                      = [0D]\n"
        "configuration_data.baudrate                        = 20\n"
        "configuration_data.parity_on_off                   = 27\n"
        "configuration_data.parity                          = 34\n"
        "configuration_data.data_bits                       = 41\n"
        "configuration_data.stop_bits                       = 48\n"
        "configuration_data.flow_control                    = 55\n"
        "configuration_data.block_host_tx_on_paper_out      = 62\n"
        "configuration_data.wide_font                       = 69\n"
        "configuration_data.printer_options                 = [4C535A61]\n"
        "configuration_data.customer_sensors                = [686F767D]\n"
        "configuration_data.print_speed_tmms                = 35716 39314\n"
        "configuration_data.paper_load_speed_tmms           = 46510 50108\n"
        "configuration_data.paper_control_speed_tmms        = 57304 60902\n"
        "configuration_data.print_density                   = -3 5\n"
        "configuration_data.dhis_burn_fac                   = 23 30\n"
        "configuration_data.multi_strobe_fac                = 44 51\n"
        "configuration_data.burn_time_correction_us         = [41484F565D646B72798087] "
        "[8E959CA3AAB1B8BFC6CDD4]\n"
        "configuration_data.paper_path_options              = [282F363D] [444B5259]\n"
        "configuration_data.form_length_ym                  = -1853193348 -1381589096\n"
        "configuration_data.mark_length_ym                  = 55248 58846\n"
        "configuration_data.mark_cut_dis_ym                 = 252183034 723787030\n"
        "configuration_data.paper_end_detect_dis_ym         = 21838 25436\n"
        "configuration_data.paper_park_pos                  = 120 127\n"
        "configuration_data.present_offset_ym               = -27507 -23909\n"
        "configuration_data.paper_load_feed_ym              = -859455817 -387851565\n"
        "configuration_data.paper_load_duration_s           = 11 18\n"
        "configuration_data.paper_weight_gm2                = 10016 13614\n"
        "configuration_data.paper_width_ym                  = 1599623498 2071227750\n"
        "configuration_data.print_data_lost_timeout_s       = 158\n"
        "configuration_data.external_led_control            = 165\n"
        "configuration_data.present_speed_tmms              = 45996 49594\n"
        "configuration_data.bundler_speed_tmms              = 56790 60388\n"
        "configuration_data.mark_cut_correction_ym          = -2 300\n"
        "configuration_data.paper_bundle_correction_ym      = 12586 16184\n"
        "configuration_data.test_page_code                  = [54] [5B]\n"
        "configuration_data.print_correction_ym             = 28777 32375\n"
        "configuration_data.nr_of_cut_retries               = 147\n"
        "configuration_data.test_page_code_on_close         = [9A] [A1]\n"
        "configuration_data.dhis_level                      = 175 182\n"
        "configuration_data.checksum                        = [EEF5]\n";
    EXPECT_EQ(capture([&](std::FILE* out) { qel_pd_config_list(out, b.data()); }), expected);
}

TEST(ConfigListing, SerialNumberStopsAtItsFieldEnd)
{
    Block b = sealed_block();
    for (std::size_t i = 0; i < 34; ++i)
        b[4 + i] = static_cast<unsigned char>('A' + i % 26);
    b[38] = 'Z'; // cust_flags right behind: must not leak into the text
    const std::string listing = capture([&](std::FILE* out) { qel_pd_config_list(out, b.data()); });
    const std::string line = "configuration_data.cust_serial_nr                  = "
                             "\"ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGH\"\n";
    EXPECT_NE(listing.find(line), std::string::npos) << listing;

    const std::string clear_screen = "\x1B[2J\x9B";
    std::copy(clear_screen.begin(), clear_screen.end(), b.begin() + 4);
    b[4 + clear_screen.size()] = 0;
    const std::string shown = capture([&](std::FILE* out) { qel_pd_config_list(out, b.data()); });
    EXPECT_NE(shown.find("configuration_data.cust_serial_nr                  = "
                         "\"\\x1B[2J\\x9B\"\n"),
              std::string::npos)
        << shown;

    b[4] = 0; // empty text
    const std::string empty = capture([&](std::FILE* out) { qel_pd_config_list(out, b.data()); });
    EXPECT_NE(empty.find("configuration_data.cust_serial_nr                  = \"\"\n"),
              std::string::npos);
}
