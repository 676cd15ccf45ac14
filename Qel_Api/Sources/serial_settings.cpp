// serial_settings.cpp - raw mode with hardware flow control for a printer on a serial line.
#include "api_internal.h"
#include "Qel_Api.h"

#include <array>
#include <cstring>
#include <utility>

namespace
{
// Supported line speeds; any other rate runs the line at 115200.
constexpr std::array<std::pair<unsigned long, speed_t>, 7> kSpeeds = {{
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
}};

speed_t lo_speed_code(unsigned long baud_rate)
{
    for (const auto& [rate, code] : kSpeeds)
    {
        if (rate == baud_rate)
        {
            return code;
        }
    }
    return B115200;
}
} // namespace

/*
 * api_build_serial_settings - the line settings, built from nothing each time.
 *
 *   baud_rate  I  bits per second (see kSpeeds)
 *   data_bits  I  ignored: the printer always uses 8 data bits
 *   parity     I  'E'/'e' even, 'O'/'o' odd, anything else none
 *   stop_bits  I  2 for two stop bits, anything else one
 *
 * Input: framing and parity errors dropped. No output processing, no
 * canonical mode, echo or signals. A read returns what arrived within 0.1 s.
 */
struct termios api_build_serial_settings(unsigned long baud_rate, unsigned char data_bits,
                                         unsigned char parity, unsigned char stop_bits)
{
    (void)data_bits;
    struct termios settings;
    std::memset(&settings, 0, sizeof settings);

    const speed_t speed = lo_speed_code(baud_rate);
    settings.c_iflag = IGNPAR;
    settings.c_oflag = 0;
    settings.c_cflag = speed | CRTSCTS | CLOCAL | CREAD | CS8;
    if (parity == 'E' || parity == 'e')
    {
        settings.c_cflag |= PARENB;
    }
    else if (parity == 'O' || parity == 'o')
    {
        settings.c_cflag |= PARENB | PARODD;
    }
    if (stop_bits == 2)
    {
        settings.c_cflag |= CSTOPB;
    }
    settings.c_lflag = 0;
    settings.c_cc[VTIME] = 1;
    settings.c_cc[VMIN] = 0;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    return settings;
}

/*
 * qel_api_printer_set_serial - apply the settings above to a character-device
 * port, discarding input not yet read. Returns 0 for a negative handle, else 1
 * (the line's own answer is not looked at; a USB port is left alone).
 */
int qel_api_printer_set_serial(intptr_t printer, unsigned long baud_rate, unsigned char data_bits,
                               unsigned char parity, unsigned char stop_bits)
{
    if (printer < 0)
    {
        return 0;
    }
    if (communication != kKindCharDevice)
    {
        return 1;
    }
    const int fd = static_cast<int>(printer);
    struct termios settings = api_build_serial_settings(baud_rate, data_bits, parity, stop_bits);
    tcflush(fd, TCIFLUSH);
    tcsetattr(fd, TCSANOW, &settings);
    return 1;
}
