// Hexadecimal groups and safe printer texts, for buffers and for streams.
#include "printer_text.h"

#include "hex_digits.h"

#include <cstring>

namespace
{

bool lo_is_plain(unsigned char ub)
{
    return ub >= 0x20 && ub <= 0x7E;
}

} // namespace

void qel_pd_text_put(TS_QEL_PD_TEXT* psText, const char* pszPart, size_t nPart)
{
    if (psText->nLength + 1 < psText->nOut)
    {
        size_t nRoom = psText->nOut - psText->nLength - 1;
        std::memcpy(psText->pszOut + psText->nLength, pszPart, nPart < nRoom ? nPart : nRoom);
    }
    psText->nLength += nPart;
}

void qel_pd_text_puts(TS_QEL_PD_TEXT* psText, const char* pszPart)
{
    qel_pd_text_put(psText, pszPart, std::strlen(pszPart));
}

void qel_pd_text_putc(TS_QEL_PD_TEXT* psText, char c)
{
    qel_pd_text_put(psText, &c, 1);
}

size_t qel_pd_text_end(TS_QEL_PD_TEXT* psText)
{
    if (psText->nOut > 0)
        psText->pszOut[psText->nLength < psText->nOut ? psText->nLength : psText->nOut - 1] = '\0';
    return psText->nLength;
}

void qel_pd_text_hex_groups(TS_QEL_PD_TEXT* psText, const unsigned char* pubData,
                            size_t nGroupBytes, size_t nGroups, size_t nStride)
{
    for (size_t g = 0; g < nGroups; g++)
    {
        qel_pd_text_puts(psText, g > 0 ? " [" : "[");
        const unsigned char* pub = pubData + g * nStride;
        for (size_t i = 0; i < nGroupBytes; i++)
        {
            const char acByte[2] = {Lo_HexChar(pub[i] >> 4), Lo_HexChar(pub[i])};
            qel_pd_text_put(psText, acByte, 2);
        }
        qel_pd_text_putc(psText, ']');
    }
}

size_t qel_pd_format_hex_groups(char* pszOut, size_t nOut, const unsigned char* pubData,
                                size_t nGroupBytes, size_t nGroups, size_t nStride)
{
    TS_QEL_PD_TEXT sText{pszOut, nOut, 0};
    qel_pd_text_hex_groups(&sText, pubData, nGroupBytes, nGroups, nStride);
    return qel_pd_text_end(&sText);
}

void qel_pd_put_hex_groups(FILE* psOut, const unsigned char* pubData, size_t nGroupBytes,
                           size_t nGroups, size_t nStride)
{
    for (size_t g = 0; g < nGroups; g++)
    {
        std::fputs(g > 0 ? " [" : "[", psOut);
        const unsigned char* pub = pubData + g * nStride;
        for (size_t i = 0; i < nGroupBytes; i++)
        {
            std::fputc(Lo_HexChar(pub[i] >> 4), psOut);
            std::fputc(Lo_HexChar(pub[i]), psOut);
        }
        std::fputc(']', psOut);
    }
}

void qel_pd_text_escaped(TS_QEL_PD_TEXT* psText, const unsigned char* pubText, size_t nText)
{
    for (size_t i = 0; i < nText; i++)
    {
        const unsigned char ub = pubText[i];
        if (lo_is_plain(ub))
        {
            qel_pd_text_putc(psText, static_cast<char>(ub));
            continue;
        }
        const char acEscape[4] = {'\\', 'x', Lo_HexChar(ub >> 4), Lo_HexChar(ub)};
        qel_pd_text_put(psText, acEscape, 4);
    }
}

size_t qel_pd_format_text(char* pszOut, size_t nOut, const unsigned char* pubText, size_t nText)
{
    TS_QEL_PD_TEXT sText{pszOut, nOut, 0};
    qel_pd_text_escaped(&sText, pubText, nText);
    return qel_pd_text_end(&sText);
}

void qel_pd_put_text(FILE* psOut, const unsigned char* pubText, size_t nText)
{
    for (size_t i = 0; i < nText; i++)
    {
        if (lo_is_plain(pubText[i]))
            std::fputc(pubText[i], psOut);
        else
            std::fprintf(psOut, "\\x%2.2X", pubText[i]);
    }
}

size_t qel_pd_text_length(const unsigned char* pubField, size_t nWidth)
{
    const void* pvZero = std::memchr(pubField, 0, nWidth);
    return pvZero != nullptr
               ? static_cast<size_t>(static_cast<const unsigned char*>(pvZero) - pubField)
               : nWidth;
}
