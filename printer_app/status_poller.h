// status_poller.h - the printers' status, asked for while they are idle.
//
// PAPPL 1.3.1 asks a driver for status only while a client reads the printer's attributes, so
// a thread of the application asks every idle printer in turn, at most once every few seconds
// each: no answer sets "offline" (PAPPL 1.3.1 has no "offline-report"), a non-zero error code
// of the status record sets "other" and the code goes to the printer's notes; an answer
// clears both. Codes are shown as the printer sent them: their meaning is the printer's.
#pragma once

#include <pappl/pappl.h>

namespace qel_app
{

// FIRST (optional) runs on the poller's thread before the first round: the system's main loop
// holds the system's lock while it runs timer callbacks, so work that adds printers cannot run
// there.
void start_status_poller(pappl_system_t* system, void (*first)(pappl_system_t*) = nullptr);
void stop_status_poller();

// One status exchange with a printer that is not printing (also the web page's refresh).
void poll_printer_status(pappl_printer_t* printer);

} // namespace qel_app
