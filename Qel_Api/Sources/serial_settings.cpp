// serial_settings.cpp - raw mode with hardware flow control for a printer on a serial line.
#include "api_internal.h"
#include "port.h"
#include "Qel_Api.h"

#include <array>
#include <charconv>
#include <cstring>
#include <span>
#include <utility>

namespace
{
// Rates a port object may set on any tty device.
constexpr std::array<std::pair<unsigned long, speed_t>, 9> kPortSpeeds = {{
    {1200, B1200},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
}};

// Line speeds of the C interface: 2400 to 115200; any other rate runs the
// line at 115200.
constexpr std::span<const std::pair<unsigned long, speed_t>> kSpeeds =
    std::span(kPortSpeeds).subspan(1, 7);

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

namespace qel
{
std::optional<unsigned long> parse_baud_rate(std::string_view text)
{
    unsigned long rate = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, rate);
    if (text.empty() || error != std::errc() || stop != end)
    {
        return std::nullopt;
    }
    speed_t code = 0;
    if (!detail::serial_speed_code(rate, &code))
    {
        return std::nullopt;
    }
    return rate;
}
} // namespace qel

namespace qel::detail
{
bool serial_speed_code(unsigned long baud_rate, speed_t* code)
{
    for (const auto& [rate, speed] : kPortSpeeds)
    {
        if (rate == baud_rate)
        {
            *code = speed;
            return true;
        }
    }
    return false;
}

/*
 * serial_settings - the line settings, built from nothing each time.
 *
 *   speed      I  speed code for both directions
 *   parity     I  'E'/'e' even, 'O'/'o' odd, anything else none
 *   stop_bits  I  2 for two stop bits, anything else one
 *   rts_cts    I  RTS/CTS hardware flow control
 *
 * Always 8 data bits. Input: framing and parity errors dropped. No output
 * processing, no canonical mode, echo or signals. A read returns what
 * arrived within 0.1 s.
 */
struct termios serial_settings(speed_t speed, unsigned char parity, unsigned char stop_bits,
                               bool rts_cts)
{
    struct termios settings;
    std::memset(&settings, 0, sizeof settings);
    settings.c_iflag = IGNPAR;
    settings.c_oflag = 0;
    settings.c_cflag = speed | CLOCAL | CREAD | CS8;
    if (rts_cts)
    {
        settings.c_cflag |= CRTSCTS;
    }
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

bool char_apply_settings(int fd, const struct termios& settings)
{
    tcflush(fd, TCIFLUSH);
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}
} // namespace qel::detail

/*
 * api_build_serial_settings - the settings of the C interface: the rates of
 * kSpeeds (others run at 115200), always RTS/CTS.
 *
 *   data_bits  I  ignored: the printer always uses 8 data bits
 */
struct termios api_build_serial_settings(unsigned long baud_rate, unsigned char data_bits,
                                         unsigned char parity, unsigned char stop_bits)
{
    (void)data_bits;
    return qel::detail::serial_settings(lo_speed_code(baud_rate), parity, stop_bits, true);
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
    (void)qel::detail::char_apply_settings(
        fd, api_build_serial_settings(baud_rate, data_bits, parity, stop_bits));
    return 1;
}
