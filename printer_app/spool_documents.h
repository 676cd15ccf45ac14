// spool_documents.h - the documents PAPPL 1.3.1 left in its spool directory (pure).
//
// PAPPL keeps an accepted job's document in the spool directory until the job ends, named
// "p<printer id, 5 digits>j<job id, 9 digits>-<name>.<ext>". These functions pick the ones
// that no loaded job refers to out of a directory listing (spool_recovery.h prints them).
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qel_app
{

struct SpooledDocument
{
    int printer_id = 0;
    int job_id = 0;
    std::string path; // directory + "/" + file name
    std::string name; // the job name as PAPPL put it in the file name
    // MIME media type from the extension, a string that lives as long as the program (PAPPL
    // keeps a job's format by its pointer); empty for "prn" (the printer's own command stream,
    // the only other format the application takes).
    const char* format = "";
};

// A spooled document's file name with an extension of a format the application prints;
// nullopt for anything else (job attribute files, other files).
std::optional<SpooledDocument> parse_spooled_document(const std::string& dir,
                                                      const std::string& file_name);

// The documents among FILE_NAMES that no loaded job refers to (KNOWN: their paths), by printer
// and then in the order their jobs were accepted.
std::vector<SpooledDocument> leftover_documents(const std::string& dir,
                                                const std::vector<std::string>& file_names,
                                                const std::set<std::string>& known);

} // namespace qel_app
