// Printer data of the virtual printer: the seven inquiry records and the configuration block,
// with deterministic contents, and their loading from a text file.
#include "virtual_printer.h"

#include <cctype>
#include <cerrno>
#include <algorithm>
#include <cstring>
#include <fstream>

namespace qel_vp
{

namespace
{

constexpr std::array<InquiryKind, 7> kKinds = {{
    {0, "printer_status", 2, 14},
    {1, "printer_information", 3, 117},
    {2, "printer_sensor", 4, 53},
    {3, "printer_flash", 5, 163},
    {4, "printer_feed", 6, 20},
    {6, "printer_present", 8, 21},
    {7, "printer_life", 9, 39},
}};

// Little-endian writers for the packed records.
void put16(std::vector<std::uint8_t>& r, std::size_t at, std::uint16_t v)
{
    r.at(at) = static_cast<std::uint8_t>(v);
    r.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::vector<std::uint8_t>& r, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        r.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

// A text field of `width` bytes; a text of exactly `width` characters has no terminating zero.
void put_text(std::vector<std::uint8_t>& r, std::size_t at, std::size_t width, const char* text)
{
    const std::size_t n = std::strlen(text);
    for (std::size_t i = 0; i < width; ++i)
        r.at(at + i) = i < n ? static_cast<std::uint8_t>(text[i]) : 0;
}

void put_bytes(std::vector<std::uint8_t>& r, std::size_t at, std::initializer_list<int> bytes)
{
    for (int b : bytes)
        r.at(at++) = static_cast<std::uint8_t>(b);
}

std::vector<std::uint8_t> status_record()
{
    std::vector<std::uint8_t> r(14, 0);
    put_bytes(r, 0, {0x00, 0x00, 0x01, 0x00});   // status: online, paper present
    r[4] = 0x00;                                 // parameter
    put16(r, 5, static_cast<std::uint16_t>(-7)); // head temperature -7 C (cold store)
    put16(r, 7, 241);                            // board voltage 24.1 V
    r[9] = 0x01;                                 // state: ready
    put_bytes(r, 10, {0x00, 0x00, 0x00, 0x00});  // no error
    return r;
}

std::vector<std::uint8_t> information_record(std::uint16_t product)
{
    std::vector<std::uint8_t> r(117, 0);
    r[0] = 1;
    put_text(r, 1, 17, "QEL-80-TK-0002");
    put_text(r, 18, 17, "SN-20261208-00017"); // 17 characters: no terminating zero
    put_text(r, 35, 17, "2026-12-08");
    put_bytes(r, 52, {product & 0xFF, product >> 8, 0x2D, 0x5E}); // model code
    put_bytes(r, 56, {0x01, 0x00, 0x00, 0x80});                   // configuration code
    put_bytes(r, 60, {0x3F, 0x00, 0x00, 0x00});                   // sensor code
    put_bytes(r, 64, {0x07, 0x01, 0x00, 0x00});                   // feature code
    put_text(r, 68, 17, "FW-QEL80-4711-01");
    put_text(r, 85, 11, "R4-V1.04-B"); // 10 characters and a zero
    put_text(r, 96, 13, "Feb 16 2021");
    put_bytes(r, 109, {0x00, 0x00, 0x01, 0x04});
    put_bytes(r, 113, {0xA5, 0x5A, 0x00, 0x00});
    return r;
}

std::vector<std::uint8_t> sensor_record()
{
    std::vector<std::uint8_t> r(53, 0);
    r[0] = 1;
    put_bytes(r, 1,
              {0x12, 0x03, 0x40, 0x02, 0xF0, 0x0F, 0x00, 0x01, 0x88, 0x07, 0x10, 0x00, 0x33, 0x0C,
               0xFF, 0x03});                       // ADC channels
    put_bytes(r, 17, {0x05, 0x80});                // digital inputs
    put16(r, 19, static_cast<std::uint16_t>(-12)); // head temperature -12 C
    put16(r, 21, 238);                             // board voltage 23.8 V
    put_bytes(r, 23, {0x01, 0x00, 0x01});          // pre-end sensor A
    put_bytes(r, 26, {0x01, 0x00, 0x00});          // pre-end sensor B
    put_bytes(r, 29, {0x00, 0x00, 0x00});          // paper path key
    put_bytes(r, 32, {0x01, 0x01, 0x00});          // entry sensor
    put_bytes(r, 35, {0x00, 0x00, 0x00});          // exit sensor
    put_bytes(r, 38, {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00});
    put_bytes(r, 48, {0xDE, 0xAD, 0x00, 0x00, 0x00});
    return r;
}

std::vector<std::uint8_t> flash_record()
{
    std::vector<std::uint8_t> r(163, 0);
    r[0] = 1;
    put_text(r, 1, 21, "BOOT R1.02");
    put_text(r, 22, 21, "FIRMWARE R4-V1.04-BET"); // 21 characters: no terminating zero
    put_text(r, 43, 21, "FONT-#1 CP437 12x24");
    put_text(r, 64, 21, "LOGO QEL 384x96");
    put_text(r, 85, 21, "FONT-#2 CP850 9x17");
    put_text(r, 106, 21, "");
    for (int i = 0; i < 6; ++i)
        put32(r, 127 + 4 * i, 0x1F2E3D4Cu + 0x01010101u * static_cast<unsigned>(i));
    put_bytes(r, 151, {0x01, 0x01, 0x01, 0x01, 0x01, 0x00});
    return r;
}

std::vector<std::uint8_t> feed_record()
{
    std::vector<std::uint8_t> r(20, 0);
    r[0] = 1;
    r[1] = 0x00;
    r[2] = 3;
    put_bytes(r, 3, {0x01, 0x00, 0x00, 0x00, 0x04, 0x00});
    put_bytes(r, 9, {0x01, 0x00, 0x02});
    return r;
}

std::vector<std::uint8_t> present_record()
{
    std::vector<std::uint8_t> r(21, 0);
    r[0] = 1;
    r[1] = 2;
    put_bytes(r, 2, {0x00, 0x01});
    r[4] = 0x00;
    r[5] = 1;
    put32(r, 6, 48213);  // loaded printouts
    put32(r, 10, 48150); // taken
    put32(r, 14, 62);    // rejected
    return r;
}

std::vector<std::uint8_t> life_record()
{
    std::vector<std::uint8_t> r(39, 0);
    r[0] = 1;
    put32(r, 1, 31536123u);  // time powered, s (odd offset)
    put32(r, 5, 9876543u);   // distance stepped, mm
    put32(r, 9, 8765432u);   // distance burned, mm
    put32(r, 13, 10234567u); // paper transported, mm
    put32(r, 17, 1427u);     // system starts
    put32(r, 21, 38u);       // hard resets
    put32(r, 25, 48290u);    // paper cuts
    put16(r, 29, 311);       // paper loads
    return r;
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string trim(const std::string& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

} // namespace

const InquiryKind* inquiry_kind(unsigned bit)
{
    for (const InquiryKind& k : kKinds)
        if (k.bit == bit)
            return &k;
    return nullptr;
}

void seal_config_block(ConfigBlock& block)
{
    const std::uint16_t crc = crc16(std::span<const std::uint8_t>(block.data(), 253));
    block[253] = static_cast<std::uint8_t>(crc);
    block[254] = static_cast<std::uint8_t>(crc >> 8);
}

ConfigBlock default_config_block()
{
    std::vector<std::uint8_t> b(kConfigBlockSize, 0);
    put16(b, 0, 1);   // revision
    put16(b, 2, 255); // size of block
    put_text(b, 4, 34, "CUSTOMER-4711");
    b[38] = 0x01;                               // customer flags
    put_bytes(b, 39, {7, 0, 0, 8, 1, 1, 1, 0}); // 115200 8N1, RTS/CTS, block on paper out
    put_bytes(b, 47, {0x11, 0x00, 0x00, 0x02}); // printer options
    put_bytes(b, 51, {0x00, 0x00, 0x00, 0x00}); // customer sensors
    for (int i = 0; i < 3; ++i)
    {
        put16(b, 55 + 2 * i, static_cast<std::uint16_t>(1500 - 250 * i));         // print speed
        put16(b, 61 + 2 * i, 800);                                                // load speed
        put16(b, 67 + 2 * i, 1000);                                               // control speed
        b[73 + i] = static_cast<std::uint8_t>(static_cast<std::int8_t>(-10 * i)); // density
        b[76 + i] = 100;
        b[79 + i] = 1;
        put32(b, 127 + 4 * i, 150000);                            // form length
        put16(b, 139 + 2 * i, 4000);                              // mark length
        put32(b, 145 + 4 * i, static_cast<std::uint32_t>(-2500)); // mark cut distance
        put16(b, 157 + 2 * i, 30000);
        b[163 + i] = 2;
        put16(b, 166 + 2 * i, static_cast<std::uint16_t>(-120));
        put32(b, 172 + 4 * i, 55000);
        b[184 + i] = 5;
        put16(b, 187 + 2 * i, 80);
        put32(b, 193 + 4 * i, 80000);
        put16(b, 207 + 2 * i, 600);
        put16(b, 213 + 2 * i, 400);
        put16(b, 219 + 2 * i, static_cast<std::uint16_t>(-35));
        put16(b, 225 + 2 * i, 12);
        b[231 + i] = 0x10;
        put16(b, 234 + 2 * i, static_cast<std::uint16_t>(-5));
        b[241 + i] = 0x00;
        b[244 + i] = 3;
    }
    for (int i = 0; i < 33; ++i)
        b[82 + i] = static_cast<std::uint8_t>(i * 3);
    for (int i = 0; i < 12; ++i)
        b[115 + i] = static_cast<std::uint8_t>(i < 4 ? 0x01 : 0x00);
    b[205] = 30; // print data lost time-out
    b[206] = 1;  // external LED
    b[240] = 3;  // cut retries
    put_bytes(b, 247, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    ConfigBlock block{};
    std::copy(b.begin(), b.end(), block.begin());
    seal_config_block(block);
    return block;
}

PrinterData default_printer_data(std::uint16_t product)
{
    PrinterData d;
    d.records[0] = status_record();
    d.records[1] = information_record(product);
    d.records[2] = sensor_record();
    d.records[3] = flash_record();
    d.records[4] = feed_record();
    d.records[6] = present_record();
    d.records[7] = life_record();
    d.config = default_config_block();
    return d;
}

bool load_printer_data(const std::string& path, PrinterData& data, std::string* error)
{
    std::ifstream in(path);
    if (!in)
    {
        if (error)
            *error = path + ": " + std::strerror(errno);
        return false;
    }
    PrinterData loaded = data;
    std::string line;
    for (unsigned number = 1; std::getline(in, line); ++number)
    {
        auto bad = [&](const std::string& why)
        {
            if (error)
                *error = path + ":" + std::to_string(number) + ": " + why;
            return false;
        };
        const std::string text = trim(line);
        const std::size_t eq = text.find('=');
        if (text.empty() || text[0] == '#' || eq == std::string::npos)
            continue;
        const std::string key = trim(text.substr(0, eq));
        std::string value = trim(text.substr(eq + 1));
        // The inquiry tool prints the mask in decimal before the bracket.
        std::size_t open = 0;
        while (open < value.size() && std::isdigit(static_cast<unsigned char>(value[open])))
            ++open;
        if (open >= value.size() || value[open] != '[')
            return bad("value of \"" + key + "\" is not [HEX]");
        const std::size_t close = value.find(']', open);
        if (close == std::string::npos)
            return bad("missing \"]\"");
        const std::string hex = value.substr(open + 1, close - open - 1);
        if (hex.size() % 2 != 0)
            return bad("odd number of hexadecimal digits");
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 0; i < hex.size(); i += 2)
        {
            const int hi = hex_value(hex[i]), lo = hex_value(hex[i + 1]);
            if (hi < 0 || lo < 0)
                return bad("not a hexadecimal digit in \"" + hex.substr(i, 2) + "\"");
            bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
        if (key == "configuration_data")
        {
            if (bytes.size() != kConfigBlockSize)
                return bad("configuration_data needs 255 bytes, has " +
                           std::to_string(bytes.size()));
            std::copy(bytes.begin(), bytes.end(), loaded.config.begin());
            continue;
        }
        const InquiryKind* kind = nullptr;
        for (const InquiryKind& k : kKinds)
            if (key == k.name)
                kind = &k;
        if (!kind)
            return bad("unknown key \"" + key + "\"");
        if (bytes.size() != kind->size)
            return bad(key + " needs " + std::to_string(kind->size) + " bytes, has " +
                       std::to_string(bytes.size()));
        loaded.records[kind->bit] = bytes;
    }
    data = std::move(loaded);
    return true;
}

void set_serial_number(PrinterData& data, std::string_view serial)
{
    // Bytes 18-34 of the information record; a 17-character number has no terminating zero.
    std::vector<std::uint8_t>& r = data.records[1];
    if (r.size() < 35)
        return;
    std::fill(r.begin() + 18, r.begin() + 35, 0);
    std::copy_n(serial.begin(), std::min<std::size_t>(serial.size(), 17), r.begin() + 18);
}

} // namespace qel_vp
