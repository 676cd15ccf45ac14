// status_poller.cpp - the status exchange of idle printers.
#include "status_poller.h"

#include "device_scheme.h"
#include "discovery.h"
#include "inquiry_records.h"
#include "port.h"
#include "printer_boundary.h"
#include "printer_state.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace qel_app
{
namespace
{

constexpr int lo_interval_s = 3;
std::atomic<bool> lo_running{false};
std::thread lo_thread;

// Runs while PAPPL's system lock is held, which keeps the system and its printers from being
// deleted at shutdown while an exchange is under way.
void lo_poll_one(pappl_printer_t* printer, void* /*data*/)
{
    if (!lo_running)
        return;
    poll_printer_status(printer);
}

} // namespace

void poll_printer_status(pappl_printer_t* printer)
{
    const int id = papplPrinterGetID(printer);
    PrinterNotes notes = printer_notes(id);
    // PAPPL keeps the device open from one queued job to the next and replaces its record of
    // the open device when it is opened for status: no status exchange while jobs wait.
    if (papplPrinterGetState(printer) == IPP_PSTATE_PROCESSING ||
        papplPrinterGetNumberOfActiveJobs(printer) > 0)
        return;
    pappl_device_t* device = papplPrinterOpenDevice(printer);
    if (!device)
    {
        // In use by a job, or not there at all.
        if (papplPrinterGetState(printer) == IPP_PSTATE_PROCESSING)
            return;
        notes.polled = true;
        notes.answered = false;
        notes.status_message = "The printer is not connected.";
    }
    else
    {
        qel::Port* port = device_port(device);
        const TS_QEL_PD_INQ_KIND* kind = qel_pd_inq_kind_of_bit(EV_QEL_PD_INQ_STATUS);
        unsigned char record[QEL_PD_INQ_MAX_RECORD] = {};
        const char* failure = "not a printer port";
        if (port && !PrinterBoundary(printer).finish_open_command(*port, 1000))
            failure = "the command left open by the last job could not be finished";
        else if (port && kind)
        {
            const TS_QEL_PD_TRANSPORT transport = qel::port_transport(*port);
            failure = qel_pd_inquire(&transport, kind, record);
        }
        papplPrinterCloseDevice(printer);
        notes.polled = true;
        notes.answered = failure == nullptr;
        if (failure)
            notes.status_message = std::string("The printer does not answer (") + failure + ").";
        else
        {
            uint16_t code = 0;
            qel_pd_status_error_code(std::span<const unsigned char>(record, kind->nSize), &code);
            notes.error_code = code;
            char text[96];
            if (code)
                std::snprintf(text, sizeof text, "The printer reports error code 0x%04X.", code);
            else
                std::snprintf(text, sizeof text, "Ready.");
            notes.status_message = text;
        }
    }
    notes.last_poll = time(nullptr);
    set_printer_notes(id, notes);

    pappl_preason_t add = PAPPL_PREASON_NONE, remove = PAPPL_PREASON_NONE;
    if (!notes.answered)
        add = PAPPL_PREASON_OFFLINE;
    else
        remove = PAPPL_PREASON_OFFLINE;
    if (notes.answered && notes.error_code)
        add = static_cast<pappl_preason_t>(add | PAPPL_PREASON_OTHER);
    else if (notes.answered && !printer_notes(id).stalled)
        remove = static_cast<pappl_preason_t>(remove | PAPPL_PREASON_OTHER);
    const pappl_preason_t now = papplPrinterGetReasons(printer);
    if ((now & add) != add || (now & remove))
    {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "%s", notes.status_message.c_str());
        papplPrinterSetReasons(printer, add, remove);
    }
}

void start_status_poller(pappl_system_t* system, void (*first)(pappl_system_t*))
{
    lo_running = true;
    lo_thread = std::thread(
        [system, first]
        {
            if (first)
                first(system);
            while (lo_running)
            {
                papplSystemIteratePrinters(system, lo_poll_one, nullptr);
                for (int i = 0; i < lo_interval_s * 10 && lo_running; i++)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
}

void stop_status_poller()
{
    lo_running = false;
    if (lo_thread.joinable())
        lo_thread.join();
}

} // namespace qel_app
