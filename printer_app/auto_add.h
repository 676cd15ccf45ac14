// auto_add.h - printers for the QEL printers attached when the server starts.
//
// Every printer the "qel" scheme lists (USB printers by serial number, usblp nodes) that no
// printer of the system prints to yet gets one, with the driver of its model; a printer whose
// model is unknown is left for the user to add.
#pragma once

#include <pappl/pappl.h>

namespace qel_app
{

// Adds the printers; returns how many were added.
int add_attached_printers(pappl_system_t* system);

} // namespace qel_app
