// Packages of the print monitor protocol, packed field by field.
#include "monitor_package.h"

#include "page_encoder.h"

#include <cstring>

namespace
{

void lo_put32(unsigned char* out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
    {
        out[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

void lo_put64(unsigned char* out, uint64_t value)
{
    for (int i = 0; i < 8; ++i)
    {
        out[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

uint32_t lo_get32(const unsigned char* in)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
    {
        value = (value << 8) | in[i];
    }
    return value;
}

uint64_t lo_get64(const unsigned char* in)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
    {
        value = (value << 8) | in[i];
    }
    return value;
}

} // namespace

TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER make_package_header(int32_t id, uint64_t data_size)
{
    TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER header;
    header.synchronization = QEL_TB_DRIVER_IO_SYNCHRONIZATION;
    header.header_size = static_cast<int32_t>(QEL_PACKAGE_HEADER_BYTES);
    header.id = id;
    header.data_size = data_size;
    return header;
}

void pack_package_header(const TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER& header,
                         unsigned char out[QEL_PACKAGE_HEADER_BYTES])
{
    lo_put64(out, header.synchronization);
    lo_put32(out + 8, static_cast<uint32_t>(header.header_size));
    lo_put32(out + 12, static_cast<uint32_t>(header.id));
    lo_put64(out + 16, header.data_size);
}

TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER
unpack_package_header(const unsigned char in[QEL_PACKAGE_HEADER_BYTES])
{
    TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER header;
    header.synchronization = lo_get64(in);
    header.header_size = static_cast<int32_t>(lo_get32(in + 8));
    header.id = static_cast<int32_t>(lo_get32(in + 12));
    header.data_size = lo_get64(in + 16);
    return header;
}

TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER answer_from_bytes(const unsigned char* bytes,
                                                     unsigned long count)
{
    if (bytes == nullptr || count < QEL_PACKAGE_HEADER_BYTES)
    {
        return make_package_header(EV_QEL_TB_DRIVER_IO_MSG_NONE, 0);
    }
    TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER answer = unpack_package_header(bytes);
    if (answer.synchronization != QEL_TB_DRIVER_IO_SYNCHRONIZATION)
    {
        answer.id = EV_QEL_TB_DRIVER_IO_MSG_NONE;
    }
    return answer;
}

TS_QEL_TB_PAGE_PROCCESS_PAGE_SETTINGS page_settings_from_header(const cups_page_header2_t& header)
{
    TS_QEL_TB_PAGE_PROCCESS_PAGE_SETTINGS settings;
    settings.print_density = static_cast<int32_t>(header.cupsCompression);
    settings.print_speed = static_cast<int32_t>(header.cupsRowFeed);
    settings.path_selection = static_cast<int32_t>(header.MediaPosition);
    settings.page_width_in_bytes = header.cupsBytesPerLine;
    settings.page_hight_in_bits = header.cupsHeight;
    settings.form_feed = static_cast<int32_t>(header_value(header.AdvanceMedia));
    settings.end_cut = static_cast<int32_t>(header_value(header.CutMedia));
    settings.advanced_distance = static_cast<int32_t>(header.AdvanceDistance);
    settings.trailing_blanks = static_cast<int32_t>(header_value(header.Duplex));
    settings.number_of_copies = static_cast<int32_t>(header.NumCopies);
    // The field means nothing to the monitor; no address of the filter's
    // memory leaves the process.
    settings.raster_header = 0;
    return settings;
}

void pack_page_settings(const TS_QEL_TB_PAGE_PROCCESS_PAGE_SETTINGS& settings,
                        unsigned char out[QEL_PAGE_SETTINGS_BYTES])
{
    const int32_t fields[] = {settings.print_density,
                              settings.print_speed,
                              settings.path_selection,
                              static_cast<int32_t>(settings.page_width_in_bytes),
                              static_cast<int32_t>(settings.page_hight_in_bits),
                              settings.form_feed,
                              settings.end_cut,
                              settings.advanced_distance,
                              settings.trailing_blanks,
                              settings.number_of_copies,
                              settings.raster_header};
    static_assert(sizeof fields == QEL_PAGE_SETTINGS_BYTES);
    for (size_t i = 0; i < sizeof fields / sizeof fields[0]; ++i)
    {
        lo_put32(out + 4 * i, static_cast<uint32_t>(fields[i]));
    }
}
