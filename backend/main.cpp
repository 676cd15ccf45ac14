// main.cpp - the qel CUPS backend: discovery without arguments, a job with
// job-id user title copies options [file].
#include "device_uri.h"
#include "discovery.h"
#include "discovery_lines.h"
#include "job.h"
#include "side_channel.h"
#include "status_lines.h"

#include <cups/backend.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

const char kUsage[] =
    "Usage: qel job-id user title copies options [file]\n"
    "       qel                 (lists the attached QEL printers)\n"
    "Device URIs (DEVICE_URI):\n"
    "  qel://QEL/<model>?serial=<serial number>  a USB printer by its serial number\n"
    "  qel:/dev/usb/lp0                          a USB printer-class node\n"
    "  qel:/dev/bus/usb/<bus>/<address>          a raw USB device\n"
    "  qel:/dev/ttyS0?baud=115200                a serial line (any tty, 8N1, RTS/CTS)\n";

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 1)
    {
        for (const std::string& line : qel_backend::discovery_lines(qel::discover_printers()))
            std::printf("%s\n", line.c_str());
        std::fflush(stdout);
        return CUPS_BACKEND_OK;
    }
    if (argc != 6 && argc != 7)
    {
        std::fputs(kUsage, stderr);
        return CUPS_BACKEND_FAILED;
    }

    const bool side_channel = qel_backend::side_channel_present();
    const char* uri_text = std::getenv("DEVICE_URI");
    if (!uri_text)
        uri_text = argv[0];
    const qel::DeviceUriResult parsed = qel::parse_device_uri(uri_text);
    if (!parsed.uri)
    {
        qel_backend::error(std::string("Bad device URI \"") + uri_text + "\": " + parsed.error);
        return CUPS_BACKEND_FAILED;
    }

    int input = 0;
    if (argc == 7)
    {
        input = ::open(argv[6], O_RDONLY | O_CLOEXEC);
        if (input < 0)
        {
            qel_backend::error(std::string("Unable to open print file ") + argv[6] + ": " +
                               std::strerror(errno));
            return CUPS_BACKEND_FAILED;
        }
    }
    const int status = qel_backend::run_job(*parsed.uri, input, side_channel);
    if (input != 0)
        ::close(input);
    return status;
}
