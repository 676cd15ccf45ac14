// device_uri.cpp - parsing and making the kit's "qel" device URIs.
#include "device_uri.h"
#include "hex_digits.h"

#include <array>
#include <charconv>

namespace qel
{
namespace
{
constexpr std::string_view lo_scheme = "qel:";
constexpr std::string_view lo_serial_host = "//QEL/";
constexpr std::array<unsigned long, 9> lo_bauds = {1200,  2400,  4800,   9600,  19200,
                                                   38400, 57600, 115200, 230400};
// Longest serial number accepted; the printer's information record holds far
// fewer characters.
constexpr size_t lo_max_serial = 64;

// Decodes %XX escapes; false for a broken escape or a decoded byte outside
// printable ASCII (a serial number or model never holds one).
bool lo_percent_decode(std::string_view in, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < in.size(); ++i)
    {
        char c = in[i];
        if (c == '%')
        {
            if (i + 2 >= in.size())
                return false;
            const int hi = Lo_HexDigit(in[i + 1]);
            const int lo = Lo_HexDigit(in[i + 2]);
            if (hi < 0 || lo < 0)
                return false;
            c = static_cast<char>(hi * 16 + lo);
            i += 2;
        }
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            return false;
        out.push_back(c);
    }
    return true;
}

bool lo_parse_unsigned(std::string_view text, unsigned long& value)
{
    if (text.empty())
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// A node path: absolute, under /dev/, plain characters, no "." or ".." piece.
bool lo_plain_device_path(std::string_view path)
{
    if (path.substr(0, 5) != "/dev/" || path.size() == 5 || path.back() == '/')
        return false;
    for (const char c : path)
    {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '/' || c == '_' || c == '-' || c == '.';
        if (!plain)
            return false;
    }
    for (const std::string_view piece : uri_pieces(path.substr(1), '/'))
        if (piece.empty() || piece == "." || piece == "..")
            return false;
    return true;
}

DeviceUriResult lo_fail(std::string why)
{
    return DeviceUriResult{std::nullopt, std::move(why)};
}

DeviceUriResult lo_parse_serial_number_form(std::string_view rest)
{
    // rest: "MODEL?serial=SN"
    const size_t query = rest.find('?');
    if (query == std::string_view::npos)
        return lo_fail("the URI names no serial number (\"?serial=\" is missing)");
    DeviceUri uri;
    if (!lo_percent_decode(rest.substr(0, query), uri.model) || uri.model.empty())
        return lo_fail("the model part of the URI is empty or not printable text");
    const std::string_view parameter = rest.substr(query + 1);
    constexpr std::string_view key = "serial=";
    if (parameter.substr(0, key.size()) != key)
        return lo_fail("the URI's only parameter must be \"serial=\"");
    if (!lo_percent_decode(parameter.substr(key.size()), uri.serial_number) ||
        uri.serial_number.empty() || uri.serial_number.size() > lo_max_serial)
        return lo_fail("the serial number in the URI is empty, too long or not printable text");
    uri.kind = DeviceKind::BySerialNumber;
    return DeviceUriResult{uri, {}};
}

DeviceUriResult lo_parse_path_form(std::string_view rest)
{
    DeviceUri uri;
    std::string_view path = rest;
    std::string_view parameter;
    if (const size_t query = rest.find('?'); query != std::string_view::npos)
    {
        path = rest.substr(0, query);
        parameter = rest.substr(query + 1);
    }
    if (!lo_plain_device_path(path))
        return lo_fail("the device path must be a plain path under /dev/");
    uri.path = std::string(path);
    if (path.substr(0, 13) == "/dev/bus/usb/")
    {
        unsigned long bus = 0, address = 0;
        const std::string_view numbers = path.substr(13);
        const size_t slash = numbers.find('/');
        if (slash == std::string_view::npos || !lo_parse_unsigned(numbers.substr(0, slash), bus) ||
            !lo_parse_unsigned(numbers.substr(slash + 1), address) || bus == 0 || bus > 255 ||
            address == 0 || address > 127)
            return lo_fail("a raw USB device path is /dev/bus/usb/BBB/DDD");
        if (!parameter.empty())
            return lo_fail("a USB device URI takes no parameters");
        uri.kind = DeviceKind::UsbDevice;
        uri.bus = static_cast<unsigned>(bus);
        uri.address = static_cast<unsigned>(address);
        return DeviceUriResult{uri, {}};
    }
    if (path.substr(0, 11) == "/dev/usb/lp")
    {
        if (!parameter.empty())
            return lo_fail("a USB printer node URI takes no parameters");
        uri.kind = DeviceKind::UsbLpNode;
        return DeviceUriResult{uri, {}};
    }
    uri.kind = DeviceKind::SerialLine;
    if (!parameter.empty())
    {
        constexpr std::string_view key = "baud=";
        unsigned long baud = 0;
        if (parameter.substr(0, key.size()) != key ||
            !lo_parse_unsigned(parameter.substr(key.size()), baud))
            return lo_fail("a serial line URI takes one parameter, \"baud=\" with a number");
        if (!device_uri_baud_supported(baud))
            return lo_fail("unsupported baud rate " + std::to_string(baud) +
                           " (1200 to 230400, standard rates)");
        uri.baud = baud;
    }
    return DeviceUriResult{uri, {}};
}
} // namespace

bool device_uri_baud_supported(unsigned long baud)
{
    for (const unsigned long rate : lo_bauds)
        if (rate == baud)
            return true;
    return false;
}

std::vector<std::string_view> uri_pieces(std::string_view text, char separator)
{
    std::vector<std::string_view> pieces;
    for (size_t start = 0;;)
    {
        const size_t end = text.find(separator, start);
        pieces.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            return pieces;
        start = end + 1;
    }
}

DeviceUriResult parse_device_uri(std::string_view text)
{
    if (text.substr(0, lo_scheme.size()) != lo_scheme)
        return lo_fail("not a qel: device URI");
    const std::string_view rest = text.substr(lo_scheme.size());
    if (rest.substr(0, lo_serial_host.size()) == lo_serial_host)
        return lo_parse_serial_number_form(rest.substr(lo_serial_host.size()));
    // "qel:///dev/..." (empty host) means the same as "qel:/dev/...".
    if (rest.substr(0, 3) == "///")
        return lo_parse_path_form(rest.substr(2));
    if (rest.substr(0, 2) == "//")
        return lo_fail("the only host of a qel: URI is \"QEL\" (a printer by serial number)");
    return lo_parse_path_form(rest);
}

std::string uri_percent_encode(std::string_view text)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text)
    {
        const unsigned char byte = static_cast<unsigned char>(c);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        if (plain)
        {
            out.push_back(c);
        }
        else
        {
            out.push_back('%');
            out.push_back(digits[byte >> 4]);
            out.push_back(digits[byte & 0x0F]);
        }
    }
    return out;
}

std::string device_uri_for_serial(std::string_view model, std::string_view serial_number)
{
    return std::string(lo_scheme) + std::string(lo_serial_host) + uri_percent_encode(model) +
           "?serial=" + uri_percent_encode(serial_number);
}

std::string device_uri_for_path(std::string_view path, unsigned long baud)
{
    std::string uri = std::string(lo_scheme) + std::string(path);
    if (baud != 0)
        uri += "?baud=" + std::to_string(baud);
    return uri;
}

} // namespace qel
