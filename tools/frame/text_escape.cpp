// Texts that come from the printer or from a file, made safe for a terminal.
//
// A printer's identification strings and a file's info text are printed
// between the tools' own output. Printable ASCII passes unchanged; every other
// byte becomes "\xHH", so that no escape sequence (title, screen clear, cursor
// moves) reaches the terminal and no byte is hidden.
#include "tool_frame.h"

#include <cstdio>

namespace
{

bool lo_is_plain(unsigned char ub)
{
    return ub >= 0x20 && ub <= 0x7E;
}

} // namespace

size_t qel_tool_format_text(char* pszOut, size_t nOut, const unsigned char* pubText, size_t nText)
{
    static constexpr char k_acDigits[] = "0123456789ABCDEF";
    size_t nNeeded = 0;
    auto put = [&](char c)
    {
        if (nNeeded + 1 < nOut)
            pszOut[nNeeded] = c;
        nNeeded++;
    };
    for (size_t i = 0; i < nText; i++)
    {
        const unsigned char ub = pubText[i];
        if (lo_is_plain(ub))
        {
            put(static_cast<char>(ub));
            continue;
        }
        put('\\');
        put('x');
        put(k_acDigits[ub >> 4]);
        put(k_acDigits[ub & 0x0F]);
    }
    if (nOut > 0)
        pszOut[nNeeded < nOut ? nNeeded : nOut - 1] = '\0';
    return nNeeded;
}

void qel_tool_put_text(FILE* psOut, const unsigned char* pubText, size_t nText)
{
    for (size_t i = 0; i < nText; i++)
    {
        if (lo_is_plain(pubText[i]))
            std::fputc(pubText[i], psOut);
        else
            std::fprintf(psOut, "\\x%2.2X", pubText[i]);
    }
}
