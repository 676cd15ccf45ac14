// Inquiry kinds of the printer, the layouts of their records, the inquiry exchange, the tools'
// line formatters and a decode of a record into named values.
#ifndef QEL_PD_INQUIRY_RECORDS_H
#define QEL_PD_INQUIRY_RECORDS_H

#include "printer_exchange.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

/* How one field of a record is printed after "%-50.50s = ". */
typedef enum
{
    EV_QEL_PD_INQ_HEX,        /* nCount groups of nWidth bytes: "[..] [..]" */
    EV_QEL_PD_INQ_TEXT,       /* one text up to its first zero byte: "\"%s\"" */
    EV_QEL_PD_INQ_TEXT_LIST,  /* nCount texts, each followed by a space: "\"%s\" " */
    EV_QEL_PD_INQ_DEC,        /* unsigned little-endian number of nWidth bytes: "%d" */
    EV_QEL_PD_INQ_DEC_SIGNED, /* signed little-endian number of nWidth bytes: "%d" */
    EV_QEL_PD_INQ_DEC_U       /* unsigned little-endian number of nWidth bytes: "%u" */
} ET_QEL_PD_INQ_PRINT;

/* One decoded field: name, where it lies and how it is printed. */
typedef struct
{
    const char* pszName; /* "printer_status.error_code" */
    uint16_t nOffset;    /* from the first data byte after the response header */
    uint16_t nWidth;     /* bytes of one element */
    uint16_t nCount;     /* elements; they follow each other without gaps */
    ET_QEL_PD_INQ_PRINT ePrint;
} TS_QEL_PD_INQ_FIELD;

/* One kind of data the printer can be asked for. */
typedef struct
{
    int iBit;              /* bit of the inquiry code; the mask is 1 << iBit */
    const char* pszRecord; /* "printer_status" */
    int iResponseType;     /* header byte 2 of the answer: bit + 2 */
    uint16_t nSize;        /* data bytes of the record, also header byte 3 */
    std::span<const TS_QEL_PD_INQ_FIELD> asFields;
} TS_QEL_PD_INQ_KIND;

/* Bits of the kinds, for qel_pd_inq_kind_of_bit. */
enum
{
    EV_QEL_PD_INQ_STATUS = 0,
    EV_QEL_PD_INQ_INFORMATION = 1,
    EV_QEL_PD_INQ_SENSOR = 2,
    EV_QEL_PD_INQ_FLASH = 3,
    EV_QEL_PD_INQ_FEED = 4,
    EV_QEL_PD_INQ_PRESENT = 6,
    EV_QEL_PD_INQ_LIFE = 7
};

/* The largest record (printer_flash); a buffer of this size holds any record. */
inline constexpr uint16_t QEL_PD_INQ_MAX_RECORD = 163;

/* The seven kinds in ascending bit order. */
std::span<const TS_QEL_PD_INQ_KIND> qel_pd_inq_kinds();

/* The kind of a bit (0..15), or nullptr for a bit without a kind. */
const TS_QEL_PD_INQ_KIND* qel_pd_inq_kind_of_bit(int iBit);

/* The field of a kind with the given full name ("printer_info.serial_nr"), or nullptr. */
const TS_QEL_PD_INQ_FIELD* qel_pd_inq_field(const TS_QEL_PD_INQ_KIND* psKind, const char* pszName);

/* ---- The exchange --------------------------------------------------------------------------
 */

/*
 * qel_pd_inquire_data() - one inquiry: pause 100 ms, clear, pause 100 ms, write 1D 61 n1 n2
 * (iInquiry high and low byte, 500 ms), read the header (1000 ms) which must be 1B FF iType
 * nRecord, then read nRecord bytes into pubRecord (1000 ms). Returns NULL on success, else
 * "Could not send inquiry to printer", "Did not receive data response header",
 * "Mismatch in type of received data ", "Mismatch in size of received data " or
 * "Did not receive inquired data".
 */
const char* qel_pd_inquire_data(const TS_QEL_PD_TRANSPORT* psPort, int iInquiry, int iType,
                                unsigned char* pubRecord, uint16_t nRecord);

/* qel_pd_inquire() - the inquiry of one kind into a buffer of at least psKind->nSize bytes. */
const char* qel_pd_inquire(const TS_QEL_PD_TRANSPORT* psPort, const TS_QEL_PD_INQ_KIND* psKind,
                           unsigned char* pubRecord);

/* ---- The tools' lines ----------------------------------------------------------------------
 */

/*
 * qel_pd_inq_format_raw() - the raw line of a record: "%-50.50s = %d" with the record name and
 * the mask, "[", every byte as "%2.2X", "]\n". Writes at most nOut bytes (terminated when
 * nOut > 0) and returns the length the whole line needs, like snprintf.
 */
size_t qel_pd_inq_format_raw(const TS_QEL_PD_INQ_KIND* psKind,
                             std::span<const unsigned char> ubRecord, char* pszOut, size_t nOut);

/*
 * qel_pd_inq_format_field() - one decoded line, "%-50.50s = " with the field name, the value
 * (qel_pd_inq_format_value) and "\n", of a record of at least the field's extent (a shorter
 * record gives an empty text and 0). Same buffer rules.
 */
size_t qel_pd_inq_format_field(const TS_QEL_PD_INQ_FIELD* psField,
                               std::span<const unsigned char> ubRecord, char* pszOut, size_t nOut);

/*
 * qel_pd_inq_format_value() - the value of a field as the decoded line shows it, without name
 * and line end: a decimal number, quoted texts with unprintable bytes as "\xHH", or hex groups.
 * A record shorter than the field's extent gives an empty text and 0. Same buffer rules.
 */
size_t qel_pd_inq_format_value(const TS_QEL_PD_INQ_FIELD* psField,
                               std::span<const unsigned char> ubRecord, char* pszOut, size_t nOut);

/* ---- Named values (status pages, web pages) ------------------------------------------------
 */

/* One decoded field of a record: its full name and its value text. */
typedef struct
{
    std::string sName;  /* "printer_info.serial_nr" */
    std::string sValue; /* as qel_pd_inq_format_value gives it: "\"A1B2\"", "-5", "[0102]" */
} TS_QEL_PD_FIELD_VALUE;

/*
 * qel_pd_inq_decode() - every decoded field of a record in layout order. A record shorter
 * than the kind's size gives an empty list.
 */
std::vector<TS_QEL_PD_FIELD_VALUE> qel_pd_inq_decode(const TS_QEL_PD_INQ_KIND* psKind,
                                                     std::span<const unsigned char> ubRecord);

/*
 * Typed values of the fields a status or device page needs. Each takes the record of its kind
 * and returns false when the record is shorter than the kind's size.
 *
 * The status error code and error info are two bytes each; the value is read little-endian like
 * every number of the records, so the hex group "[3412]" of the decoded line is 0x1234. An
 * error code of 0 means that the printer reports no error.
 */
bool qel_pd_status_error_code(std::span<const unsigned char> ubStatus, uint16_t* pwErrorCode);
bool qel_pd_status_error_info(std::span<const unsigned char> ubStatus, uint16_t* pwErrorInfo);
/* The four status bytes (printer_status.status) in record order. */
bool qel_pd_status_bytes(std::span<const unsigned char> ubStatus, uint8_t aubStatus[4]);

/*
 * Texts of the information record as the printer sent them, up to the first zero byte and never
 * beyond the field: bytes are not escaped, so a caller that shows them must (the decoded values
 * and qel_pd_format_text do).
 */
bool qel_pd_info_serial_nr(std::span<const unsigned char> ubInfo, std::string* psText);
bool qel_pd_info_part_nr(std::span<const unsigned char> ubInfo, std::string* psText);
bool qel_pd_info_firmware_version(std::span<const unsigned char> ubInfo, std::string* psText);
bool qel_pd_info_firmware_part_nr(std::span<const unsigned char> ubInfo, std::string* psText);
/* printer_info.model_code, its four bytes read little-endian. */
bool qel_pd_info_model_code(std::span<const unsigned char> ubInfo, uint32_t* pdwModelCode);

#endif
