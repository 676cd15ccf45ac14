// app_system.h - the PAPPL system of the application: where its state lives, what it listens
// on, its drivers, document formats and pages.
#pragma once

#include <pappl/pappl.h>

namespace qel_app
{

inline constexpr const char* APP_NAME = "qel-printer-app";

// papplMainloop's system callback.
pappl_system_t* create_system(int num_options, cups_option_t* options, void* data);

} // namespace qel_app
