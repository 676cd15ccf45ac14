// printer_state.h - what the application knows about each printer beyond PAPPL's own state:
// the last status exchange, a stalled write, the last inquiry records (thread-safe).
#pragma once

#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace qel_app
{

struct PrinterNotes
{
    bool answered = false;      // the last status exchange got an answer
    bool polled = false;        // a status exchange has run
    unsigned error_code = 0;    // printer_status.error_code of the last answer
    std::string status_message; // what the printer's state is, in words
    bool stalled = false;       // a job's write is not moving
    std::string identify;       // the last Identify-Printer message (the printer has no display)
    time_t last_poll = 0;
};

PrinterNotes printer_notes(int printer_id);
void set_printer_notes(int printer_id, const PrinterNotes& notes);
void set_printer_stalled(int printer_id, bool stalled);
void set_printer_identify(int printer_id, const std::string& message);

} // namespace qel_app
