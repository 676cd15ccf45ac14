// Upload benchmark: a 1 MiB upload file sent by Qel_UploadTool to the virtual
// printer over a pseudo-terminal ("Ttys" link) and over the emulated USB device,
// in buffered mode (default) and in paced mode ("-S"). Prints a table of wall
// times and rates beside the paced mode's protocol floor.
#include "child_process.h"
#include "upload_file_maker.h"
#include "virtual_printer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

constexpr std::size_t kDataBytes = 1u << 20;

struct Row
{
    const char* port;
    const char* mode;
    double seconds = 0;
    bool ok = false;
};

// One tool run; returns the wall time in seconds, or a negative value on failure.
double lo_run_once(qel_vp::PortKind kind, const std::string& dir, const std::string& file,
                   bool paced, const std::vector<std::uint8_t>& data)
{
    qel_vp::PrinterOptions o;
    o.kind = kind;
    o.link_path = dir + "/dev/Ttys0";
    qel_vp::VirtualPrinter vp(o);
    std::string error;
    if (!vp.start(&error))
    {
        std::fprintf(stderr, "virtual printer: %s\n", error.c_str());
        return -1;
    }
    const test_support::Env env = test_support::emulator_client_env(vp.umockdev_dir());
    std::vector<std::string> args = {"-s"};
    if (paced)
        args.push_back("-S");
    args.push_back(vp.port_name());
    args.push_back(file);

    const auto t0 = std::chrono::steady_clock::now();
    const test_support::RunResult r =
        test_support::run_program(QEL_UPLOAD_TOOL, args, {}, env, 600000);
    const auto t1 = std::chrono::steady_clock::now();
    const std::vector<qel_vp::Upload> uploads = vp.uploads();
    vp.stop();
    if (r.status != 0 || uploads.empty() || !uploads.back().crc_ok || uploads.back().data != data)
    {
        std::fprintf(stderr, "upload failed (status %d): %s\n", r.status, r.out.c_str());
        return -1;
    }
    return std::chrono::duration<double>(t1 - t0).count();
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    std::string base = QEL_BENCH_DIR;
    if (const char* tmp = std::getenv("TMPDIR"))
        base = tmp;
    std::string dir = base + "/qel_upload_bench_XXXXXX";
    if (mkdtemp(dir.data()) == nullptr)
    {
        std::perror("mkdtemp");
        return 1;
    }
    setenv("TMPDIR", dir.c_str(), 1); // the USB testbed goes there too

    const std::vector<std::uint8_t> data = upload_maker::pattern(kDataBytes, 7);
    const std::vector<std::uint8_t> file = upload_maker::make_file(data);
    const std::string path = dir + "/bench.QelBin";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(file.data(), 1, file.size(), f) != file.size())
    {
        std::perror(path.c_str());
        return 1;
    }
    std::fclose(f);

    struct Config
    {
        qel_vp::PortKind kind;
        const char* port;
        bool paced;
    } configs[] = {{qel_vp::PortKind::Ttys, "pty (Ttys)", false},
                   {qel_vp::PortKind::Ttys, "pty (Ttys)", true},
                   {qel_vp::PortKind::Usb, "USB (libusb)", false},
                   {qel_vp::PortKind::Usb, "USB (libusb)", true}};

    std::vector<Row> rows;
    for (const Config& c : configs)
    {
        Row row{c.port, c.paced ? "paced (-S)" : "buffered", 0, true};
        double best = 0;
        for (int i = 0; i < runs; ++i)
        {
            const double s = lo_run_once(c.kind, dir, path, c.paced, data);
            if (s < 0)
            {
                row.ok = false;
                break;
            }
            best = (i == 0 || s < best) ? s : best;
        }
        row.seconds = best;
        rows.push_back(row);
        std::fprintf(stderr, "%s %s: %.2f s\n", row.port, row.mode, row.seconds);
    }

    // Paced mode cannot beat 255 bytes per 10 ms pause.
    const double floor_rate = 255.0 / 0.010;
    std::printf("Upload of %zu data bytes (%zu-byte file), best of %d run(s), wall time of the "
                "whole tool run (includes 0.5 s synchronisation and 0.2 s exchange pauses)\n\n",
                kDataBytes, file.size(), runs);
    std::printf("%-14s %-12s %10s %14s %12s\n", "port", "mode", "wall [s]", "rate [KB/s]",
                "vs paced");
    for (std::size_t i = 0; i < rows.size(); ++i)
    {
        const Row& r = rows[i];
        if (!r.ok)
        {
            std::printf("%-14s %-12s %10s\n", r.port, r.mode, "failed");
            continue;
        }
        const Row& paced = rows[i % 2 == 0 ? i + 1 : i];
        const double ratio = paced.ok && r.seconds > 0 ? paced.seconds / r.seconds : 0;
        std::printf("%-14s %-12s %10.2f %14.1f %11.1fx\n", r.port, r.mode, r.seconds,
                    kDataBytes / r.seconds / 1000.0, ratio);
    }
    std::printf("\nprotocol floor of paced mode: %.1f KB/s (255 bytes per 10 ms pause), "
                "%.1f s for the data\n",
                floor_rate / 1000.0, kDataBytes / floor_rate);
    const bool goal = rows[2].ok && rows[3].ok && rows[3].seconds / rows[2].seconds >= 10.0;
    std::printf("goal buffered >= 10x paced on USB: %s\n", goal ? "met" : "NOT met");

    std::filesystem::remove_all(dir);
    return 0;
}
