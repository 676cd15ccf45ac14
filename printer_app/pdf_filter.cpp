// pdf_filter.cpp - Ghostscript as a child, its PBM pages through the raster callbacks.
#include "pdf_filter.h"

#include "receipt_driver.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <string>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace qel_app
{
namespace
{

// Reads one number of a PBM header, skipping blanks and comments.
bool lo_pbm_number(FILE* in, unsigned* value)
{
    int c = fgetc(in);
    while (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '#')
    {
        if (c == '#')
            while (c != '\n' && c != EOF)
                c = fgetc(in);
        c = fgetc(in);
    }
    if (c < '0' || c > '9')
        return false;
    unsigned number = 0;
    while (c >= '0' && c <= '9')
    {
        number = number * 10 + static_cast<unsigned>(c - '0');
        if (number > 1000000)
            return false;
        c = fgetc(in);
    }
    *value = number; // the one blank after the number is consumed
    return true;
}

} // namespace

bool pdf_filter(pappl_job_t* job, pappl_device_t* device, void* /*data*/)
{
    const char* filename = papplJobGetFilename(job);
    int pipe_fds[2];
    if (pipe(pipe_fds))
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[1]);
    std::string input = filename ? filename : "";
    const char* argv[] = {"gs",
                          "-q",
                          "-dSAFER",
                          "-dBATCH",
                          "-dNOPAUSE",
                          "-dNOINTERPOLATE",
                          "-sDEVICE=pbmraw",
                          "-r203",
                          "-sOutputFile=-",
                          "-sstdout=%stderr", // its messages, kept out of the pages
                          "--",
                          input.c_str(),
                          nullptr};
    pid_t pid = 0;
    const int spawned =
        posix_spawnp(&pid, "gs", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    if (spawned)
    {
        close(pipe_fds[0]);
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to run Ghostscript: %s", strerror(spawned));
        return false;
    }
    FILE* in = fdopen(pipe_fds[0], "rb");

    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 0, false);
    bool ok = receipt_start_job(job, options, device);
    unsigned page = 0;
    std::vector<unsigned char> line;
    while (ok && in)
    {
        if (fgetc(in) != 'P' || fgetc(in) != '4')
            break;
        unsigned width = 0, height = 0;
        if (!lo_pbm_number(in, &width) || !lo_pbm_number(in, &height) || width == 0)
        {
            ok = false;
            break;
        }
        page++;
        papplJobSetImpressionsCompleted(job, 1);
        options->header.cupsWidth = width;
        options->header.cupsHeight = height;
        options->header.cupsBytesPerLine = (width + 7) / 8;
        line.resize(options->header.cupsBytesPerLine);
        ok = receipt_start_page(job, options, device, page);
        unsigned y = 0;
        for (; y < height; y++)
        {
            if (fread(line.data(), 1, line.size(), in) != line.size())
                break;
            if (ok && !papplJobIsCanceled(job))
                receipt_write_line(job, options, device, y, line.data());
        }
        ok = receipt_end_page(job, options, device, page) && ok;
        if (y < height)
        {
            papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Ghostscript ended inside page %u.", page);
            ok = false;
        }
        if (papplJobIsCanceled(job))
            break;
    }
    if (papplJobIsCanceled(job))
        kill(pid, SIGTERM);
    ok = receipt_end_job(job, options, device) && ok;
    papplJobDeletePrintOptions(options);
    if (in)
        fclose(in);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR)
    {
    }
    const bool gs_failed = !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    if (gs_failed && !papplJobIsCanceled(job))
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Ghostscript failed (status %d).", status);
    if (ok && (gs_failed || page == 0) && !papplJobIsCanceled(job))
    {
        // (A page cut short has already said so.)
        papplJobSetMessage(job, "The PDF document cannot be printed: %s.",
                           page == 0 ? "Ghostscript finds no page in it"
                                     : "Ghostscript stops with an error in it");
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        ok = false;
    }
    return ok;
}

} // namespace qel_app
