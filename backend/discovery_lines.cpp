// discovery_lines.cpp - the device lines of the qel backend.
#include "discovery_lines.h"

namespace qel_backend
{

namespace
{
// A quoted field of a device line: quotes and backslashes are escaped.
std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text)
    {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}
} // namespace

std::string discovery_line(const qel::FoundPrinter& printer)
{
    const std::string make_and_model = "QEL " + printer.model;
    std::string info = make_and_model;
    if (!printer.serial_number.empty())
        info += " " + printer.serial_number;
    info += printer.setup.kind == qel::PortKind::Usb ? " (USB)" : " (USB printer port)";
    if (printer.busy)
        info += " (in use)";
    return "direct " + printer.uri + " " + quoted(make_and_model) + " " + quoted(info) + " " +
           quoted(printer.device_id) + " " + quoted(printer.path);
}

std::vector<std::string> discovery_lines(const std::vector<qel::FoundPrinter>& printers)
{
    std::vector<std::string> lines;
    for (const auto& printer : printers)
        lines.push_back(discovery_line(printer));
    // The scheme on its own: serial lines are entered by hand (qel:/dev/ttyS0?baud=115200).
    lines.push_back("serial qel \"Unknown\" \"QEL printer on a serial line\"");
    return lines;
}

} // namespace qel_backend
