// app_system.cpp - the system object: state under $HOME (or the snap's data directory),
// loopback unless told otherwise, the receipt drivers, PDF and the raw command stream.
#include "app_system.h"

#include "auto_add.h"
#include "image_filters.h"
#include "job_threads.h"
#include "pdf_filter.h"
#include "printer_boundary.h"
#include "printer_data_page.h"
#include "receipt_driver.h"
#include "spool_recovery.h"
#include "status_poller.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <sys/stat.h>

namespace qel_app
{
namespace
{

std::string lo_state_file;

std::string lo_data_dir()
{
    if (const char* snap = getenv("SNAP_COMMON"); snap && *snap)
        return snap;
    if (const char* home = getenv("HOME"); home && *home)
        return home;
    return "/tmp";
}

// The printer's own command stream begins with a page command (1B F0) or sync bytes and one.
const char* lo_mime_detect(const unsigned char* header, size_t size, void* /*data*/)
{
    size_t i = 0;
    while (i < size && header[i] == 0x00)
        i++;
    if (i + 1 < size && header[i] == 0x1B && header[i + 1] == 0xF0)
        return QEL_COMMAND_FORMAT;
    return nullptr;
}

// One active job per printer: a further job gets server-error-busy and the client sends it
// again (as it must for PWG raster anyway, which PAPPL streams to the printer and refuses while
// another job prints). PAPPL 1.3.1 lets a multi-queue system queue any number of jobs, but its
// check for a job to start reads the printer's current job without the printer's lock and the
// job is marked as printing only by the thread it starts: a job ending, a streamed raster job
// or a status exchange ending while another job is submitted starts a waiting job twice, on two
// threads over one device. One active job makes that rarer but cannot rule it out (a finished
// job leaves the list before its thread's last check); job_threads.cpp does.
void lo_printer_setup(pappl_printer_t* printer)
{
    add_printer_data_link(printer);
    set_paper_supply(printer);
    papplPrinterSetMaxActiveJobs(printer, 1);
}

void lo_printer_created(pappl_printer_t* printer, void* /*data*/)
{
    lo_printer_setup(printer);
}

// PAPPL refuses a streamed raster job that comes while its printer prints by taking the
// printer's lock and then the system's, while saving the state takes the system's and then
// each printer's: a save that overlaps such a refusal waits for ever, and with it every client.
// The state is therefore written only while no printer has a job (no refusal can happen), and
// always at shutdown; a save put off is made at the next change, the end of the last job.
// Printers are looked at one by one without the system's lock held.
bool lo_all_printers_idle(pappl_system_t* system)
{
    std::vector<int> ids;
    papplSystemIteratePrinters(
        system,
        [](pappl_printer_t* printer, void* data)
        { static_cast<std::vector<int>*>(data)->push_back(papplPrinterGetID(printer)); },
        &ids);
    for (int id : ids)
    {
        pappl_printer_t* printer = papplSystemFindPrinter(system, nullptr, id, nullptr);
        if (printer && (papplPrinterGetNumberOfActiveJobs(printer) > 0 ||
                        papplPrinterGetState(printer) == IPP_PSTATE_PROCESSING))
            return false;
    }
    return true;
}

bool lo_save_state(pappl_system_t* system, void* data)
{
    if (papplSystemIsRunning(system) && !lo_all_printers_idle(system))
        return false;
    return papplSystemSaveState(system, static_cast<const char*>(data));
}

pappl_loglevel_t lo_log_level(const char* value)
{
    if (!value)
        return PAPPL_LOGLEVEL_INFO;
    if (!strcmp(value, "debug"))
        return PAPPL_LOGLEVEL_DEBUG;
    if (!strcmp(value, "warn"))
        return PAPPL_LOGLEVEL_WARN;
    if (!strcmp(value, "error"))
        return PAPPL_LOGLEVEL_ERROR;
    if (!strcmp(value, "fatal"))
        return PAPPL_LOGLEVEL_FATAL;
    return PAPPL_LOGLEVEL_INFO;
}

} // namespace

pappl_system_t* create_system(int num_options, cups_option_t* options, void* /*data*/)
{
    const std::string dir = lo_data_dir();
    const bool in_snap = getenv("SNAP_COMMON") && *getenv("SNAP_COMMON");
    lo_state_file = dir + (in_snap ? "/qel-printer-app.conf" : "/.qel-printer-app.conf");

    std::string spool;
    if (const char* value = cupsGetOption("spool-directory", num_options, options))
        spool = value;
    else
    {
        spool = dir + (in_snap ? "/qel-printer-app.d" : "/.qel-printer-app.d");
        mkdir(spool.c_str(), 0700);
    }
    set_boundary_directory(dir +
                           (in_snap ? "/qel-printer-app.boundary" : "/.qel-printer-app.boundary"));
    const char* log_file = cupsGetOption("log-file", num_options, options);
    int port = 0;
    if (const char* value = cupsGetOption("server-port", num_options, options))
    {
        char* end = nullptr;
        const long parsed = strtol(value, &end, 10);
        if (!end || *end || parsed < 0 || parsed > 65535)
        {
            fprintf(stderr, "%s: Bad 'server-port' value.\n", APP_NAME);
            return nullptr;
        }
        port = static_cast<int>(parsed);
    }

    const pappl_soptions_t soptions =
        static_cast<pappl_soptions_t>(PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE |
                                      PAPPL_SOPTIONS_WEB_LOG | PAPPL_SOPTIONS_WEB_SECURITY);
    pappl_system_t* system =
        papplSystemCreate(soptions, APP_NAME, port, "_print,_universal", spool.c_str(), log_file,
                          lo_log_level(cupsGetOption("log-level", num_options, options)),
                          cupsGetOption("auth-service", num_options, options), false);
    if (!system)
        return nullptr;
    if (const char* group = cupsGetOption("admin-group", num_options, options))
        papplSystemSetAdminGroup(system, group);

    // Loopback (and the domain socket the main loop adds) unless told otherwise.
    const char* listen = cupsGetOption("listen-hostname", num_options, options);
    if (!papplSystemAddListeners(system, listen ? listen : "localhost"))
    {
        papplSystemDelete(system);
        return nullptr;
    }
    if (const char* name = cupsGetOption("server-name", num_options, options))
        papplSystemSetHostName(system, name);

    pappl_pr_driver_t* drivers = nullptr;
    const int num_drivers = driver_list(&drivers);
    papplSystemSetPrinterDrivers(system, num_drivers, drivers, driver_autoadd, lo_printer_created,
                                 driver_setup, nullptr);
    papplSystemAddMIMEFilter(system, "application/pdf", "image/pwg-raster", pdf_filter, nullptr);
    papplSystemAddMIMEFilter(system, "image/png", QEL_COMMAND_FORMAT, png_filter, nullptr);
    papplSystemAddMIMEFilter(system, "image/jpeg", QEL_COMMAND_FORMAT, jpeg_filter, nullptr);
    papplSystemSetMIMECallback(system, lo_mime_detect, nullptr);
    register_printer_data_page(system);

    if (!job_start_guard_active())
        papplLog(system, PAPPL_LOGLEVEL_WARN,
                 "This libpappl has no _papplJobProcess: a job may be started twice when "
                 "clients submit at once.");
    papplSystemLoadState(system, lo_state_file.c_str());
    papplSystemSetSaveCallback(system, lo_save_state, const_cast<char*>(lo_state_file.c_str()));
    find_leftover_documents(system, spool);
    papplSystemIteratePrinters(
        system, [](pappl_printer_t* printer, void*) { lo_printer_setup(printer); }, nullptr);
    // Once the server runs (sub-commands create a system too): a printer for each attached
    // QEL printer that has none and the jobs left by the last run, then the status thread.
    papplSystemAddTimerCallback(
        system, 0, 1,
        [](pappl_system_t* running, void*)
        {
            start_status_poller(running,
                                [](pappl_system_t* started)
                                {
                                    add_attached_printers(started);
                                    resubmit_leftover_documents(started);
                                });
            return false;
        },
        nullptr);
    return system;
}

} // namespace qel_app
