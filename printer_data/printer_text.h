// Texts made from printer data: hexadecimal groups and printer texts made safe for a terminal
// or a web page, written into caller-supplied buffers or onto a stream.
#ifndef QEL_PD_PRINTER_TEXT_H
#define QEL_PD_PRINTER_TEXT_H

#include <cstddef>
#include <cstdio>

/*
 * A bounded text buffer that counts the full length of what was put into it, like snprintf:
 * at most nOut - 1 characters are stored and the text is terminated by qel_pd_text_end.
 */
typedef struct
{
    char* pszOut;
    size_t nOut;
    size_t nLength; /* characters the whole text needs */
} TS_QEL_PD_TEXT;

void qel_pd_text_put(TS_QEL_PD_TEXT* psText, const char* pszPart, size_t nPart);
void qel_pd_text_puts(TS_QEL_PD_TEXT* psText, const char* pszPart);
void qel_pd_text_putc(TS_QEL_PD_TEXT* psText, char c);
/* Terminates the text (when nOut > 0) and returns the length it needs. */
size_t qel_pd_text_end(TS_QEL_PD_TEXT* psText);

/*
 * qel_pd_format_hex_groups() - "[", each byte of a group as two upper-case digits, "]", the
 * groups separated by one space; nGroups groups of nGroupBytes bytes whose starts lie nStride
 * bytes apart. Returns the length the full text needs, like snprintf.
 */
size_t qel_pd_format_hex_groups(char* pszOut, size_t nOut, const unsigned char* pubData,
                                size_t nGroupBytes, size_t nGroups, size_t nStride);
void qel_pd_text_hex_groups(TS_QEL_PD_TEXT* psText, const unsigned char* pubData,
                            size_t nGroupBytes, size_t nGroups, size_t nStride);
/* The same groups written to a stream (no flush). */
void qel_pd_put_hex_groups(FILE* psOut, const unsigned char* pubData, size_t nGroupBytes,
                           size_t nGroups, size_t nStride);

/*
 * qel_pd_format_text() - a text from the printer or a file, made safe: bytes 0x20 to 0x7E as
 * they are, every other byte (control characters, DEL, bytes above 0x7E) as "\xHH" with two
 * upper-case digits, so that no escape sequence reaches a terminal and no byte is hidden.
 * Same buffer rules and result as qel_pd_format_hex_groups.
 */
size_t qel_pd_format_text(char* pszOut, size_t nOut, const unsigned char* pubText, size_t nText);
void qel_pd_text_escaped(TS_QEL_PD_TEXT* psText, const unsigned char* pubText, size_t nText);
/* The same text written to a stream (no flush). */
void qel_pd_put_text(FILE* psOut, const unsigned char* pubText, size_t nText);

/* Length of a zero-padded text field: up to its first 0x00 byte, at most nWidth. */
size_t qel_pd_text_length(const unsigned char* pubField, size_t nWidth);

#endif
