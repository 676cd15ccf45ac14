// Record layouts of the printer's inquiry answers and the routine that prints their fields.
#include "inquiry_records.h"

#include "tool_frame.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

namespace
{

/* Little helpers to keep the layout tables readable. */
constexpr TS_QEL_INQ_FIELD lo_hex(const char* n, uint16_t o, uint16_t w, uint16_t c = 1)
{
    return {n, o, w, c, EV_QEL_INQ_HEX};
}
constexpr TS_QEL_INQ_FIELD lo_text(const char* n, uint16_t o, uint16_t w)
{
    return {n, o, w, 1, EV_QEL_INQ_TEXT};
}
constexpr TS_QEL_INQ_FIELD lo_num(const char* n, uint16_t o, uint16_t w, ET_QEL_INQ_PRINT e)
{
    return {n, o, w, 1, e};
}
constexpr ET_QEL_INQ_PRINT D = EV_QEL_INQ_DEC;
constexpr ET_QEL_INQ_PRINT S = EV_QEL_INQ_DEC_SIGNED;
constexpr ET_QEL_INQ_PRINT U = EV_QEL_INQ_DEC_U;

constexpr std::array k_asStatus = {
    lo_hex("printer_status.status", 0, 4),
    lo_hex("printer_status.parameter", 4, 1),
    lo_num("printer_status.print_head_temp_c", 5, 2, S),
    lo_num("printer_status.board_voltage_tv", 7, 2, D),
    lo_hex("printer_status.state", 9, 1),
    lo_hex("printer_status.error_code", 10, 2),
    lo_hex("printer_status.error_info", 12, 2),
};

constexpr std::array k_asInformation = {
    lo_num("printer_info.protocol_revision", 0, 1, D),
    lo_text("printer_info.part_nr", 1, 17),
    lo_text("printer_info.serial_nr", 18, 17),
    lo_text("printer_info.date_of_manuf", 35, 17),
    lo_hex("printer_info.model_code", 52, 4),
    lo_hex("printer_info.config_code", 56, 4),
    lo_hex("printer_info.sensor_code", 60, 4),
    lo_hex("printer_info.feature_code", 64, 4),
    lo_text("printer_info.firmware_part_nr", 68, 17),
    lo_text("printer_info.firmware_version", 85, 11),
    lo_text("printer_info.firmware_date", 96, 13),
    lo_hex("printer_info.firmware_patch", 109, 4),
};

constexpr std::array k_asSensor = {
    lo_num("printer_sensor.protocol_revision", 0, 1, D),
    lo_hex("printer_sensor.adc_measurement", 1, 16),
    lo_hex("printer_sensor.digital_input", 17, 2),
    lo_num("printer_sensor.print_head_temp_c", 19, 2, S),
    lo_num("printer_sensor.board_voltage_tv", 21, 2, D),
    lo_hex("printer_sensor.paper_pre_end_sensor_A_state", 23, 1, 3),
    lo_hex("printer_sensor.paper_pre_end_sensor_B_state", 26, 1, 3),
    lo_hex("printer_sensor.paper_path_key_state", 29, 1, 3),
    lo_hex("printer_sensor.paper_path_entry_sensor_state", 32, 1, 3),
    lo_hex("printer_sensor.paper_path_exit_sensor_state", 35, 1, 3),
    lo_hex("printer_sensor.paper_entry_sensor_1_state", 38, 1),
    lo_hex("printer_sensor.paper_entry_sensor_2_state", 39, 1),
    lo_hex("printer_sensor.head_up_sensor_state", 40, 1),
    lo_hex("printer_sensor.cutter_sensor_1_state", 41, 1),
    lo_hex("printer_sensor.cutter_sensor_2_state", 42, 1),
    lo_hex("printer_sensor.paper_exit_sensor_state", 43, 1),
    lo_hex("printer_sensor.auxiliary_sensor_state", 44, 1),
    lo_hex("printer_sensor.presenter_sensor_1_state", 45, 1),
    lo_hex("printer_sensor.presenter_sensor_2_state", 46, 1),
    lo_hex("printer_sensor.presenter_sensor_3_state", 47, 1),
};

constexpr std::array k_asFlash = {
    lo_num("printer_flash.protocol_revision", 0, 1, D),
    TS_QEL_INQ_FIELD{"printer_flash.info", 1, 21, 6, EV_QEL_INQ_TEXT_LIST},
    lo_hex("printer_flash.checksum", 127, 4, 6),
    lo_hex("printer_flash.state", 151, 1, 6),
};

constexpr std::array k_asFeed = {
    lo_num("printer_feed.protocol_revision", 0, 1, D),
    lo_hex("printer_feed.state", 1, 1),
    lo_num("printer_feed.nr_of_paper_paths", 2, 1, D),
    lo_hex("printer_feed.paper_path_status", 3, 2, 3),
    lo_hex("printer_feed.paper_path_state", 9, 1, 3),
};

constexpr std::array k_asPresent = {
    lo_num("printer_present.protocol_revision", 0, 1, D),
    lo_num("printer_present.type", 1, 1, D),
    lo_hex("printer_present.status", 2, 2),
    lo_hex("printer_present.state", 4, 1),
    lo_num("printer_present.nr_of_loaded_printouts", 5, 1, D),
    lo_num("printer_present.total_nr_of_loaded_printouts", 6, 4, S),
    lo_num("printer_present.total_nr_of_taken_printouts", 10, 4, S),
    lo_num("printer_present.total_nr_of_rejected_printouts", 14, 4, S),
};

constexpr std::array k_asLife = {
    lo_num("printer_life.protocol_revision", 0, 1, D),
    lo_num("printer_life.time_powered_s", 1, 4, U),
    lo_num("printer_life.distance_stepped_mm", 5, 4, U),
    lo_num("printer_life.distance_burned_mm", 9, 4, U),
    lo_num("printer_life.paper_transported_mm", 13, 4, U),
    lo_num("printer_life.nr_of_system_starts", 17, 4, U),
    lo_num("printer_life.nr_of_hard_resets", 21, 4, U),
    lo_num("printer_life.nr_of_paper_cuts", 25, 4, U),
    lo_num("printer_life.nr_of_paper_loads", 29, 2, U),
};

constexpr std::array<TS_QEL_INQ_KIND, 7> k_asKinds = {{
    {0, "printer_status", 2, 14, k_asStatus},
    {1, "printer_information", 3, 117, k_asInformation},
    {2, "printer_sensor", 4, 53, k_asSensor},
    {3, "printer_flash", 5, 163, k_asFlash},
    {4, "printer_feed", 6, 20, k_asFeed},
    {6, "printer_present", 8, 21, k_asPresent},
    {7, "printer_life", 9, 39, k_asLife},
}};

/* Every field must lie inside its record, the fields in ascending order without overlap, and
 * numbers must fit the value they are printed as. */
constexpr bool lo_layouts_are_sound()
{
    for (const TS_QEL_INQ_KIND& sKind : k_asKinds)
    {
        if (sKind.iResponseType != sKind.iBit + 2 || sKind.nSize > 255)
            return false;
        unsigned nEnd = 0;
        for (const TS_QEL_INQ_FIELD& sField : sKind.asFields)
        {
            unsigned nExtent = unsigned(sField.nWidth) * sField.nCount;
            if (sField.nOffset < nEnd || sField.nOffset + nExtent > sKind.nSize || nExtent == 0)
                return false;
            bool fNumber = sField.ePrint == EV_QEL_INQ_DEC || sField.ePrint == EV_QEL_INQ_DEC_U ||
                           sField.ePrint == EV_QEL_INQ_DEC_SIGNED;
            if (fNumber && (sField.nCount != 1 || sField.nWidth > 4 ||
                            (sField.ePrint == EV_QEL_INQ_DEC && sField.nWidth > 2)))
                return false;
            nEnd = sField.nOffset + nExtent;
        }
    }
    return true;
}
static_assert(lo_layouts_are_sound(), "an inquiry record layout is inconsistent");

/* Appends formatted text to a bounded buffer while counting the full length. */
struct TS_LO_SINK
{
    char* pszOut;
    size_t nOut;
    size_t nLength;
};

void lo_put(TS_LO_SINK& s, const char* pszText, size_t nText)
{
    if (s.nLength < s.nOut)
    {
        size_t nRoom = s.nOut - s.nLength - 1;
        std::memcpy(s.pszOut + s.nLength, pszText, nText < nRoom ? nText : nRoom);
    }
    s.nLength += nText;
}

void lo_put(TS_LO_SINK& s, const char* pszText)
{
    lo_put(s, pszText, std::strlen(pszText));
}

void lo_terminate(TS_LO_SINK& s)
{
    if (s.nOut > 0)
        s.pszOut[s.nLength < s.nOut ? s.nLength : s.nOut - 1] = '\0';
}

/* Little-endian number of up to four bytes, read byte by byte (odd offsets are common). */
uint32_t lo_little_endian(const unsigned char* pub, size_t nWidth)
{
    uint32_t dwValue = 0;
    for (size_t i = nWidth; i > 0; i--)
        dwValue = (dwValue << 8) | pub[i - 1];
    return dwValue;
}

int32_t lo_sign_extend(uint32_t dwValue, size_t nWidth)
{
    if (nWidth >= 4)
        return static_cast<int32_t>(dwValue);
    uint32_t dwSign = 1u << (8 * nWidth - 1);
    return static_cast<int32_t>(dwValue ^ dwSign) - static_cast<int32_t>(dwSign);
}

void lo_put_text(TS_LO_SINK& s, const unsigned char* pub, size_t nWidth)
{
    const void* pvZero = std::memchr(pub, 0, nWidth);
    size_t nText = pvZero != nullptr
                       ? static_cast<size_t>(static_cast<const unsigned char*>(pvZero) - pub)
                       : nWidth;
    // The printer's text may hold any byte; only printable ones pass as they are.
    std::vector<char> acText(qel_tool_format_text(nullptr, 0, pub, nText) + 1);
    size_t nShown = qel_tool_format_text(acText.data(), acText.size(), pub, nText);
    lo_put(s, "\"");
    lo_put(s, acText.data(), nShown);
    lo_put(s, "\"");
}

void lo_put_name(TS_LO_SINK& s, const char* pszName)
{
    std::array<char, 64> acName{};
    int n = std::snprintf(acName.data(), acName.size(), "%-50.50s = ", pszName);
    lo_put(s, acName.data(), static_cast<size_t>(n));
}

} // namespace

std::span<const TS_QEL_INQ_KIND> qel_inq_kinds()
{
    return k_asKinds;
}

const TS_QEL_INQ_KIND* qel_inq_kind_of_bit(int iBit)
{
    for (const TS_QEL_INQ_KIND& sKind : k_asKinds)
        if (sKind.iBit == iBit)
            return &sKind;
    return nullptr;
}

size_t qel_inq_format_raw(const TS_QEL_INQ_KIND* psKind, std::span<const unsigned char> ubRecord,
                          char* pszOut, size_t nOut)
{
    static constexpr char k_acDigits[] = "0123456789ABCDEF";
    TS_LO_SINK s{pszOut, nOut, 0};
    std::array<char, 80> acHead{};
    int n = std::snprintf(acHead.data(), acHead.size(), "%-50.50s = %d[", psKind->pszRecord,
                          1 << psKind->iBit);
    lo_put(s, acHead.data(), static_cast<size_t>(n));
    for (unsigned char ub : ubRecord)
    {
        const char acByte[2] = {k_acDigits[ub >> 4], k_acDigits[ub & 0x0F]};
        lo_put(s, acByte, 2);
    }
    lo_put(s, "]\n");
    lo_terminate(s);
    return s.nLength;
}

size_t qel_inq_format_field(const TS_QEL_INQ_FIELD* psField,
                            std::span<const unsigned char> ubRecord, char* pszOut, size_t nOut)
{
    TS_LO_SINK s{pszOut, nOut, 0};
    size_t nExtent = size_t(psField->nWidth) * psField->nCount;
    if (psField->nOffset + nExtent > ubRecord.size())
    {
        lo_terminate(s);
        return 0;
    }
    const unsigned char* pub = ubRecord.data() + psField->nOffset;
    std::array<char, 32> acNumber{};

    lo_put_name(s, psField->pszName);
    switch (psField->ePrint)
    {
    case EV_QEL_INQ_HEX:
    {
        size_t nNeeded = qel_tool_format_hex_groups(nullptr, 0, pub, psField->nWidth,
                                                    psField->nCount, psField->nWidth);
        std::array<char, 256> acGroups{};
        if (nNeeded < acGroups.size())
        {
            qel_tool_format_hex_groups(acGroups.data(), acGroups.size(), pub, psField->nWidth,
                                       psField->nCount, psField->nWidth);
            lo_put(s, acGroups.data(), nNeeded);
        }
        break;
    }
    case EV_QEL_INQ_TEXT:
        lo_put_text(s, pub, psField->nWidth);
        break;
    case EV_QEL_INQ_TEXT_LIST:
        for (size_t i = 0; i < psField->nCount; i++)
        {
            lo_put_text(s, pub + i * psField->nWidth, psField->nWidth);
            lo_put(s, " ");
        }
        break;
    case EV_QEL_INQ_DEC:
    case EV_QEL_INQ_DEC_SIGNED:
    {
        uint32_t dwValue = lo_little_endian(pub, psField->nWidth);
        int iValue = psField->ePrint == EV_QEL_INQ_DEC_SIGNED
                         ? lo_sign_extend(dwValue, psField->nWidth)
                         : static_cast<int>(dwValue);
        lo_put(s, acNumber.data(),
               static_cast<size_t>(std::snprintf(acNumber.data(), acNumber.size(), "%d", iValue)));
        break;
    }
    case EV_QEL_INQ_DEC_U:
    {
        unsigned uValue = lo_little_endian(pub, psField->nWidth);
        lo_put(s, acNumber.data(),
               static_cast<size_t>(std::snprintf(acNumber.data(), acNumber.size(), "%u", uValue)));
        break;
    }
    }
    lo_put(s, "\n");
    lo_terminate(s);
    return s.nLength;
}
