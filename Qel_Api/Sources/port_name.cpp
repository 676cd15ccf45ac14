// port_name.cpp - what a port name says: the kind of port and the USB bus and device.
#include "api_internal.h"

#include <array>
#include <climits>
#include <cstring>
#include <utility>

namespace
{
// The printer family's vendor and its eight product identifiers.
constexpr std::uint16_t kVendor = 0x5E2D;
constexpr std::array<std::uint16_t, 8> kProducts = {0x0002, 0x0010, 0x0011, 0x0012,
                                                    0x0013, 0x0014, 0x0015, 0x0016};

bool lo_contains(const char* text, const char* marker)
{
    return std::strstr(text, marker) != nullptr;
}

/*
 * lo_read_decimal - value of the leading decimal digits of [begin, end), 0 when
 * there are none; saturates instead of overflowing.
 */
long lo_read_decimal(const char* begin, const char* end)
{
    long value = 0;
    for (const char* p = begin; p < end && *p >= '0' && *p <= '9'; ++p)
    {
        const int digit = *p - '0';
        if (value > (LONG_MAX - digit) / 10)
        {
            return LONG_MAX;
        }
        value = value * 10 + digit;
    }
    return value;
}
} // namespace

int api_port_kind(const char* port, int previous_kind)
{
    if (port == nullptr)
    {
        return previous_kind;
    }
    if (lo_contains(port, "/dev/usb/lp") || lo_contains(port, "Ttys"))
    {
        return kKindCharDevice;
    }
    if (lo_contains(port, "/dev/bus/usb/"))
    {
        return kKindUsb;
    }
    return previous_kind;
}

bool api_port_is_serial(const char* port)
{
    return port != nullptr && lo_contains(port, "Ttys");
}

/*
 * api_parse_usb_name - bus and device number of "/dev/bus/usb/BBB/DDD".
 *
 *   port    I  the name (not changed)
 *   bus     O  the fourth piece between "/" characters
 *   device  O  the fifth piece
 *
 * Returns false, writing nothing, when the name has fewer than five pieces.
 */
bool api_parse_usb_name(const char* port, long* bus, long* device)
{
    if (port == nullptr || bus == nullptr || device == nullptr)
    {
        return false;
    }
    std::array<std::pair<const char*, const char*>, 5> pieces{};
    std::size_t found = 0;
    const char* p = port;
    while (*p != '\0' && found < pieces.size())
    {
        if (*p == '/')
        {
            ++p;
            continue;
        }
        const char* start = p;
        while (*p != '\0' && *p != '/')
        {
            ++p;
        }
        pieces[found++] = {start, p};
    }
    if (found < pieces.size())
    {
        return false;
    }
    *bus = lo_read_decimal(pieces[3].first, pieces[3].second);
    *device = lo_read_decimal(pieces[4].first, pieces[4].second);
    return true;
}

bool api_is_supported_model(std::uint16_t vendor, std::uint16_t product)
{
    if (vendor != kVendor)
    {
        return false;
    }
    for (const std::uint16_t supported : kProducts)
    {
        if (product == supported)
        {
            return true;
        }
    }
    return false;
}
