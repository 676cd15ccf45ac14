// Fuzz target: the device URIs of the CUPS backend and the printer
// application.  Any text either parses or is refused with a reason; a URI
// that parses is made again from its parts (by serial number or by path) and
// that URI parses to the same printer.  Percent-encoding leaves only the
// plain URI characters.
//
// Input: the URI text as it stands.
#include "fuzz_check.h"

#include "device_uri.h"

#include <string>
#include <string_view>

namespace
{

bool lo_same_printer(const qel::DeviceUri& a, const qel::DeviceUri& b)
{
    return a.kind == b.kind && a.model == b.model && a.serial_number == b.serial_number &&
           a.path == b.path && a.bus == b.bus && a.address == b.address && a.baud == b.baud;
}

bool lo_plain_uri_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == '%';
}

// The URI the backend and the application write for this printer.
std::string lo_remade(const qel::DeviceUri& uri)
{
    switch (uri.kind)
    {
    case qel::DeviceKind::BySerialNumber:
        return qel::device_uri_for_serial(uri.model, uri.serial_number);
    case qel::DeviceKind::SerialLine:
        return qel::device_uri_for_path(uri.path, uri.baud);
    case qel::DeviceKind::UsbLpNode:
    case qel::DeviceKind::UsbDevice:
        return qel::device_uri_for_path(uri.path);
    }
    return {};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const qel::DeviceUriResult parsed = qel::parse_device_uri(text);
    if (!parsed.uri)
    {
        FUZZ_CHECK(!parsed.error.empty());
    }
    else
    {
        const qel::DeviceUri& uri = *parsed.uri;
        FUZZ_CHECK(parsed.error.empty());
        switch (uri.kind)
        {
        case qel::DeviceKind::BySerialNumber:
            FUZZ_CHECK(!uri.model.empty() && !uri.serial_number.empty());
            FUZZ_CHECK(uri.path.empty());
            break;
        case qel::DeviceKind::UsbDevice:
            FUZZ_CHECK(uri.bus >= 1 && uri.bus <= 255 && uri.address >= 1 && uri.address <= 127);
            [[fallthrough]];
        case qel::DeviceKind::UsbLpNode:
            FUZZ_CHECK(uri.path.rfind("/dev/", 0) == 0);
            break;
        case qel::DeviceKind::SerialLine:
            FUZZ_CHECK(uri.path.rfind("/dev/", 0) == 0);
            FUZZ_CHECK(qel::device_uri_baud_supported(uri.baud));
            break;
        }
        const std::string remade = lo_remade(uri);
        const qel::DeviceUriResult again = qel::parse_device_uri(remade);
        FUZZ_CHECK(again.uri.has_value());
        FUZZ_CHECK(lo_same_printer(uri, *again.uri));
        // Made once more, the URI is the same text.
        FUZZ_CHECK(lo_remade(*again.uri) == remade);
    }

    const std::string encoded = qel::uri_percent_encode(text);
    FUZZ_CHECK(encoded.size() >= size && encoded.size() <= 3 * size);
    for (const char c : encoded)
        FUZZ_CHECK(lo_plain_uri_char(c));
    return 0;
}
