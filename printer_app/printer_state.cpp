// printer_state.cpp - per-printer notes behind one mutex.
#include "printer_state.h"

#include <mutex>

namespace qel_app
{
namespace
{
std::mutex lo_mutex;
std::map<int, PrinterNotes> lo_notes;
} // namespace

PrinterNotes printer_notes(int printer_id)
{
    std::lock_guard lock(lo_mutex);
    auto it = lo_notes.find(printer_id);
    return it == lo_notes.end() ? PrinterNotes{} : it->second;
}

void set_printer_notes(int printer_id, const PrinterNotes& notes)
{
    std::lock_guard lock(lo_mutex);
    const PrinterNotes kept = lo_notes[printer_id];
    lo_notes[printer_id] = notes;
    lo_notes[printer_id].stalled = kept.stalled;
    lo_notes[printer_id].identify = kept.identify;
}

void set_printer_stalled(int printer_id, bool stalled)
{
    std::lock_guard lock(lo_mutex);
    lo_notes[printer_id].stalled = stalled;
}

} // namespace qel_app

namespace qel_app
{

void set_printer_identify(int printer_id, const std::string& message)
{
    std::lock_guard lock(lo_mutex);
    lo_notes[printer_id].identify = message;
}

} // namespace qel_app
