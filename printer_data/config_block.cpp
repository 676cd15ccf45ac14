// Configuration block line: reading it from text input and printing it.
#include "config_block.h"

#include "byte_order.h"
#include "printer_text.h"

#include "Qel_Tb.h"

#include <array>
#include <cstring>
#include <string_view>

namespace
{

// "configuration_data" padded with spaces to 50 characters, then " = [".
constexpr std::string_view kKeyText = "configuration_data                                 = [";
static_assert(kKeyText.size() == 54);

constexpr std::size_t kDigits = 2 * QEL_PD_CONFIG_BLOCK_SIZE;

// Longest part of a line that is examined; the rest of a longer line is skipped.
constexpr std::size_t kLineChunk = 1000;

} // namespace

ET_QEL_PD_CONFIG_LINE qel_pd_config_line_parse(const char* line, std::size_t length,
                                               unsigned char block[QEL_PD_CONFIG_BLOCK_SIZE])
{
    /* Key text, then 510 digits and the closing bracket. */
    if (line == nullptr || length < kKeyText.size() ||
        std::string_view(line, kKeyText.size()) != kKeyText)
        return EV_QEL_PD_CONFIG_LINE_NOT_BLOCK;
    const char* rest = line + kKeyText.size();
    if (length - kKeyText.size() < kDigits + 1)
        return EV_QEL_PD_CONFIG_LINE_NOT_BLOCK;

    std::array<unsigned char, QEL_PD_CONFIG_BLOCK_SIZE> candidate{};
    for (std::size_t i = 0; i < QEL_PD_CONFIG_BLOCK_SIZE; ++i)
    {
        const int hi = Lo_HexDigit(rest[2 * i]);
        const int lo = hi < 0 ? -1 : Lo_HexDigit(rest[2 * i + 1]);
        if (lo < 0)
            return EV_QEL_PD_CONFIG_LINE_NOT_BLOCK;
        candidate[i] = static_cast<unsigned char>((hi << 4) | lo);
    }
    if (rest[kDigits] != ']')
        return EV_QEL_PD_CONFIG_LINE_NOT_BLOCK;

    /* The block's own checks: revision 1, size 255, CRC-16 over bytes 0..252. */
    if (qel_pd_get_le(&candidate[QEL_PD_CONFIG_OFFSET_REVISION], 2) != 1)
        return EV_QEL_PD_CONFIG_LINE_BAD_REVISION;
    if (qel_pd_get_le(&candidate[QEL_PD_CONFIG_OFFSET_SIZE_OF_BLOCK], 2) !=
        QEL_PD_CONFIG_BLOCK_SIZE)
        return EV_QEL_PD_CONFIG_LINE_BAD_SIZE;
    const unsigned short crc = qel_tb_calc_crc16(candidate.data(), QEL_PD_CONFIG_OFFSET_CHECKSUM);
    if (crc != qel_pd_get_le(&candidate[QEL_PD_CONFIG_OFFSET_CHECKSUM], 2))
        return EV_QEL_PD_CONFIG_LINE_BAD_CHECKSUM;

    std::memcpy(block, candidate.data(), QEL_PD_CONFIG_BLOCK_SIZE);
    return EV_QEL_PD_CONFIG_LINE_ACCEPTED;
}

int qel_pd_config_input_read(std::FILE* in, unsigned char block[QEL_PD_CONFIG_BLOCK_SIZE])
{
    int fAccepted = 0;
    std::array<char, kLineChunk> line{};
    std::size_t nLine = 0;

    /* Lines are collected character by character so that NUL bytes and very long
       lines are handled: only the first 1000 characters of a line are examined,
       and what follows them never counts as the start of a new line. */
    for (;;)
    {
        const int c = std::getc(in);
        if (c == EOF || c == '\n')
        {
            if (nLine > 0 && qel_pd_config_line_parse(line.data(), nLine, block) ==
                                 EV_QEL_PD_CONFIG_LINE_ACCEPTED)
                fAccepted = 1;
            if (c == EOF)
                break;
            nLine = 0;
            continue;
        }
        if (nLine < line.size())
            line[nLine++] = static_cast<char>(c);
    }
    return fAccepted;
}

void qel_pd_config_line_print(std::FILE* out, const unsigned char block[QEL_PD_CONFIG_BLOCK_SIZE])
{
    std::fprintf(out, "%-50.50s = ", "configuration_data");
    qel_pd_put_hex_groups(out, block, QEL_PD_CONFIG_BLOCK_SIZE, 1, 0);
    std::fputc('\n', out);
    std::fflush(out);
}
