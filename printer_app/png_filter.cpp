// png_filter.cpp - PNG images read with libpng, printed through PAPPL's image placement.
#include "png_filter.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <vector>

namespace qel_app
{
namespace
{

// Limits like PAPPL's own for images (16k x 16k pixels).
constexpr png_uint_32 lo_max_side = 16384;

void lo_png_error(png_structp png, png_const_charp message)
{
    auto* job = static_cast<pappl_job_t*>(png_get_error_ptr(png));
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "PNG image: %s", message);
    png_longjmp(png, 1);
}

void lo_png_warning(png_structp png, png_const_charp message)
{
    auto* job = static_cast<pappl_job_t*>(png_get_error_ptr(png));
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "PNG image: %s", message);
}

// Reads the whole image as 8-bit gray (0 black, 255 white) into `pixels`.
bool lo_read_gray(pappl_job_t* job, FILE* in, std::vector<unsigned char>& pixels, int* width,
                  int* height, int* ppi)
{
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, job, lo_png_error, lo_png_warning);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows;
    bool ok = false;
    if (info && !setjmp(png_jmpbuf(png)))
    {
        png_init_io(png, in);
        png_read_info(png, info);
        const png_uint_32 w = png_get_image_width(png, info);
        const png_uint_32 h = png_get_image_height(png, info);
        if (w == 0 || h == 0 || w > lo_max_side || h > lo_max_side)
            png_error(png, "the image is empty or too large to print");
        const int color_type = png_get_color_type(png, info);
        if (color_type == PNG_COLOR_TYPE_PALETTE)
            png_set_palette_to_rgb(png);
        if (color_type == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8)
            png_set_expand_gray_1_2_4_to_8(png);
        if (png_get_valid(png, info, PNG_INFO_tRNS))
            png_set_tRNS_to_alpha(png);
        png_set_strip_16(png);
        if (color_type & PNG_COLOR_MASK_COLOR || color_type == PNG_COLOR_TYPE_PALETTE)
            png_set_rgb_to_gray_fixed(png, 1, -1, -1);
        png_color_16 white{};
        white.red = white.green = white.blue = white.gray = 255;
        png_set_background(png, &white, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        if (png_get_channels(png, info) != 1 || png_get_bit_depth(png, info) != 8)
            png_error(png, "the image cannot be turned into 8-bit gray");
        pixels.assign(size_t{w} * h, 255);
        rows.resize(h);
        for (png_uint_32 y = 0; y < h; y++)
            rows[y] = pixels.data() + size_t{y} * w;
        png_read_image(png, rows.data());
        *width = static_cast<int>(w);
        *height = static_cast<int>(h);
        const png_uint_32 x_ppi = png_get_x_pixels_per_inch(png, info);
        const png_uint_32 y_ppi = png_get_y_pixels_per_inch(png, info);
        *ppi = x_ppi == y_ppi ? static_cast<int>(x_ppi) : 0;
        ok = true;
    }
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    return ok;
}

} // namespace

bool png_filter(pappl_job_t* job, pappl_device_t* device, void* /*data*/)
{
    FILE* in = std::fopen(papplJobGetFilename(job), "rb");
    if (!in)
    {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to open the PNG document.");
        return false;
    }
    std::vector<unsigned char> pixels;
    int width = 0, height = 0, ppi = 0;
    const bool read = lo_read_gray(job, in, pixels, &width, &height, &ppi);
    std::fclose(in);
    if (!read)
    {
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        return false;
    }
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "PNG image %dx%d at %d ppi.", width, height, ppi);
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, false);
    const bool ok =
        papplJobFilterImage(job, device, options, pixels.data(), width, height, 1, ppi, false);
    papplJobDeletePrintOptions(options);
    return ok;
}

} // namespace qel_app
