// image_filters.cpp - PNG images read with libpng and JPEG images with libjpeg, printed
// through PAPPL's image placement.
#include "image_filters.h"

#include <png.h>
// (jpeglib.h needs FILE and size_t declared first.)
#include <cstdio>
#include <jpeglib.h>

#include <csetjmp>
#include <string>
#include <vector>

namespace qel_app
{
namespace
{

// Limits like PAPPL's own for images (16k x 16k pixels).
constexpr png_uint_32 lo_max_side = 16384;

// What made an image unprintable, as the job's message and in the log.
void lo_damaged(pappl_job_t* job, const char* kind, const char* message)
{
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s image: %s", kind, message);
    papplJobSetMessage(job, "The %s image cannot be printed: %s.", kind, message);
}

void lo_png_error(png_structp png, png_const_charp message)
{
    lo_damaged(static_cast<pappl_job_t*>(png_get_error_ptr(png)), "PNG", message);
    png_longjmp(png, 1);
}

void lo_png_warning(png_structp png, png_const_charp message)
{
    auto* job = static_cast<pappl_job_t*>(png_get_error_ptr(png));
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "PNG image: %s", message);
}

// Reads the whole image as 8-bit gray (0 black, 255 white) into `pixels`.
bool lo_read_png_gray(pappl_job_t* job, FILE* in, std::vector<unsigned char>& pixels, int* width,
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

struct JpegErrors
{
    jpeg_error_mgr base;
    jmp_buf done;
    pappl_job_t* job;
};

void lo_jpeg_fail(j_common_ptr info, bool warning)
{
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    char text[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, text);
    lo_damaged(errors->job, "JPEG",
               warning ? (std::string("damaged data (") + text + ")").c_str() : text);
    longjmp(errors->done, 1);
}

void lo_jpeg_error(j_common_ptr info)
{
    lo_jpeg_fail(info, false);
}

// libjpeg goes on after damaged data (a file that stops early, a corrupt segment) with a
// warning and makes up the rest of the image: such an image is not printed.
void lo_jpeg_message(j_common_ptr info, int level)
{
    if (level < 0)
        lo_jpeg_fail(info, true);
}

bool lo_read_jpeg_gray(pappl_job_t* job, FILE* in, std::vector<unsigned char>& pixels, int* width,
                       int* height, int* ppi)
{
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = lo_jpeg_error;
    errors.base.emit_message = lo_jpeg_message;
    errors.job = job;
    bool ok = false;
    if (!setjmp(errors.done))
    {
        jpeg_create_decompress(&info);
        jpeg_stdio_src(&info, in);
        jpeg_read_header(&info, TRUE);
        if (info.image_width == 0 || info.image_height == 0 || info.image_width > lo_max_side ||
            info.image_height > lo_max_side)
        {
            lo_damaged(job, "JPEG", "the image is empty or too large to print");
            longjmp(errors.done, 1);
        }
        info.out_color_space = JCS_GRAYSCALE;
        jpeg_start_decompress(&info);
        const size_t w = info.output_width;
        pixels.assign(w * info.output_height, 255);
        while (info.output_scanline < info.output_height)
        {
            JSAMPROW row = pixels.data() + w * info.output_scanline;
            jpeg_read_scanlines(&info, &row, 1);
        }
        jpeg_finish_decompress(&info);
        *width = static_cast<int>(w);
        *height = static_cast<int>(info.output_height);
        // Density unit 1: dots per inch, 2: per centimetre; 0 gives only the aspect ratio.
        const int x = info.density_unit == 2 ? (info.X_density * 254 + 50) / 100 : info.X_density;
        const int y = info.density_unit == 2 ? (info.Y_density * 254 + 50) / 100 : info.Y_density;
        *ppi = info.density_unit != 0 && x == y ? x : 0;
        ok = true;
    }
    jpeg_destroy_decompress(&info);
    return ok;
}

using GrayReader = bool (*)(pappl_job_t*, FILE*, std::vector<unsigned char>&, int*, int*, int*);

// Reads the job's image with READ and prints it; a damaged image fails the job with
// document-format-error.
bool lo_print_image(pappl_job_t* job, pappl_device_t* device, const char* kind, GrayReader read)
{
    FILE* in = std::fopen(papplJobGetFilename(job), "rb");
    if (!in)
    {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to open the %s document.", kind);
        return false;
    }
    std::vector<unsigned char> pixels;
    int width = 0, height = 0, ppi = 0;
    const bool ok_read = read(job, in, pixels, &width, &height, &ppi);
    std::fclose(in);
    if (!ok_read)
    {
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        return false;
    }
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "%s image %dx%d at %d ppi.", kind, width, height, ppi);
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, false);
    const bool ok =
        papplJobFilterImage(job, device, options, pixels.data(), width, height, 1, ppi, false);
    papplJobDeletePrintOptions(options);
    return ok;
}

} // namespace

bool png_filter(pappl_job_t* job, pappl_device_t* device, void* /*data*/)
{
    return lo_print_image(job, device, "PNG", lo_read_png_gray);
}

bool jpeg_filter(pappl_job_t* job, pappl_device_t* device, void* /*data*/)
{
    return lo_print_image(job, device, "JPEG", lo_read_jpeg_gray);
}

} // namespace qel_app
