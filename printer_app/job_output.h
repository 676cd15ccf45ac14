// job_output.h - a job's command bytes on their way to the printer.
//
// Commands are written in blocks of whole commands. A write that does not move for a while
// marks the printer as stalled (a state reason and the job's message) until data flows again;
// a job that is cancelled stops where it is and the command the printer is inside is finished
// with harmless bytes and the page ended (the command boundary tracker follows every byte
// that reaches the printer), so the next job starts on a command boundary however long the
// printer held the data; a printer that has gone fails the job. What a job, a status
// exchange or an earlier run of the application left open is finished before the job's first
// bytes (printer_boundary.h).
#pragma once

#include "device_scheme.h"
#include "printer_boundary.h"

#include <pappl/pappl.h>

#include <cstddef>
#include <memory>
#include <vector>

namespace qel_app
{

class JobOutput
{
  public:
    JobOutput(pappl_job_t* job, pappl_device_t* device);
    ~JobOutput();

    // Queues whole commands; they go out once enough have collected.
    void add(const std::vector<unsigned char>& commands);
    // Writes everything queued. False when the job was cancelled or the printer failed.
    bool flush();
    // After a cancel: the bytes that complete the command the printer is inside and end its
    // page without a cut; nothing else of the job goes to the printer.
    void finish_cancelled();

    bool failed() const { return failed_; }
    bool cancelled() const { return cancelled_; }

  private:
    bool write_block(const unsigned char* data, size_t size, bool stop_on_cancel);
    void set_stalled(bool stalled, double seconds);

    pappl_job_t* job_;
    std::shared_ptr<DeviceLink> link_; // the printer's port, held until the job ends
    std::vector<unsigned char> queue_;
    PrinterBoundary sent_; // where the printer's parser stands after what was written
    bool started_ = false; // a command left open by an earlier writer has been finished
    bool failed_ = false;
    bool cancelled_ = false;
    bool stalled_ = false;
};

} // namespace qel_app
