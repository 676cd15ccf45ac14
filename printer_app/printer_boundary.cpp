// printer_boundary.cpp - each printer's command boundary, kept in a file per printer.
#include "printer_boundary.h"

#include "device_uri.h"
#include "port.h"

#include <mutex>

namespace qel_app
{
namespace
{

std::mutex lo_mutex;
std::string lo_dir;

std::string lo_directory()
{
    std::lock_guard<std::mutex> lock(lo_mutex);
    return lo_dir;
}

} // namespace

void set_boundary_directory(const std::string& dir)
{
    std::lock_guard<std::mutex> lock(lo_mutex);
    lo_dir = dir;
}

std::string boundary_key(const std::string& device_uri)
{
    const qel::DeviceUriResult parsed = qel::parse_device_uri(device_uri);
    if (!parsed.uri)
        return {};
    const qel::DeviceUri& uri = *parsed.uri;
    return uri.kind == qel::DeviceKind::BySerialNumber
               ? qel::BoundaryStore::serial_key(uri.serial_number)
               : qel::BoundaryStore::port_key(uri.path);
}

PrinterBoundary::PrinterBoundary(pappl_printer_t* printer) : printer_(printer)
{
    const char* uri = papplPrinterGetDeviceURI(printer);
    const std::string key = boundary_key(uri ? uri : "");
    const std::string dir = lo_directory();
    if (key.empty() || dir.empty())
        return;
    store_ = std::make_unique<qel::BoundaryStore>(key, dir);
    std::string note;
    state_ = store_->load(&note);
    if (!note.empty())
        papplLogPrinter(printer, PAPPL_LOGLEVEL_WARN, "Command boundary record: %s", note.c_str());
}

void PrinterBoundary::feed(std::span<const uint8_t> bytes)
{
    qel::boundary_feed(state_, bytes);
    if (store_)
        store_->save(state_);
}

bool PrinterBoundary::finish_open_command(qel::Port& port, unsigned long timeout_ms)
{
    const std::vector<uint8_t> filler = qel::boundary_filler(state_);
    if (filler.empty())
        return true;
    papplLogPrinter(printer_, PAPPL_LOGLEVEL_INFO,
                    "The printer was left %s: finishing it with %u bytes.",
                    qel::describe_boundary(state_).c_str(), static_cast<unsigned>(filler.size()));
    const int written = port.write(filler.data(), static_cast<int>(filler.size()), timeout_ms);
    if (written > 0)
        feed(std::span<const uint8_t>(filler.data(), static_cast<size_t>(written)));
    return written == static_cast<int>(filler.size());
}

} // namespace qel_app
