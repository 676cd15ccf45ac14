// qel-printer-app - IPP Everywhere printing to QEL receipt printers, on PAPPL's main loop.
#include "app_system.h"
#include "device_scheme.h"
#include "receipt_driver.h"
#include "status_poller.h"

#include <pappl/pappl.h>

#ifndef QEL_APP_VERSION
#define QEL_APP_VERSION "1.0.0"
#endif

int main(int argc, char* argv[])
{
    qel_app::register_device_scheme();
    pappl_pr_driver_t* drivers = nullptr;
    const int num_drivers = qel_app::driver_list(&drivers);
    const int status = papplMainloop(
        argc, argv, QEL_APP_VERSION, "Copyright &copy; QEL thermal printer driver kit.",
        num_drivers, drivers, qel_app::driver_autoadd, qel_app::driver_setup, nullptr, nullptr,
        qel_app::create_system, nullptr, nullptr);
    qel_app::stop_status_poller();
    return status;
}
