// hex_digits.h - hexadecimal digits of coded command text and of the tools' data lines.
// Header only and not installed: the toolbox's coder and the kit's printer-data code read and
// write the same digits, and nothing of it leaves the shared library.
#ifndef QEL_TB_HEX_DIGITS_H
#define QEL_TB_HEX_DIGITS_H

// Value of one hexadecimal digit ("0"-"9", "A"-"F", "a"-"f"), -1 for any other character.
constexpr int Lo_HexDigit(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Upper-case digit of the low four bits of a value.
constexpr char Lo_HexChar(unsigned value)
{
    return "0123456789ABCDEF"[value & 0x0Fu];
}

#endif
