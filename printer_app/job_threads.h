// job_threads.h - one processing thread per job (job_threads.cpp says why and how).
#pragma once

namespace qel_app
{

// False when the libpappl in use does not export its job thread (_papplJobProcess): then a
// job can still be started twice where PAPPL's job check races with itself.
bool job_start_guard_active();

} // namespace qel_app
