// spool_recovery.h - jobs accepted before the application stopped without ending them.
//
// PAPPL 1.3.1 keeps an accepted job's document in the spool directory until the job ends and
// writes its jobs into the state file only when the state is saved, which this application
// does only while no printer has a job (app_system.cpp). So after a crash or a kill during a
// job the state knows nothing of the jobs accepted since the last save, while their documents
// are still in the spool directory. At start-up, before the server takes jobs, the documents
// that no loaded job refers to are listed; once the server runs each is printed again as a
// new job, in the order the jobs were accepted, with the printer's defaults (the job's own
// options were never saved). A job ends by removing its document, so each document is
// printed once; one cut off by the stop is printed again whole.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace qel_app
{

// Before the server runs: lists what the spool directory holds beside the loaded jobs.
void find_leftover_documents(pappl_system_t* system, const std::string& spool_dir);
// Once the server runs: a new job for each listed document.
void resubmit_leftover_documents(pappl_system_t* system);

} // namespace qel_app
