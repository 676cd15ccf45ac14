// command_coder.cpp - coded command text: [hex pairs], "quoted text", \escapes, // comments.
#include "command_coder.h"

#include "hex_digits.h"

namespace
{

struct lo_decoder
{
    bool fAscii = false;     // inside a quoted string
    bool fBackslash = false; // a backslash waits for its escape character
    bool fHex = false;       // hexadecimal mode
    unsigned char bHex = 0;  // high half of a pending pair
    int nHex = 0;            // digits pending (0 or 1)
    unsigned char* out;
    std::size_t nOut = 0;

    void emit(unsigned char byte) { out[nOut++] = byte; }
    void set_hex(bool on)
    {
        fHex = on;
        nHex = 0;
    }

    void escape(unsigned char c)
    {
        switch (c)
        {
        case 'A':
        case 'a':
            set_hex(false);
            break;
        case 'X':
        case 'x':
            set_hex(true);
            break;
        case 'b':
            emit(0x08);
            break;
        case 'f':
            emit(0x0C);
            break;
        case 'n':
            emit(0x0A);
            break;
        case 'r':
            emit(0x0D);
            break;
        case 't':
            emit(0x09);
            break;
        default:
            emit(c);
            break;
        }
    }

    void hex_digit(int value)
    {
        if (nHex == 0)
        {
            bHex = static_cast<unsigned char>(value << 4);
            nHex = 1;
        }
        else
        {
            emit(static_cast<unsigned char>(bHex | value));
            nHex = 0;
        }
    }
};
} // namespace

std::size_t Lo_CmdDecode(const unsigned char* text, std::size_t n, unsigned char* raw)
{
    lo_decoder d;
    d.out = raw;
    for (std::size_t i = 0; i < n; ++i)
    {
        const unsigned char c = text[i];
        if (d.fAscii)
        {
            if (c == '"')
                d.fAscii = false;
            else
                d.emit(c);
            continue;
        }
        if (c == '/' && i + 1 < n && text[i + 1] == '/')
            break; // the rest is a comment
        if (c == ' ' || c == '\t')
            continue;
        if (d.fBackslash)
        {
            d.fBackslash = false;
            d.escape(c);
            continue;
        }
        if (c == '\\')
        {
            d.fBackslash = true;
            continue;
        }
        if (c == '"')
        {
            d.fAscii = true;
            continue;
        }
        if (d.fHex)
        {
            const int value = Lo_HexDigit(c);
            if (value >= 0)
                d.hex_digit(value);
            else
                d.set_hex(false); // the character itself is dropped
            continue;
        }
        if (c == '[')
        {
            d.set_hex(true);
            continue;
        }
        if (c >= 0x21 && c <= 0x7E)
            d.emit(c);
    }
    return d.nOut;
}

std::size_t Lo_CmdEncode(const unsigned char* raw, std::size_t n, unsigned char* coded)
{
    std::size_t k = 0;
    coded[k++] = '[';
    for (std::size_t i = 0; i < n; ++i)
    {
        if (i != 0)
            coded[k++] = ' ';
        coded[k++] = static_cast<unsigned char>(Lo_HexChar(raw[i] >> 4));
        coded[k++] = static_cast<unsigned char>(Lo_HexChar(raw[i]));
    }
    coded[k++] = ']';
    coded[k++] = '\0';
    return k;
}
