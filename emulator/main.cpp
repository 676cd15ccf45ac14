// qel-printer-emulator: command-line front end of the virtual printer.
//
//   qel-printer-emulator (--tty PATH | --lp PATH | --usb [--product 0xNNNN]) [--out DIR]
//                [--transcript FILE] [--fault FAULT]... [--config-file FILE] [--raw]
//   qel-printer-emulator --decode FILE [--out DIR]
#include "virtual_printer.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <pthread.h>

namespace
{

void usage(std::FILE* out)
{
    std::fputs(
        "usage: qel-printer-emulator (--tty PATH | --lp PATH | --usb [--product 0xNNNN]\n"
        "                    [--bus N] [--address N]) [--out DIR] [--transcript FILE]\n"
        "                    [--fault KIND[:EXCHANGE[:NTH[:PARAM]]]]... [--config-file FILE]\n"
        "                    [--raw]\n"
        "       qel-printer-emulator --decode FILE [--out DIR]\n"
        "  faults: silent late wrong-type wrong-size wrong-first short cancel stray split\n"
        "          merge disconnect\n"
        "  exchanges: any inquiry config-download config-upload upload-start upload-block\n"
        "             upload-end reset\n",
        out);
}

bool parse_number(const char* text, unsigned long max, unsigned long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text, &end, 0);
    return errno == 0 && end != text && *end == '\0' && value <= max;
}

int decode_file(const std::string& path, const std::string& out_dir)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
    {
        std::fprintf(stderr, "qel-printer-emulator: cannot open %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return 1;
    }
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    const qel_vp::DecodeResult result = qel_vp::decode_page_stream(bytes);
    std::fputs(qel_vp::decode_summary(result).c_str(), stdout);
    if (!out_dir.empty())
    {
        for (const qel_vp::Page& page : result.pages)
        {
            std::string error;
            if (!qel_vp::write_page_files(page, out_dir, &error))
            {
                std::fprintf(stderr, "qel-printer-emulator: %s\n", error.c_str());
                return 1;
            }
        }
    }
    return result.ok() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    qel_vp::PrinterOptions options;
    bool have_port = false;
    std::string decode_path;
    std::string config_file;

    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        auto value = [&]() -> const char* { return argv[++i]; };
        if ((arg == "--tty" || arg == "--lp") && has_value)
        {
            options.kind = arg == "--tty" ? qel_vp::PortKind::Ttys : qel_vp::PortKind::Lp;
            options.link_path = value();
            have_port = true;
        }
        else if (arg == "--usb")
        {
            options.kind = qel_vp::PortKind::Usb;
            have_port = true;
        }
        else if ((arg == "--product" || arg == "--bus" || arg == "--address") && has_value)
        {
            unsigned long n = 0;
            const char* text = value();
            if (!parse_number(text, arg == "--product" ? 0xFFFF : 127, n) ||
                (arg != "--product" && n == 0))
            {
                std::fprintf(stderr, "qel-printer-emulator: bad %s value \"%s\"\n", arg.c_str(), text);
                return 2;
            }
            if (arg == "--product")
                options.product = static_cast<std::uint16_t>(n);
            else if (arg == "--bus")
                options.bus = static_cast<unsigned>(n);
            else
                options.address = static_cast<unsigned>(n);
        }
        else if (arg == "--out" && has_value)
            options.out_dir = value();
        else if (arg == "--transcript" && has_value)
            options.transcript_file = value();
        else if (arg == "--config-file" && has_value)
            config_file = value();
        else if (arg == "--decode" && has_value)
            decode_path = value();
        else if (arg == "--raw")
            options.protocol = false;
        else if (arg == "--fault" && has_value)
        {
            qel_vp::Fault fault;
            std::string error;
            if (!qel_vp::parse_fault(value(), fault, &error))
            {
                std::fprintf(stderr, "qel-printer-emulator: %s\n", error.c_str());
                return 2;
            }
            options.faults.push_back(fault);
        }
        else if (arg == "--help" || arg == "-h")
        {
            usage(stdout);
            return 0;
        }
        else
        {
            std::fprintf(stderr, "qel-printer-emulator: unknown or incomplete argument \"%s\"\n",
                         arg.c_str());
            usage(stderr);
            return 2;
        }
    }

    if (!decode_path.empty())
        return decode_file(decode_path, options.out_dir);
    if (!have_port)
    {
        usage(stderr);
        return 2;
    }
    if (!config_file.empty())
    {
        std::string error;
        if (!qel_vp::load_printer_data(config_file, options.data, &error))
        {
            std::fprintf(stderr, "qel-printer-emulator: %s\n", error.c_str());
            return 2;
        }
    }

    // SIGTERM and SIGINT are taken by sigwait below; block them before any thread starts.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    qel_vp::VirtualPrinter printer(options);
    std::string error;
    if (!printer.start(&error))
    {
        std::fprintf(stderr, "qel-printer-emulator: %s\n", error.c_str());
        return 1;
    }
    if (options.kind == qel_vp::PortKind::Usb)
        std::printf("UMOCKDEV_DIR=%s\n", printer.umockdev_dir().c_str());
    std::printf("READY %s\n", printer.port_name().c_str());
    std::fflush(stdout);

    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    printer.stop();

    const auto frames = printer.transcript();
    const auto errors = printer.errors();
    std::fprintf(stderr, "qel-printer-emulator: %zu bytes, %zu frames, %zu pages, %zu errors\n",
                 printer.received().size(), frames.size(), printer.pages().size(), errors.size());
    for (const auto& e : errors)
        std::fprintf(stderr, "qel-printer-emulator: offset %zu: %s\n", e.offset, e.message.c_str());
    return 0;
}
