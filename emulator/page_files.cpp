// Page files of the virtual printer: 1-bit PNG and PBM images, the settings text, a summary.
#include "virtual_printer.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <sys/stat.h>

namespace qel_vp
{

namespace
{

struct FileCloser
{
    void operator()(std::FILE* f) const
    {
        if (f)
            std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool fail(std::string* error, const std::string& what)
{
    if (error)
        *error = what;
    return false;
}

// Creates path (fopen mode), lets `write` fill it (it returns what went wrong, "" for nothing)
// and closes it; a failure is reported with the path.
template <typename Write>
bool write_whole_file(const std::string& path, const char* mode, std::string* error, Write write)
{
    File f(std::fopen(path.c_str(), mode));
    if (!f)
        return fail(error, path + ": " + std::strerror(errno));
    const std::string why = write(f.get());
    if (!why.empty())
        return fail(error, path + ": " + why);
    if (std::fclose(f.release()) != 0)
        return fail(error, path + ": " + std::strerror(errno));
    return true;
}

std::string setting_text(const std::optional<std::uint8_t>& v)
{
    return v ? std::to_string(*v) : std::string("none");
}

std::string setting_text(const std::optional<std::int8_t>& v)
{
    return v ? std::to_string(*v) : std::string("none");
}

// libpng reports errors through longjmp; keep the jump inside this one function.
bool png_write_rows(std::FILE* f, std::size_t width_bytes, std::size_t height,
                    const std::vector<std::uint8_t>& image, std::string& why)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
    {
        why = "cannot create PNG writer";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info)
    {
        png_destroy_write_struct(&png, nullptr);
        why = "cannot create PNG info";
        return false;
    }
    if (setjmp(png_jmpbuf(png)))
    {
        png_destroy_write_struct(&png, &info);
        why = "PNG write failed";
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width_bytes * 8),
                 static_cast<png_uint_32>(height), 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // A set dot is black; in a grey PNG 0 is black.
    png_set_invert_mono(png);
    for (std::size_t row = 0; row < height; ++row)
        png_write_row(png, const_cast<png_bytep>(image.data() + row * width_bytes));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

bool write_png(const Page& page, const std::string& path, std::string* error)
{
    return write_whole_file(path, "wb", error,
                            [&](std::FILE* f)
                            {
                                // PNG has no empty images: a page without dot lines becomes
                                // one white row.
                                std::vector<std::uint8_t> image = page.bitmap();
                                std::size_t height = page.lines.size();
                                if (height == 0)
                                {
                                    image.assign(page.width_bytes, 0);
                                    height = 1;
                                }
                                std::string why;
                                png_write_rows(f, page.width_bytes, height, image, why);
                                return why;
                            });
}

bool write_pbm(const Page& page, const std::string& path, std::string* error)
{
    return write_whole_file(
        path, "wb", error,
        [&](std::FILE* f)
        {
            const std::vector<std::uint8_t> image = page.bitmap();
            std::fprintf(f, "P4\n%zu %zu\n", page.width_bytes * 8, page.lines.size());
            const bool whole =
                image.empty() || std::fwrite(image.data(), 1, image.size(), f) == image.size();
            return std::string(whole ? "" : "short write");
        });
}

bool write_settings(const Page& page, const std::string& path, std::string* error)
{
    std::ostringstream s;
    s << "page=" << page.index + 1 << "\n"
      << "complete=" << page.complete << "\n"
      << "speed=" << setting_text(page.settings.speed) << "\n"
      << "density=" << setting_text(page.settings.density) << "\n"
      << "path=" << setting_text(page.settings.path) << "\n"
      << "sent_speed=" << setting_text(page.sent.speed) << "\n"
      << "sent_density=" << setting_text(page.sent.density) << "\n"
      << "sent_path=" << setting_text(page.sent.path) << "\n"
      << "width_dots=" << page.width_bytes * 8 << "\n"
      << "lines=" << page.lines.size() << "\n"
      << "plain_lines=" << page.plain_lines << "\n"
      << "rle_lines=" << page.rle_lines << "\n"
      << "pieces=" << page.pieces << "\n"
      << "repeat_commands=" << page.repeat_commands << "\n"
      << "repeated_lines=" << page.repeated_lines << "\n"
      << "wire_bytes=" << page.wire_bytes << "\n"
      << "form_feed=" << page.form_feed << "\n"
      << "cut=" << static_cast<unsigned>(page.cut) << "\n";
    const std::string text = s.str();
    return write_whole_file(path, "w", error,
                            [&](std::FILE* f)
                            {
                                const bool whole =
                                    std::fwrite(text.data(), 1, text.size(), f) == text.size();
                                return std::string(whole ? "" : "short write");
                            });
}

bool write_page_files(const Page& page, const std::string& dir, std::string* error)
{
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
        return fail(error, dir + ": " + std::strerror(errno));
    char stem[32];
    std::snprintf(stem, sizeof stem, "/page-%03zu", page.index + 1);
    const std::string base = dir + stem;
    return write_png(page, base + ".png", error) && write_pbm(page, base + ".pbm", error) &&
           write_settings(page, base + ".txt", error);
}

std::string decode_summary(const DecodeResult& result)
{
    std::ostringstream s;
    std::size_t lines = 0, repeats = 0, image_bytes = 0, wire = 0;
    for (const Page& p : result.pages)
    {
        s << "page " << p.index + 1 << (p.complete ? "" : " (incomplete)")
          << ": speed=" << setting_text(p.settings.speed)
          << " density=" << setting_text(p.settings.density)
          << " path=" << setting_text(p.settings.path) << " width=" << p.width_bytes * 8
          << " lines=" << p.lines.size() << " plain=" << p.plain_lines << " rle8=" << p.rle_lines
          << " repeat_commands=" << p.repeat_commands << " repeated_lines=" << p.repeated_lines
          << " form_feed=" << p.form_feed << " cut=" << static_cast<unsigned>(p.cut)
          << " bytes=" << p.wire_bytes << "\n";
        lines += p.lines.size();
        repeats += p.repeat_commands;
        image_bytes += p.lines.size() * p.width_bytes;
        wire += p.wire_bytes;
    }
    char ratio[32] = "n/a";
    if (wire > 0)
        std::snprintf(ratio, sizeof ratio, "%.2f", static_cast<double>(image_bytes) / wire);
    s << "total: pages=" << result.pages.size() << " lines=" << lines
      << " repeat_commands=" << repeats << " stream_bytes=" << result.bytes
      << " image_bytes=" << image_bytes << " compression_ratio=" << ratio << "\n";
    for (const DecodeError& e : result.errors)
        s << "error at offset " << e.offset << ": " << e.message << "\n";
    return s.str();
}

} // namespace qel_vp
