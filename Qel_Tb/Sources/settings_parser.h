// settings_parser.h - line rules of the settings file, free of any I/O.
#ifndef QEL_TB_SETTINGS_PARSER_H
#define QEL_TB_SETTINGS_PARSER_H

// A read line holds up to 255 characters; longer lines come in pieces.
constexpr int LO_SETTINGS_LINE_SIZE = 256;

// Trims space, tab, LF, VT, FF and CR at both ends of s in place.
char* Lo_TrimInPlace(char* s);

// Splits one read line (modified in place) into key and value.  Returns the
// trimmed value when the line is a pair whose trimmed key equals key, else
// null (comment, blank, no '=', nothing after '=', another key).
const char* Lo_ParseSettingsLine(char* line, const char* key);

#endif
