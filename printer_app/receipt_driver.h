// receipt_driver.h - the PAPPL driver of the QEL receipt printers: capabilities from the model
// table, the raster callbacks that drive the page encoder, the raw command stream.
#pragma once

#include <pappl/pappl.h>

namespace qel_app
{

// The driver list for papplMainloop (names and descriptions of the eight models).
int driver_list(pappl_pr_driver_t** drivers);

// PAPPL's driver callback: fills the driver data and attributes of a model.
bool driver_setup(pappl_system_t* system, const char* driver_name, const char* device_uri,
                  const char* device_id, pappl_pr_driver_data_t* data, ipp_t** attrs,
                  void* cb_data);

// PAPPL's auto-add callback: the driver of a device ID that names one of the models.
const char* driver_autoadd(const char* device_info, const char* device_uri, const char* device_id,
                           void* data);

// The paper roll as the printer's one supply (level unknown: the printer reports none).
void set_paper_supply(pappl_printer_t* printer);

// The raster callbacks, also used by the PDF filter for the pages Ghostscript renders.
bool receipt_start_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool receipt_start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                        unsigned page);
bool receipt_write_line(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                        unsigned y, const unsigned char* line);
bool receipt_end_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                      unsigned page);
bool receipt_end_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// MIME type of the printer's own command stream, passed through as it stands.
inline constexpr const char* QEL_COMMAND_FORMAT = "application/vnd.qel-receipt";

} // namespace qel_app
