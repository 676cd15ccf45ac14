// Inquiry kinds of the printer and the layouts of their records, with the pure line formatters.
#ifndef QEL_INQUIRY_RECORDS_H
#define QEL_INQUIRY_RECORDS_H

#include <cstddef>
#include <cstdint>
#include <span>

/* How one field of a record is printed after "%-50.50s = ". */
typedef enum
{
    EV_QEL_INQ_HEX,        /* nCount groups of nWidth bytes: "[..] [..]" */
    EV_QEL_INQ_TEXT,       /* one text up to its first zero byte: "\"%s\"" */
    EV_QEL_INQ_TEXT_LIST,  /* nCount texts, each followed by a space: "\"%s\" " */
    EV_QEL_INQ_DEC,        /* unsigned little-endian number of nWidth bytes: "%d" */
    EV_QEL_INQ_DEC_SIGNED, /* signed little-endian number of nWidth bytes: "%d" */
    EV_QEL_INQ_DEC_U       /* unsigned little-endian number of nWidth bytes: "%u" */
} ET_QEL_INQ_PRINT;

/* One decoded field: name, where it lies and how it is printed. */
typedef struct
{
    const char* pszName;
    uint16_t nOffset; /* from the first data byte after the response header */
    uint16_t nWidth;  /* bytes of one element */
    uint16_t nCount;  /* elements; they follow each other without gaps */
    ET_QEL_INQ_PRINT ePrint;
} TS_QEL_INQ_FIELD;

/* One kind of data the printer can be asked for. */
typedef struct
{
    int iBit;              /* bit of the inquiry code; the mask is 1 << iBit */
    const char* pszRecord; /* "printer_status" */
    int iResponseType;     /* header byte 2 of the answer: bit + 2 */
    uint16_t nSize;        /* data bytes of the record, also header byte 3 */
    std::span<const TS_QEL_INQ_FIELD> asFields;
} TS_QEL_INQ_KIND;

/* The seven kinds in ascending bit order. */
std::span<const TS_QEL_INQ_KIND> qel_inq_kinds();

/* The kind of a bit (0..15), or nullptr for a bit without a kind. */
const TS_QEL_INQ_KIND* qel_inq_kind_of_bit(int iBit);

/*
 * qel_inq_format_raw() - the raw line of a record: "%-50.50s = %d" with the record name and the
 * mask, "[", every byte as "%2.2X", "]\n". Writes at most nOut bytes (terminated when nOut > 0)
 * and returns the length the whole line needs, like snprintf.
 */
size_t qel_inq_format_raw(const TS_QEL_INQ_KIND* psKind, std::span<const unsigned char> ubRecord,
                          char* pszOut, size_t nOut);

/*
 * qel_inq_format_field() - one decoded line, "\n" included, of a field of a record of at least
 * the field's extent (a shorter record gives an empty line text and 0). Same buffer rules.
 */
size_t qel_inq_format_field(const TS_QEL_INQ_FIELD* psField,
                            std::span<const unsigned char> ubRecord, char* pszOut, size_t nOut);

#endif
