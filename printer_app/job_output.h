// job_output.h - a job's command bytes on their way to the printer.
//
// Commands are written in blocks of whole commands. A write that does not move for a while
// marks the printer as stalled (a state reason and the job's message) until data flows again;
// a job that is cancelled stops at the end of the command it is in, so the next job starts on
// a command boundary however long the printer held the data; a printer that has gone fails
// the job.
#pragma once

#include <pappl/pappl.h>

#include <cstddef>
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
    // After a cancel or a failure: nothing more goes to the printer except `ending`
    // (whole commands, e.g. the page end) once the unfinished command is complete.
    void finish_cancelled(const std::vector<unsigned char>& ending);

    bool failed() const { return failed_; }
    bool cancelled() const { return cancelled_; }

  private:
    bool write_block(const unsigned char* data, size_t size, bool stop_on_cancel);
    void set_stalled(bool stalled, double seconds);

    pappl_job_t* job_;
    pappl_device_t* device_;
    std::vector<unsigned char> queue_;
    std::vector<unsigned char> unfinished_; // rest of a command cut by a cancel
    bool failed_ = false;
    bool cancelled_ = false;
    bool stalled_ = false;
};

} // namespace qel_app
