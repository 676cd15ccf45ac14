// qel-printer-emulator: command-line front end of the printer emulator; one or several
// printers on pseudo-terminals or emulated USB devices in one process, or the decoder of a
// captured command stream. See usage() and README.md.
#include "virtual_printer.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <pthread.h>

namespace
{

void usage(std::FILE* out)
{
    std::fputs(
        "usage: qel-printer-emulator [PRINTER-OPTION]... PORT [PRINTER-OPTION]... [PORT ...]\n"
        "       qel-printer-emulator --decode FILE [--out DIR]\n"
        "  PORT: --tty PATH | --lp PATH | --usb (repeat for several printers in one process)\n"
        "  PRINTER-OPTION (before the first PORT: for every printer; after a PORT: for it):\n"
        "    --product 0xNNNN --bus N --address N --serial SN (USB)\n"
        "    --out DIR --transcript FILE --config-file FILE --raw\n"
        "    --fault KIND[:EXCHANGE[:NTH[:PARAM]]] --stall-after BYTES:SECONDS\n"
        "  faults: silent late wrong-type wrong-size wrong-first wrong-second short cancel\n"
        "          stray split merge disconnect\n"
        "  exchanges: any inquiry config-download config-upload upload-start upload-block\n"
        "             upload-end reset\n"
        "  SIGUSR1: every USB printer is plugged in again at the next free address\n",
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

// One printer of the command line.
struct PrinterArgs
{
    qel_vp::PrinterOptions options;
    std::string config_file;
    bool address_given = false;
};

// The next free address after `from` on a bus (1-127, wrapping), 0 when none is.
unsigned next_free_address(const std::vector<PrinterArgs>& printer_args, unsigned bus,
                           unsigned from)
{
    for (unsigned step = 1; step <= 127; ++step)
    {
        const unsigned a = (from - 1 + step) % 127 + 1;
        bool taken = false;
        for (const PrinterArgs& s : printer_args)
            taken = taken || (s.options.kind == qel_vp::PortKind::Usb && s.options.bus == bus &&
                              s.options.address == a);
        if (!taken)
            return a;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    PrinterArgs defaults;
    std::vector<PrinterArgs> printer_args;
    std::string decode_path;
    // Options before the first port are defaults; after a port they are that printer's own.
    auto current = [&]() -> PrinterArgs&
    { return printer_args.empty() ? defaults : printer_args.back(); };

    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        auto value = [&]() -> const char* { return argv[++i]; };
        if ((arg == "--tty" || arg == "--lp") && has_value)
        {
            printer_args.push_back(defaults);
            printer_args.back().options.kind =
                arg == "--tty" ? qel_vp::PortKind::Ttys : qel_vp::PortKind::Lp;
            printer_args.back().options.link_path = value();
        }
        else if (arg == "--usb")
        {
            printer_args.push_back(defaults);
            printer_args.back().options.kind = qel_vp::PortKind::Usb;
        }
        else if ((arg == "--product" || arg == "--bus" || arg == "--address") && has_value)
        {
            unsigned long n = 0;
            const char* text = value();
            if (!parse_number(text, arg == "--product" ? 0xFFFF : 127, n) ||
                (arg != "--product" && n == 0))
            {
                std::fprintf(stderr, "qel-printer-emulator: bad %s value \"%s\"\n", arg.c_str(),
                             text);
                return 2;
            }
            if (arg == "--product")
                current().options.product = static_cast<std::uint16_t>(n);
            else if (arg == "--bus")
                current().options.bus = static_cast<unsigned>(n);
            else
            {
                current().options.address = static_cast<unsigned>(n);
                current().address_given = true;
            }
        }
        else if (arg == "--serial" && has_value)
        {
            const std::string serial = value();
            if (serial.empty() || serial.size() > 17)
            {
                std::fprintf(stderr, "qel-printer-emulator: --serial takes 1 to 17 characters\n");
                return 2;
            }
            current().options.serial = serial;
        }
        else if (arg == "--out" && has_value)
            current().options.out_dir = value();
        else if (arg == "--transcript" && has_value)
            current().options.transcript_file = value();
        else if (arg == "--config-file" && has_value)
            current().config_file = value();
        else if (arg == "--decode" && has_value)
            decode_path = value();
        else if (arg == "--raw")
            current().options.protocol = false;
        else if ((arg == "--fault" || arg == "--stall-after") && has_value)
        {
            std::string error;
            qel_vp::Fault fault;
            qel_vp::Stall stall;
            const bool ok = arg == "--fault" ? qel_vp::parse_fault(value(), fault, &error)
                                             : qel_vp::parse_stall(value(), stall, &error);
            if (!ok)
            {
                std::fprintf(stderr, "qel-printer-emulator: %s\n", error.c_str());
                return 2;
            }
            if (arg == "--fault")
                current().options.faults.push_back(fault);
            else
                current().options.stalls.push_back(stall);
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
        return decode_file(decode_path, defaults.options.out_dir);
    if (printer_args.empty())
    {
        usage(stderr);
        return 2;
    }
    bool usb = false;
    for (std::size_t n = 0; n < printer_args.size(); ++n)
    {
        PrinterArgs& args = printer_args[n];
        qel_vp::PrinterOptions& o = args.options;
        if (o.kind == qel_vp::PortKind::Usb)
        {
            usb = true;
            // Printers without an address of their own take the next free one from 5 on.
            if (!args.address_given)
            {
                std::vector<PrinterArgs> placed;
                for (const PrinterArgs& other : printer_args)
                    if (other.address_given)
                        placed.push_back(other);
                o.address = next_free_address(placed, o.bus, 4);
                args.address_given = true;
            }
        }
        if (!args.config_file.empty())
        {
            std::string error;
            if (!qel_vp::load_printer_data(args.config_file, o.data, &error))
            {
                std::fprintf(stderr, "qel-printer-emulator: %s\n", error.c_str());
                return 2;
            }
        }
    }

    // The signals are taken by sigwait below; block them before any thread starts.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::vector<std::unique_ptr<qel_vp::VirtualPrinter>> printers;
    for (const PrinterArgs& args : printer_args)
    {
        printers.push_back(std::make_unique<qel_vp::VirtualPrinter>(args.options));
        std::string error;
        if (!printers.back()->start(&error))
        {
            std::fprintf(stderr, "qel-printer-emulator: %s\n", error.c_str());
            return 1;
        }
    }
    if (usb)
        for (const auto& p : printers)
            if (!p->umockdev_dir().empty())
            {
                std::printf("UMOCKDEV_DIR=%s\n", p->umockdev_dir().c_str());
                break;
            }
    for (const auto& p : printers)
        std::printf("READY %s\n", p->port_name().c_str());
    std::fflush(stdout);

    int signal_number = 0;
    while (sigwait(&signals, &signal_number) == 0 && signal_number == SIGUSR1)
    {
        // A host that enumerates again finds every USB printer at another address.
        for (std::size_t n = 0; n < printer_args.size(); ++n)
        {
            qel_vp::PrinterOptions& o = printer_args[n].options;
            if (o.kind != qel_vp::PortKind::Usb)
                continue;
            const unsigned to = next_free_address(printer_args, o.bus, o.address);
            const std::string from = printers[n]->port_name();
            std::string error;
            if (to == 0 || !printers[n]->replug(to, &error))
            {
                std::fprintf(stderr, "qel-printer-emulator: %s: %s\n", from.c_str(), error.c_str());
                continue;
            }
            o.address = to;
            std::printf("MOVED %s %s\n", from.c_str(), printers[n]->port_name().c_str());
        }
        std::fflush(stdout);
    }

    for (std::size_t n = 0; n < printers.size(); ++n)
    {
        qel_vp::VirtualPrinter& printer = *printers[n];
        const std::string name = printer.port_name();
        printer.stop();
        const auto frames = printer.transcript();
        const auto errors = printer.errors();
        std::fprintf(stderr,
                     "qel-printer-emulator: %s: %zu bytes, %zu frames, %zu pages, %zu boundary "
                     "errors, %zu errors\n",
                     name.c_str(), printer.received().size(), frames.size(), printer.pages().size(),
                     printer.boundary_errors().size(), errors.size());
        for (const auto& e : errors)
            std::fprintf(stderr, "qel-printer-emulator: %s: offset %zu: %s\n", name.c_str(),
                         e.offset, e.message.c_str());
    }
    return 0;
}
