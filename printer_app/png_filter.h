// png_filter.h - PNG documents.
//
// PAPPL 1.3.1 reads PNG images itself, but it leaves the samples of 1-, 2- and 4-bit
// grayscale images at their packed values (white is 1, not 255), so a black-and-white PNG,
// the usual form of a receipt image, prints almost all black. This filter reads the image
// with every sample expanded to 8 bits, composited over white and turned to gray, and
// hands it to PAPPL's own image placement (papplJobFilterImage) at the image's resolution.
#pragma once

#include <pappl/pappl.h>

namespace qel_app
{

// The MIME filter image/png -> the printer's command format (found before PAPPL's own
// image/png -> image/pwg-raster).
bool png_filter(pappl_job_t* job, pappl_device_t* device, void* data);

} // namespace qel_app
