// Field listing and decode of the configuration block: one table of field descriptions
// walked by one routine.
#include "config_block.h"

#include "byte_order.h"
#include "printer_text.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace
{

// How the elements of a field are stored and printed.
typedef enum
{
    EV_FIELD_U8,   // unsigned 8-bit, decimal
    EV_FIELD_S8,   // signed 8-bit, decimal
    EV_FIELD_U16,  // unsigned 16-bit little-endian, decimal
    EV_FIELD_S16,  // signed 16-bit little-endian, decimal
    EV_FIELD_S32,  // 32-bit little-endian, printed as signed decimal
    EV_FIELD_TEXT, // text padded with 0x00, printed between double quotes
    EV_FIELD_HEX,  // bytes printed as one hex group per element
    EV_FIELD_SKIP  // carried unchanged, not listed
} ET_FIELD;

typedef struct
{
    std::string_view name; // field name after "configuration_data."
    unsigned short offset; // first byte in the block
    unsigned short width;  // bytes of one element
    unsigned char count;   // elements: 1, or 3 of which the first two are listed
    ET_FIELD type;
} TS_CONFIG_FIELD;

// The block layout, in block order without gaps.
constexpr TS_CONFIG_FIELD kFields[] = {
    {"revision_number", 0, 2, 1, EV_FIELD_U16},
    {"size_of_block", 2, 2, 1, EV_FIELD_U16},
    {"cust_serial_nr", 4, 34, 1, EV_FIELD_TEXT},
    {"cust_flags", 38, 1, 1, EV_FIELD_HEX},
    {"baudrate", 39, 1, 1, EV_FIELD_U8},
    {"parity_on_off", 40, 1, 1, EV_FIELD_U8},
    {"parity", 41, 1, 1, EV_FIELD_U8},
    {"data_bits", 42, 1, 1, EV_FIELD_U8},
    {"stop_bits", 43, 1, 1, EV_FIELD_U8},
    {"flow_control", 44, 1, 1, EV_FIELD_U8},
    {"block_host_tx_on_paper_out", 45, 1, 1, EV_FIELD_U8},
    {"wide_font", 46, 1, 1, EV_FIELD_U8},
    {"printer_options", 47, 4, 1, EV_FIELD_HEX},
    {"customer_sensors", 51, 4, 1, EV_FIELD_HEX},
    {"print_speed_tmms", 55, 2, 3, EV_FIELD_U16},
    {"paper_load_speed_tmms", 61, 2, 3, EV_FIELD_U16},
    {"paper_control_speed_tmms", 67, 2, 3, EV_FIELD_U16},
    {"print_density", 73, 1, 3, EV_FIELD_S8},
    {"dhis_burn_fac", 76, 1, 3, EV_FIELD_U8},
    {"multi_strobe_fac", 79, 1, 3, EV_FIELD_U8},
    {"burn_time_correction_us", 82, 11, 3, EV_FIELD_HEX},
    {"paper_path_options", 115, 4, 3, EV_FIELD_HEX},
    {"form_length_ym", 127, 4, 3, EV_FIELD_S32},
    {"mark_length_ym", 139, 2, 3, EV_FIELD_U16},
    {"mark_cut_dis_ym", 145, 4, 3, EV_FIELD_S32},
    {"paper_end_detect_dis_ym", 157, 2, 3, EV_FIELD_U16},
    {"paper_park_pos", 163, 1, 3, EV_FIELD_U8},
    {"present_offset_ym", 166, 2, 3, EV_FIELD_S16},
    {"paper_load_feed_ym", 172, 4, 3, EV_FIELD_S32},
    {"paper_load_duration_s", 184, 1, 3, EV_FIELD_U8},
    {"paper_weight_gm2", 187, 2, 3, EV_FIELD_U16},
    {"paper_width_ym", 193, 4, 3, EV_FIELD_S32},
    {"print_data_lost_timeout_s", 205, 1, 1, EV_FIELD_U8},
    {"external_led_control", 206, 1, 1, EV_FIELD_U8},
    {"present_speed_tmms", 207, 2, 3, EV_FIELD_U16},
    {"bundler_speed_tmms", 213, 2, 3, EV_FIELD_U16},
    {"mark_cut_correction_ym", 219, 2, 3, EV_FIELD_S16},
    {"paper_bundle_correction_ym", 225, 2, 3, EV_FIELD_S16},
    {"test_page_code", 231, 1, 3, EV_FIELD_HEX},
    {"print_correction_ym", 234, 2, 3, EV_FIELD_S16},
    {"nr_of_cut_retries", 240, 1, 1, EV_FIELD_U8},
    {"test_page_code_on_close", 241, 1, 3, EV_FIELD_HEX},
    {"dhis_level", 244, 1, 3, EV_FIELD_U8},
    {"", 247, 6, 1, EV_FIELD_SKIP},
    {"checksum", 253, 2, 1, EV_FIELD_HEX},
};

// The fields must tile the block exactly: each starts where the one before ends.
constexpr bool lo_fields_tile_block()
{
    unsigned next = 0;
    for (const TS_CONFIG_FIELD& f : kFields)
    {
        if (f.offset != next || f.width == 0 || (f.count != 1 && f.count != 3))
            return false;
        next = f.offset + f.width * f.count;
    }
    return next == QEL_PD_CONFIG_BLOCK_SIZE;
}
static_assert(lo_fields_tile_block(), "configuration block layout has a gap or overlap");

// Decimal value of one numeric element.
long lo_element_value(const unsigned char* p, ET_FIELD type)
{
    switch (type)
    {
    case EV_FIELD_U8:
    case EV_FIELD_U16:
        return static_cast<long>(qel_pd_get_le(p, type == EV_FIELD_U8 ? 1 : 2));
    case EV_FIELD_S8:
    case EV_FIELD_S16:
    case EV_FIELD_S32:
        return qel_pd_get_le_signed(p, type == EV_FIELD_S8 ? 1 : type == EV_FIELD_S16 ? 2 : 4);
    default:
        return 0;
    }
}

// The value text of one listed field.
void lo_put_value(TS_QEL_PD_TEXT* psText, const unsigned char* block, const TS_CONFIG_FIELD& f)
{
    const unsigned char* p = block + f.offset;
    if (f.type == EV_FIELD_TEXT)
    {
        // Any byte may come from the printer or the input line.
        qel_pd_text_putc(psText, '"');
        qel_pd_text_escaped(psText, p, qel_pd_text_length(p, f.width));
        qel_pd_text_putc(psText, '"');
        return;
    }

    /* Settings of three elements show only their first two. */
    const unsigned shown = f.count == 3 ? 2 : 1;
    if (f.type == EV_FIELD_HEX)
    {
        qel_pd_text_hex_groups(psText, p, f.width, shown, f.width);
        return;
    }
    for (unsigned e = 0; e < shown; ++e)
    {
        char number[24];
        const int n = std::snprintf(number, sizeof number, e > 0 ? " %ld" : "%ld",
                                    lo_element_value(p + e * f.width, f.type));
        qel_pd_text_put(psText, number, static_cast<std::size_t>(n));
    }
}

} // namespace

std::vector<TS_QEL_PD_FIELD_VALUE>
qel_pd_config_decode(const unsigned char block[QEL_PD_CONFIG_BLOCK_SIZE])
{
    std::vector<TS_QEL_PD_FIELD_VALUE> values;
    for (const TS_CONFIG_FIELD& f : kFields)
    {
        if (f.type == EV_FIELD_SKIP)
            continue;
        TS_QEL_PD_TEXT sLength{nullptr, 0, 0};
        lo_put_value(&sLength, block, f);
        std::string value(sLength.nLength, '\0');
        TS_QEL_PD_TEXT sText{value.data(), value.size() + 1, 0};
        lo_put_value(&sText, block, f);
        qel_pd_text_end(&sText);
        values.push_back({"configuration_data." + std::string(f.name), std::move(value)});
    }
    return values;
}

void qel_pd_config_list(std::FILE* out, const unsigned char block[QEL_PD_CONFIG_BLOCK_SIZE])
{
    for (const TS_QEL_PD_FIELD_VALUE& v : qel_pd_config_decode(block))
    {
        std::fprintf(out, "%-50.50s = %s\n", v.sName.c_str(), v.sValue.c_str());
        std::fflush(out);
    }
}
