// job.h - one print job: wait for the printer, bring its command parser back
// to a boundary, forward the filter's stream, wait for the printer's answer.
#pragma once

#include "device_uri.h"

namespace qel_backend
{

// Exit status per backend(7): CUPS_BACKEND_OK once the printer took the whole
// stream and answered a status inquiry after it, CUPS_BACKEND_FAILED when a
// write failed or the printer did not answer after the job, or the job was
// cancelled.
int run_job(const qel::DeviceUri& uri, int input_fd, bool side_channel);

// How long the backend waits after the last byte for the printer to answer.
inline constexpr unsigned kFinalAnswerSeconds = 60;
// A printer that takes no byte for this long is reported (offline-report).
inline constexpr unsigned kStallReportSeconds = 5;

} // namespace qel_backend
