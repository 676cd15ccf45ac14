// job_threads.cpp - one processing thread per job, whatever PAPPL's job check does.
//
// PAPPL 1.3.1 (job.c, _papplPrinterCheckJobs) starts a pending job by creating a thread that
// runs _papplJobProcess; only that thread, once it runs (start_job), marks the job processing
// and makes it the printer's current job. The check reads "current job" before taking the
// printer's lock, and it is called from several threads: the client thread that has just
// received a job's document, the thread of the job that has just finished (finish_job ends with
// a check whenever the printer has another active job), the status thread closing the device
// (papplPrinterCloseDevice), and the client thread of a Resume-Printer or Release-Job. Two
// checks that overlap both find the job still pending and both create a thread for it. A raster
// job streamed by its client is processed on the client's own thread and is pending meanwhile,
// so a check on another thread starts it a second time as well.
//
// Limiting a printer to one active job does not close the window: the finished job leaves the
// active list before its thread makes its last check, so the next job can be created, and be
// pending, in between. Nor can the application refuse jobs for longer: PAPPL creates the job
// without asking it. And a second thread cannot be made harmless from the driver's callbacks:
// the driver could leave the job to the first thread, but PAPPL's own finish_job would still
// run twice - the job put on the completed list twice (freed once, read again later), its file
// removed and the device closed under the thread still printing, the printer's current job
// cleared while it prints (so the next job starts on the same device) - and a second thread
// that runs its start_job after the first has finished marks a completed job processing again.
//
// So the thread itself is not made twice. The application's own pthread_create comes before
// the C library's for every library of the process; for a thread that would run
// _papplJobProcess it lets the first start of a job through and turns a start of the same job
// while that thread still runs - or of a job without a document file, a streamed raster job -
// into a thread that returns at once (PAPPL detaches whatever thread it was given and goes on
// as if the job had been started, which it has). A job's mark is removed when its thread has
// returned, after PAPPL has finished the job; a finished job is never pending again, so a later
// check does not start it. Every other thread is created unchanged.
#include "job_threads.h"

#include <pappl/pappl.h>

#include <dlfcn.h>
#include <pthread.h>

#include <mutex>
#include <set>

namespace
{

using lo_create_fn = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

lo_create_fn lo_real_create()
{
    static const auto real = reinterpret_cast<lo_create_fn>(dlsym(RTLD_NEXT, "pthread_create"));
    return real;
}

using lo_job_fn = void* (*)(void*);

// PAPPL's job thread, exported by libpappl 1.3.1 though not in its headers. Looked up when the
// program runs, so that a libpappl without it still runs the application (without the guard,
// which such a PAPPL may not need; the application logs a warning at start-up).
lo_job_fn lo_job_process()
{
    static const auto process =
        reinterpret_cast<lo_job_fn>(dlsym(RTLD_DEFAULT, "_papplJobProcess"));
    return process;
}

std::mutex lo_mutex;
std::set<const pappl_job_t*> lo_running; // jobs whose processing thread has not returned

void* lo_nothing(void*)
{
    return nullptr;
}

// The job's processing, then its mark removed.
void* lo_process(void* arg)
{
    auto* job = static_cast<pappl_job_t*>(arg);
    lo_job_process()(job);
    const std::lock_guard<std::mutex> lock(lo_mutex);
    lo_running.erase(job);
    return nullptr;
}

} // namespace

bool qel_app::job_start_guard_active()
{
    return lo_job_process() != nullptr;
}

// (Visible from outside, unlike the rest of the application's symbols, so that the dynamic
// linker gives it to the libraries.)
#pragma GCC visibility push(default)
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                              void* arg) noexcept
{
    const lo_create_fn real = lo_real_create();
    const lo_job_fn process = lo_job_process();
    if (!process || start != process)
        return real(thread, attr, start, arg);
    auto* job = static_cast<pappl_job_t*>(arg);
    bool first = false;
    {
        const std::lock_guard<std::mutex> lock(lo_mutex);
        // (The job check holds the printer's lock here; the file name is set before the job
        // is made pending and read without a lock.)
        if (papplJobGetFilename(job) && !lo_running.count(job))
            first = lo_running.insert(job).second;
    }
    if (!first)
    {
        papplLogJob(job, PAPPL_LOGLEVEL_INFO,
                    "A second start of the job turned away (it is already being processed).");
        return real(thread, attr, lo_nothing, nullptr);
    }
    const int status = real(thread, attr, lo_process, job);
    if (status != 0)
    {
        const std::lock_guard<std::mutex> lock(lo_mutex);
        lo_running.erase(job);
    }
    return status;
}
#pragma GCC visibility pop
