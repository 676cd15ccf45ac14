// tool_output.cpp - banner masking and hex digits.
#include "tool_output.h"

#include <cstdio>
#include <sstream>

namespace test_support
{
namespace
{
const std::string k_head = "# Dornwaldt - ";
const std::string k_version = " - Version R4-V1.04-BETA - ";

// "Feb  6 2021 - 16:49:30": the compiler's date and time forms, joined as in the banner.
bool is_build_moment(const std::string& text)
{
    static const std::string k_months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    static const std::string k_shape = "Mmm Dd YYYY - hh:mm:ss";
    if (text.size() != k_shape.size())
        return false;
    const std::size_t month = k_months.find(text.substr(0, 3));
    if (month == std::string::npos || month % 3 != 0)
        return false;
    for (std::size_t i = 3; i < k_shape.size(); i++)
    {
        const char c = text[i];
        const bool digit = c >= '0' && c <= '9';
        switch (k_shape[i])
        {
        case 'D':
            if (!(c == ' ' || (c >= '1' && c <= '3')))
                return false;
            break;
        case 'd':
        case 'Y':
        case 'h':
        case 'm':
        case 's':
            if (!digit)
                return false;
            break;
        default:
            if (c != k_shape[i])
                return false;
        }
    }
    return true;
}
} // namespace

std::string mask_build_moment(const std::string& out)
{
    std::string masked;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
    {
        const std::size_t at = line.find(k_version);
        if (line.rfind(k_head, 0) == 0 && at != std::string::npos &&
            is_build_moment(line.substr(at + k_version.size())))
            line = line.substr(0, at + k_version.size()) + "@DATE@ - @TIME@";
        masked += line;
        if (!lines.eof())
            masked += '\n';
    }
    return masked;
}

std::string mask_banner(const std::string& out, const std::string& tool)
{
    const std::string prefix = k_head + tool + k_version;
    const std::size_t at = out.find(prefix);
    if (at == std::string::npos || (at > 0 && out[at - 1] != '\n'))
        return out;
    const std::size_t end = out.find('\n', at);
    const std::size_t moment = at + prefix.size();
    if (end == std::string::npos || !is_build_moment(out.substr(moment, end - moment)))
        return out;
    return out.substr(0, at) + "# <banner>\n" + out.substr(end + 1);
}

std::string hex(const unsigned char* bytes, std::size_t n)
{
    std::string s;
    char two[3];
    for (std::size_t i = 0; i < n; ++i)
    {
        std::snprintf(two, sizeof two, "%2.2X", bytes[i]);
        s += two;
    }
    return s;
}

} // namespace test_support
