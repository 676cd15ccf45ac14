// pdf_filter.h - PDF documents: Ghostscript, run as a child process, renders each page 1-bit
// at 203 dpi at the page's own size; the pages go through the receipt raster path.
#pragma once

#include <pappl/pappl.h>

namespace qel_app
{

// The MIME filter application/pdf -> image/pwg-raster (PAPPL's name for "the driver's
// raster path").
bool pdf_filter(pappl_job_t* job, pappl_device_t* device, void* data);

} // namespace qel_app
