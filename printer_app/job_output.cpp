// job_output.cpp - writing a job's commands with stall, cancel and unplug handling.
#include "job_output.h"

#include "device_scheme.h"
#include "port.h"
#include "printer_state.h"

#include <chrono>

namespace qel_app
{
namespace
{
constexpr size_t lo_block = 4096;
constexpr unsigned long lo_try_ms = 1000;
constexpr double lo_stall_report_s = 2.0;
} // namespace

JobOutput::JobOutput(pappl_job_t* job, pappl_device_t* device)
    : job_(job), link_(device_link(device)), sent_(papplJobGetPrinter(job))
{
    if (link_)
        return;
    // PAPPL closed the printer's device as the job started (see device_link): the job opens
    // the printer itself, and the port is its own until the job ends.
    pappl_printer_t* printer = papplJobGetPrinter(job);
    std::string error;
    link_ = open_device_link(papplPrinterGetDeviceURI(printer), &error);
    papplLogJob(job, link_ ? PAPPL_LOGLEVEL_INFO : PAPPL_LOGLEVEL_ERROR,
                "The printer's device was closed as the job started; %s%s.",
                link_ ? "opened it again" : "unable to open it again: ", error.c_str());
}

JobOutput::~JobOutput()
{
    if (stalled_)
        set_stalled(false, 0);
}

void JobOutput::add(const std::vector<unsigned char>& commands)
{
    queue_.insert(queue_.end(), commands.begin(), commands.end());
    if (queue_.size() >= lo_block)
        flush();
}

bool JobOutput::flush()
{
    if (failed_ || cancelled_)
    {
        queue_.clear();
        return false;
    }
    if (!started_)
    {
        started_ = true;
        const std::vector<uint8_t> filler = qel::boundary_filler(sent_.state());
        if (!filler.empty())
        {
            papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "The printer was left %s: finishing it first.",
                        qel::describe_boundary(sent_.state()).c_str());
            if (!write_block(filler.data(), filler.size(), true))
            {
                queue_.clear();
                return false;
            }
        }
    }
    const bool ok = write_block(queue_.data(), queue_.size(), true);
    queue_.clear();
    return ok;
}

void JobOutput::finish_cancelled()
{
    queue_.clear();
    if (failed_)
        return;
    const std::vector<uint8_t> filler = qel::boundary_filler(sent_.state());
    if (filler.empty())
        return;
    papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "Cancelled %s: finishing it with %u bytes.",
                qel::describe_boundary(sent_.state()).c_str(),
                static_cast<unsigned>(filler.size()));
    write_block(filler.data(), filler.size(), false);
}

void JobOutput::set_stalled(bool stalled, double seconds)
{
    const bool changed = stalled != stalled_;
    stalled_ = stalled;
    pappl_printer_t* printer = papplJobGetPrinter(job_);
    set_printer_stalled(papplPrinterGetID(printer), stalled);
    if (stalled)
    {
        papplPrinterSetReasons(printer, PAPPL_PREASON_OTHER, PAPPL_PREASON_NONE);
        papplJobSetMessage(job_, "The printer has taken no data for %.0f s.", seconds);
        if (changed)
            papplLogJob(job_, PAPPL_LOGLEVEL_WARN, "The printer has taken no data for %.0f s.",
                        seconds);
    }
    else
    {
        papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_OTHER);
        papplJobSetMessage(job_, "Printing.");
        papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "The printer takes data again.");
    }
}

bool JobOutput::write_block(const unsigned char* data, size_t size, bool stop_on_cancel)
{
    if (!link_)
    {
        papplJobSetMessage(job_, "The printer is not connected.");
        failed_ = true;
        return false;
    }
    qel::Port* port = &link_->port();
    using clock = std::chrono::steady_clock;
    size_t done = 0;
    auto last_progress = clock::now();
    while (done < size)
    {
        if (stop_on_cancel && papplJobIsCanceled(job_))
        {
            cancelled_ = true;
            return false;
        }
        const size_t chunk = size - done > lo_block ? lo_block : size - done;
        const auto before = clock::now();
        const int written = port->write(data + done, static_cast<int>(chunk), lo_try_ms);
        const auto after = clock::now();
        if (written > 0)
        {
            sent_.feed(std::span<const uint8_t>(data + done, written));
            done += static_cast<size_t>(written);
            last_progress = after;
            if (stalled_)
                set_stalled(false, 0);
            continue;
        }
        // Nothing moved: a printer that has gone, or one that holds the data.
        const double try_s = std::chrono::duration<double>(after - before).count();
        if (!link_->present() || try_s < 0.2)
        {
            papplLogJob(job_, PAPPL_LOGLEVEL_ERROR, "The printer has gone (write failed).");
            papplJobSetMessage(job_, "The printer is not connected.");
            pappl_printer_t* printer = papplJobGetPrinter(job_);
            papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
            failed_ = true;
            return false;
        }
        const double idle_s = std::chrono::duration<double>(after - last_progress).count();
        if (idle_s >= lo_stall_report_s)
            set_stalled(true, idle_s);
    }
    return true;
}

} // namespace qel_app
