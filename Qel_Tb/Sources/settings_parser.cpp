// settings_parser.cpp - line rules of the settings file.
#include "settings_parser.h"

#include <cstring>

namespace
{
bool lo_is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Next run of characters other than '=', skipping '=' before it; the run is
// cut at its closing '=' and *cursor moves behind that.  Null when no run.
char* lo_next_run(char** cursor)
{
    char* p = *cursor;
    while (*p == '=')
        ++p;
    if (*p == '\0')
    {
        *cursor = p;
        return nullptr;
    }
    char* run = p;
    while (*p != '\0' && *p != '=')
        ++p;
    if (*p == '=')
        *p++ = '\0';
    *cursor = p;
    return run;
}
} // namespace

char* Lo_TrimInPlace(char* s)
{
    std::size_t n = std::strlen(s);
    while (n > 0 && lo_is_space(s[n - 1]))
        --n;
    s[n] = '\0';
    std::size_t lead = 0;
    while (lead < n && lo_is_space(s[lead]))
        ++lead;
    if (lead > 0)
        std::memmove(s, s + lead, n - lead + 1);
    return s;
}

const char* Lo_ParseSettingsLine(char* line, const char* key)
{
    if (line[0] == '\n' || line[0] == '#')
        return nullptr;
    char* cursor = line;
    char* line_key = lo_next_run(&cursor);
    if (line_key == nullptr)
        return nullptr;
    char* line_value = lo_next_run(&cursor);
    if (line_value == nullptr)
        return nullptr;
    if (std::strcmp(Lo_TrimInPlace(line_key), key) != 0)
        return nullptr;
    return Lo_TrimInPlace(line_value);
}
