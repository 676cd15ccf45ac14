// spool_recovery.cpp - documents of jobs that never ended, printed again at start-up.
#include "spool_recovery.h"

#include "receipt_driver.h"
#include "spool_documents.h"

#include <deque>
#include <dirent.h>
#include <mutex>
#include <set>
#include <vector>

namespace qel_app
{
namespace
{

std::mutex lo_mutex;
std::vector<SpooledDocument> lo_found;
// PAPPL 1.3.1 keeps a job's name by the pointer it was given: the names of the jobs made
// here stay for the program's life.
std::deque<std::string> lo_job_names;

} // namespace

void find_leftover_documents(pappl_system_t* system, const std::string& spool_dir)
{
    std::set<std::string> known;
    papplSystemIteratePrinters(
        system,
        [](pappl_printer_t* printer, void* data)
        {
            papplPrinterIterateActiveJobs(
                printer,
                [](pappl_job_t* job, void* paths)
                {
                    if (const char* file = papplJobGetFilename(job))
                        static_cast<std::set<std::string>*>(paths)->insert(file);
                },
                data, 1, 0);
        },
        &known);
    std::vector<std::string> names;
    if (DIR* dir = opendir(spool_dir.c_str()))
    {
        while (const dirent* entry = readdir(dir))
            names.emplace_back(entry->d_name);
        closedir(dir);
    }
    std::lock_guard<std::mutex> lock(lo_mutex);
    lo_found = leftover_documents(spool_dir, names, known);
}

void resubmit_leftover_documents(pappl_system_t* system)
{
    std::vector<SpooledDocument> found;
    {
        std::lock_guard<std::mutex> lock(lo_mutex);
        found.swap(lo_found);
    }
    for (const SpooledDocument& doc : found)
    {
        pappl_printer_t* printer = papplSystemFindPrinter(system, nullptr, doc.printer_id, nullptr);
        if (!printer)
        {
            papplLog(system, PAPPL_LOGLEVEL_WARN,
                     "Spooled document '%s' of job %d is for a printer that is no more.",
                     doc.path.c_str(), doc.job_id);
            continue;
        }
        // New jobs get numbers after the old ones: no new document can take an old one's name.
        if (papplPrinterGetNextJobID(printer) <= doc.job_id)
            papplPrinterSetNextJobID(printer, doc.job_id + 1);
        const char* name = lo_job_names.emplace_back(doc.name).c_str();
        pappl_job_t* job = papplJobCreateWithFile(printer, "qel-printer-app",
                                                  (*doc.format ? doc.format : QEL_COMMAND_FORMAT),
                                                  name, 0, nullptr, doc.path.c_str());
        if (job)
            papplLogJob(job, PAPPL_LOGLEVEL_INFO,
                        "Printing again job %d, accepted but not printed before the last stop.",
                        doc.job_id);
        else
            papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Unable to print again job %d (%s).",
                            doc.job_id, doc.path.c_str());
    }
}

} // namespace qel_app
