// Record layouts of the printer's inquiry answers, the inquiry exchange and the routines that
// print and decode their fields.
#include "inquiry_records.h"

#include "byte_order.h"
#include "printer_text.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace
{

/* Little helpers to keep the layout tables readable. */
constexpr TS_QEL_PD_INQ_FIELD lo_hex(const char* n, uint16_t o, uint16_t w, uint16_t c = 1)
{
    return {n, o, w, c, EV_QEL_PD_INQ_HEX};
}
constexpr TS_QEL_PD_INQ_FIELD lo_text(const char* n, uint16_t o, uint16_t w)
{
    return {n, o, w, 1, EV_QEL_PD_INQ_TEXT};
}
constexpr TS_QEL_PD_INQ_FIELD lo_num(const char* n, uint16_t o, uint16_t w, ET_QEL_PD_INQ_PRINT e)
{
    return {n, o, w, 1, e};
}
constexpr ET_QEL_PD_INQ_PRINT D = EV_QEL_PD_INQ_DEC;
constexpr ET_QEL_PD_INQ_PRINT S = EV_QEL_PD_INQ_DEC_SIGNED;
constexpr ET_QEL_PD_INQ_PRINT U = EV_QEL_PD_INQ_DEC_U;

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
    TS_QEL_PD_INQ_FIELD{"printer_flash.info", 1, 21, 6, EV_QEL_PD_INQ_TEXT_LIST},
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

constexpr std::array<TS_QEL_PD_INQ_KIND, 7> k_asKinds = {{
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
    for (const TS_QEL_PD_INQ_KIND& sKind : k_asKinds)
    {
        if (sKind.iResponseType != sKind.iBit + 2 || sKind.nSize > 255)
            return false;
        unsigned nEnd = 0;
        for (const TS_QEL_PD_INQ_FIELD& sField : sKind.asFields)
        {
            unsigned nExtent = unsigned(sField.nWidth) * sField.nCount;
            if (sField.nOffset < nEnd || sField.nOffset + nExtent > sKind.nSize || nExtent == 0)
                return false;
            bool fNumber = sField.ePrint == EV_QEL_PD_INQ_DEC ||
                           sField.ePrint == EV_QEL_PD_INQ_DEC_U ||
                           sField.ePrint == EV_QEL_PD_INQ_DEC_SIGNED;
            if (fNumber && (sField.nCount != 1 || sField.nWidth > 4 ||
                            (sField.ePrint == EV_QEL_PD_INQ_DEC && sField.nWidth > 2)))
                return false;
            nEnd = sField.nOffset + nExtent;
        }
    }
    return true;
}
static_assert(lo_layouts_are_sound(), "an inquiry record layout is inconsistent");

constexpr unsigned char k_ubGs = 0x1D;
constexpr unsigned char k_ubInquiryLetter = 0x61; // "a"
constexpr unsigned long k_iRequestTimeoutMs = 500;
constexpr unsigned long k_iResponseTimeoutMs = 1000;

/* A text field: quoted, up to its first zero byte, unprintable bytes escaped. */
void lo_put_text(TS_QEL_PD_TEXT* psText, const unsigned char* pub, size_t nWidth)
{
    qel_pd_text_putc(psText, '"');
    qel_pd_text_escaped(psText, pub, qel_pd_text_length(pub, nWidth));
    qel_pd_text_putc(psText, '"');
}

void lo_put_number(TS_QEL_PD_TEXT* psText, long long iValue)
{
    std::array<char, 32> acNumber{};
    int n = std::snprintf(acNumber.data(), acNumber.size(), "%lld", iValue);
    qel_pd_text_put(psText, acNumber.data(), static_cast<size_t>(n));
}

bool lo_fits(const TS_QEL_PD_INQ_FIELD* psField, std::span<const unsigned char> ubRecord)
{
    return psField->nOffset + size_t(psField->nWidth) * psField->nCount <= ubRecord.size();
}

/* The value text of a field that lies inside the record. */
void lo_put_value(TS_QEL_PD_TEXT* psText, const TS_QEL_PD_INQ_FIELD* psField,
                  std::span<const unsigned char> ubRecord)
{
    const unsigned char* pub = ubRecord.data() + psField->nOffset;
    switch (psField->ePrint)
    {
    case EV_QEL_PD_INQ_HEX:
        qel_pd_text_hex_groups(psText, pub, psField->nWidth, psField->nCount, psField->nWidth);
        break;
    case EV_QEL_PD_INQ_TEXT:
        lo_put_text(psText, pub, psField->nWidth);
        break;
    case EV_QEL_PD_INQ_TEXT_LIST:
        for (size_t i = 0; i < psField->nCount; i++)
        {
            lo_put_text(psText, pub + i * psField->nWidth, psField->nWidth);
            qel_pd_text_putc(psText, ' ');
        }
        break;
    case EV_QEL_PD_INQ_DEC:
    case EV_QEL_PD_INQ_DEC_U:
        lo_put_number(psText, qel_pd_get_le(pub, psField->nWidth));
        break;
    case EV_QEL_PD_INQ_DEC_SIGNED:
        lo_put_number(psText, qel_pd_get_le_signed(pub, psField->nWidth));
        break;
    }
}

/* A text field of a record of its kind's full size, as sent (not escaped). */
bool lo_get_text(int iBit, const char* pszName, std::span<const unsigned char> ubRecord,
                 std::string* psText)
{
    const TS_QEL_PD_INQ_KIND* psKind = qel_pd_inq_kind_of_bit(iBit);
    const TS_QEL_PD_INQ_FIELD* psField = qel_pd_inq_field(psKind, pszName);
    if (psField == nullptr || ubRecord.size() < psKind->nSize)
        return false;
    const unsigned char* pub = ubRecord.data() + psField->nOffset;
    psText->assign(reinterpret_cast<const char*>(pub), qel_pd_text_length(pub, psField->nWidth));
    return true;
}

/* The first bytes of a field of a record of its kind's full size. */
const unsigned char* lo_get_bytes(int iBit, const char* pszName,
                                  std::span<const unsigned char> ubRecord)
{
    const TS_QEL_PD_INQ_KIND* psKind = qel_pd_inq_kind_of_bit(iBit);
    const TS_QEL_PD_INQ_FIELD* psField = qel_pd_inq_field(psKind, pszName);
    if (psField == nullptr || ubRecord.size() < psKind->nSize)
        return nullptr;
    return ubRecord.data() + psField->nOffset;
}

} // namespace

std::span<const TS_QEL_PD_INQ_KIND> qel_pd_inq_kinds()
{
    return k_asKinds;
}

const TS_QEL_PD_INQ_KIND* qel_pd_inq_kind_of_bit(int iBit)
{
    for (const TS_QEL_PD_INQ_KIND& sKind : k_asKinds)
        if (sKind.iBit == iBit)
            return &sKind;
    return nullptr;
}

const TS_QEL_PD_INQ_FIELD* qel_pd_inq_field(const TS_QEL_PD_INQ_KIND* psKind, const char* pszName)
{
    if (psKind == nullptr || pszName == nullptr)
        return nullptr;
    for (const TS_QEL_PD_INQ_FIELD& sField : psKind->asFields)
        if (std::strcmp(sField.pszName, pszName) == 0)
            return &sField;
    return nullptr;
}

const char* qel_pd_inquire_data(const TS_QEL_PD_TRANSPORT* psPort, int iInquiry, int iType,
                                unsigned char* pubRecord, uint16_t nRecord)
{
    const std::array<unsigned char, 4> ubRequest = {
        k_ubGs, k_ubInquiryLetter, static_cast<unsigned char>((iInquiry >> 8) & 0xFF),
        static_cast<unsigned char>(iInquiry & 0xFF)};
    TS_QEL_PD_EXCHANGE sExchange{};
    sExchange.pubRequest = ubRequest.data();
    sExchange.nRequest = static_cast<int>(ubRequest.size());
    sExchange.iWriteTimeoutMs = k_iRequestTimeoutMs;
    sExchange.pszRequestFailed = "Could not send inquiry to printer";
    sExchange.ubType = static_cast<unsigned char>(iType);
    sExchange.ubSize = static_cast<unsigned char>(nRecord);
    sExchange.iHeaderTimeoutMs = k_iResponseTimeoutMs;
    sExchange.pszNoHeader = "Did not receive data response header";
    sExchange.pszTypeMismatch = "Mismatch in type of received data ";
    sExchange.pszSizeMismatch = "Mismatch in size of received data ";
    sExchange.pubData = pubRecord;
    sExchange.nData = nRecord;
    sExchange.iDataTimeoutMs = k_iResponseTimeoutMs;
    sExchange.pszNoData = "Did not receive inquired data";
    return qel_pd_exchange(psPort, &sExchange);
}

const char* qel_pd_inquire(const TS_QEL_PD_TRANSPORT* psPort, const TS_QEL_PD_INQ_KIND* psKind,
                           unsigned char* pubRecord)
{
    return qel_pd_inquire_data(psPort, 1 << psKind->iBit, psKind->iResponseType, pubRecord,
                               psKind->nSize);
}

size_t qel_pd_inq_format_raw(const TS_QEL_PD_INQ_KIND* psKind,
                             std::span<const unsigned char> ubRecord, char* pszOut, size_t nOut)
{
    TS_QEL_PD_TEXT sText{pszOut, nOut, 0};
    std::array<char, 80> acHead{};
    int n = std::snprintf(acHead.data(), acHead.size(), "%-50.50s = %d", psKind->pszRecord,
                          1 << psKind->iBit);
    qel_pd_text_put(&sText, acHead.data(), static_cast<size_t>(n));
    qel_pd_text_hex_groups(&sText, ubRecord.data(), ubRecord.size(), 1, 0);
    qel_pd_text_putc(&sText, '\n');
    return qel_pd_text_end(&sText);
}

size_t qel_pd_inq_format_value(const TS_QEL_PD_INQ_FIELD* psField,
                               std::span<const unsigned char> ubRecord, char* pszOut, size_t nOut)
{
    TS_QEL_PD_TEXT sText{pszOut, nOut, 0};
    if (lo_fits(psField, ubRecord))
        lo_put_value(&sText, psField, ubRecord);
    return qel_pd_text_end(&sText);
}

size_t qel_pd_inq_format_field(const TS_QEL_PD_INQ_FIELD* psField,
                               std::span<const unsigned char> ubRecord, char* pszOut, size_t nOut)
{
    TS_QEL_PD_TEXT sText{pszOut, nOut, 0};
    if (lo_fits(psField, ubRecord))
    {
        std::array<char, 64> acName{};
        int n = std::snprintf(acName.data(), acName.size(), "%-50.50s = ", psField->pszName);
        qel_pd_text_put(&sText, acName.data(), static_cast<size_t>(n));
        lo_put_value(&sText, psField, ubRecord);
        qel_pd_text_putc(&sText, '\n');
    }
    return qel_pd_text_end(&sText);
}

std::vector<TS_QEL_PD_FIELD_VALUE> qel_pd_inq_decode(const TS_QEL_PD_INQ_KIND* psKind,
                                                     std::span<const unsigned char> ubRecord)
{
    std::vector<TS_QEL_PD_FIELD_VALUE> asValues;
    if (psKind == nullptr || ubRecord.size() < psKind->nSize)
        return asValues;
    for (const TS_QEL_PD_INQ_FIELD& sField : psKind->asFields)
    {
        std::string sValue(qel_pd_inq_format_value(&sField, ubRecord, nullptr, 0), '\0');
        qel_pd_inq_format_value(&sField, ubRecord, sValue.data(), sValue.size() + 1);
        asValues.push_back({sField.pszName, std::move(sValue)});
    }
    return asValues;
}

bool qel_pd_status_error_code(std::span<const unsigned char> ubStatus, uint16_t* pwErrorCode)
{
    const unsigned char* pub =
        lo_get_bytes(EV_QEL_PD_INQ_STATUS, "printer_status.error_code", ubStatus);
    if (pub != nullptr)
        *pwErrorCode = static_cast<uint16_t>(qel_pd_get_le(pub, 2));
    return pub != nullptr;
}

bool qel_pd_status_error_info(std::span<const unsigned char> ubStatus, uint16_t* pwErrorInfo)
{
    const unsigned char* pub =
        lo_get_bytes(EV_QEL_PD_INQ_STATUS, "printer_status.error_info", ubStatus);
    if (pub != nullptr)
        *pwErrorInfo = static_cast<uint16_t>(qel_pd_get_le(pub, 2));
    return pub != nullptr;
}

bool qel_pd_status_bytes(std::span<const unsigned char> ubStatus, uint8_t aubStatus[4])
{
    const unsigned char* pub =
        lo_get_bytes(EV_QEL_PD_INQ_STATUS, "printer_status.status", ubStatus);
    if (pub != nullptr)
        std::memcpy(aubStatus, pub, 4);
    return pub != nullptr;
}

bool qel_pd_info_serial_nr(std::span<const unsigned char> ubInfo, std::string* psText)
{
    return lo_get_text(EV_QEL_PD_INQ_INFORMATION, "printer_info.serial_nr", ubInfo, psText);
}

bool qel_pd_info_part_nr(std::span<const unsigned char> ubInfo, std::string* psText)
{
    return lo_get_text(EV_QEL_PD_INQ_INFORMATION, "printer_info.part_nr", ubInfo, psText);
}

bool qel_pd_info_firmware_version(std::span<const unsigned char> ubInfo, std::string* psText)
{
    return lo_get_text(EV_QEL_PD_INQ_INFORMATION, "printer_info.firmware_version", ubInfo, psText);
}

bool qel_pd_info_firmware_part_nr(std::span<const unsigned char> ubInfo, std::string* psText)
{
    return lo_get_text(EV_QEL_PD_INQ_INFORMATION, "printer_info.firmware_part_nr", ubInfo, psText);
}

bool qel_pd_info_model_code(std::span<const unsigned char> ubInfo, uint32_t* pdwModelCode)
{
    const unsigned char* pub =
        lo_get_bytes(EV_QEL_PD_INQ_INFORMATION, "printer_info.model_code", ubInfo);
    if (pub != nullptr)
        *pdwModelCode = qel_pd_get_le(pub, 4);
    return pub != nullptr;
}
