// printer_data_page.h - the web page "Printer data" beside PAPPL's own printer pages: the
// seven inquiry records decoded, read anew on every request, the configuration block as a
// file to keep, and a reset of the printer for an authenticated administrator.
#pragma once

#include <pappl/pappl.h>

namespace qel_app
{

inline constexpr const char* PRINTER_DATA_PATH = "/qel-printer-data";

void register_printer_data_page(pappl_system_t* system);
// The link on the printer's pages (links are not kept in the state file: added at start too).
void add_printer_data_link(pappl_printer_t* printer);

} // namespace qel_app
