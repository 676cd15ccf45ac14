// auto_add.cpp - printers for the attached QEL printers at server start.
#include "auto_add.h"

#include "receipt_driver.h"

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace qel_app
{
namespace
{

struct Attached
{
    std::string info; // "QEL Receipt Printer 0002 (SN-1)": also the new printer's name
    std::string uri;
    std::string device_id;
};

bool lo_found(const char* info, const char* uri, const char* device_id, void* data)
{
    if (uri && std::string_view(uri).starts_with("qel:"))
        static_cast<std::vector<Attached>*>(data)->push_back(
            {info ? info : "", uri, device_id ? device_id : ""});
    return false; // go on listing
}

void lo_list_error(const char* message, void* data)
{
    papplLog(static_cast<pappl_system_t*>(data), PAPPL_LOGLEVEL_WARN,
             "Looking for attached printers: %s", message);
}

} // namespace

int add_attached_printers(pappl_system_t* system)
{
    std::set<std::string> in_use;
    papplSystemIteratePrinters(
        system,
        [](pappl_printer_t* printer, void* data)
        {
            if (const char* uri = papplPrinterGetDeviceURI(printer))
                static_cast<std::set<std::string>*>(data)->insert(uri);
        },
        &in_use);

    std::vector<Attached> attached;
    papplDeviceList(PAPPL_DEVTYPE_CUSTOM_LOCAL, lo_found, &attached, lo_list_error, system);

    int added = 0;
    for (const Attached& printer : attached)
    {
        if (in_use.count(printer.uri))
            continue;
        const char* driver = driver_autoadd(printer.info.c_str(), printer.uri.c_str(),
                                            printer.device_id.c_str(), nullptr);
        if (!driver)
        {
            papplLog(system, PAPPL_LOGLEVEL_INFO, "Not adding %s: unknown model (%s).",
                     printer.uri.c_str(), printer.device_id.c_str());
            continue;
        }
        if (!papplPrinterCreate(system, 0, printer.info.c_str(), driver, printer.device_id.c_str(),
                                printer.uri.c_str()))
        {
            papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unable to add printer for %s.",
                     printer.uri.c_str());
            continue;
        }
        papplLog(system, PAPPL_LOGLEVEL_INFO, "Added printer '%s' (%s) for %s.",
                 printer.info.c_str(), driver, printer.uri.c_str());
        in_use.insert(printer.uri);
        added++;
    }
    return added;
}

} // namespace qel_app
