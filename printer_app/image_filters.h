// image_filters.h - PNG and JPEG documents.
//
// PAPPL 1.3.1 reads both image formats itself, but it leaves the samples of 1-, 2- and 4-bit
// grayscale PNG images at their packed values (white is 1, not 255), so a black-and-white
// PNG, the usual form of a receipt image, prints almost all black; and it prints a JPEG image
// whose data stops early with the missing rows filled in, as if nothing were wrong. These
// filters read the image as 8-bit gray (every sample expanded, composited over white), fail a
// damaged image with a message that says so, and hand a whole image to PAPPL's own image
// placement (papplJobFilterImage) at the image's resolution.
#pragma once

#include <pappl/pappl.h>

namespace qel_app
{

// The MIME filters image/png and image/jpeg -> the printer's command format (found before
// PAPPL's own filters to image/pwg-raster).
bool png_filter(pappl_job_t* job, pappl_device_t* device, void* data);
bool jpeg_filter(pappl_job_t* job, pappl_device_t* device, void* data);

} // namespace qel_app
