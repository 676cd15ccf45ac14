// receipt_settings.cpp - job choices to page settings and layout.
#include "receipt_settings.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace qel_app
{

namespace
{

// The value a keyword names in TABLE, or FALLBACK for a keyword not in it.
template <typename Value, std::size_t N>
Value lo_keyword_value(std::string_view keyword,
                       const std::pair<std::string_view, Value> (&table)[N], Value fallback)
{
    for (const auto& [name, value] : table)
        if (keyword == name)
            return value;
    return fallback;
}

} // namespace

CutMode parse_cut_mode(std::string_view keyword, CutMode fallback)
{
    static constexpr std::pair<std::string_view, CutMode> names[] = {
        {"after-job", CutMode::AfterJob},
        {"after-page", CutMode::AfterPage},
        {"never", CutMode::Never}};
    return lo_keyword_value(keyword, names, fallback);
}

BlankTrim parse_blank_trim(std::string_view keyword, BlankTrim fallback)
{
    static constexpr std::pair<std::string_view, BlankTrim> names[] = {
        {"top-and-bottom", BlankTrim::TopAndBottom},
        {"bottom", BlankTrim::Bottom},
        {"none", BlankTrim::None}};
    return lo_keyword_value(keyword, names, fallback);
}

int parse_paper_path(std::string_view keyword)
{
    if (keyword.size() == 6 && keyword.substr(0, 5) == "path-" && keyword[5] >= '0' &&
        keyword[5] <= '2')
        return keyword[5] - '0';
    return -1;
}

unsigned density_step_for_darkness(int darkness_percent)
{
    const int clamped = std::clamp(darkness_percent, 0, 100);
    const unsigned step = static_cast<unsigned>((clamped + 2) / 5 * 5);
    return step == 50 ? 255u : step;
}

TS_QEL_PAGE_SETTINGS page_settings(const ReceiptChoices& choices)
{
    TS_QEL_PAGE_SETTINGS settings;
    settings.speed = (choices.speed_level >= 1 && choices.speed_level <= 10)
                         ? static_cast<unsigned char>(choices.speed_level)
                         : 0xFF;
    const unsigned step = density_step_for_darkness(choices.darkness_percent);
    settings.density = step == 255 ? 0 : density_for_step(step);
    // Paper positions of the printer's paths: path 0 is position 3, paths 1 and 2 their own.
    static constexpr unsigned position_of_path[3] = {3, 1, 2};
    settings.path = path_for_position(choices.paper_path >= 0 && choices.paper_path <= 2
                                          ? position_of_path[choices.paper_path]
                                          : 0);
    return settings;
}

TS_QEL_PAGE_LAYOUT page_layout(const ReceiptChoices& choices, uint32_t width_bytes, uint32_t height)
{
    TS_QEL_PAGE_LAYOUT layout;
    layout.width_bytes = width_bytes;
    layout.height = height;
    layout.f_trim_bottom = choices.trim != BlankTrim::None;
    layout.f_trim_top = choices.trim == BlankTrim::TopAndBottom;
    layout.f_form_feed = choices.form_feed;
    layout.f_cut = choices.cut == CutMode::AfterPage;
    // Every byte saved is time on a serial line: the fewest RLE8 bytes.
    layout.rle8_parse = Rle8Parse::Shortest;
    return layout;
}

uint32_t bottom_margin_lines(const ReceiptChoices& choices)
{
    if (choices.trim == BlankTrim::None || choices.bottom_margin_mm <= 0)
        return 0;
    return static_cast<uint32_t>((choices.bottom_margin_mm * 2030 + 127) / 254);
}

void crop_line(const unsigned char* src, uint32_t src_bits, uint32_t offset, unsigned char* dst,
               uint32_t dst_bits)
{
    const uint32_t dst_bytes = (dst_bits + 7) / 8;
    std::memset(dst, 0, dst_bytes);
    if (offset % 8 == 0 && offset + dst_bits <= src_bits && dst_bits % 8 == 0)
    {
        std::memcpy(dst, src + offset / 8, dst_bytes);
        return;
    }
    for (uint32_t x = 0; x < dst_bits; x++)
    {
        const uint32_t sx = offset + x;
        if (sx >= src_bits)
            break;
        if (src[sx / 8] & (0x80u >> (sx % 8)))
            dst[x / 8] |= static_cast<unsigned char>(0x80u >> (x % 8));
    }
}

} // namespace qel_app
