// The page encoder's settings and layout from a CUPS page header.
#include "page_encoder.h"

TS_QEL_PAGE_SETTINGS printer_settings_from_header(const cups_page_header2_t& header)
{
    TS_QEL_PAGE_SETTINGS settings;
    settings.speed = static_cast<unsigned char>(header.cupsRowFeed & 0xFF);
    settings.density = density_for_step(header.cupsCompression);
    settings.path = path_for_position(header.MediaPosition);
    return settings;
}

TS_QEL_PAGE_LAYOUT page_layout_from_header(const cups_page_header2_t& header)
{
    TS_QEL_PAGE_LAYOUT layout;
    layout.width_bytes = header.cupsBytesPerLine;
    layout.height = header.cupsHeight;
    layout.cut_lines = header.AdvanceDistance;
    layout.f_trim_bottom = header_value(header.Duplex) == 1;
    layout.f_trim_top = header_trims_top(header);
    layout.f_form_feed = header_value(header.AdvanceMedia) == 1;
    layout.f_cut = header_value(header.CutMedia) != 0;
    return layout;
}

void start_page(const cups_page_header2_t& header, TS_QEL_PAGE_STREAM& stream)
{
    append_page_start(printer_settings_from_header(header), stream);
}

uint32_t write_page_end(const cups_page_header2_t& header, unsigned char* out)
{
    return write_page_end_cut(header, header_value(header.CutMedia) != 0, out);
}

uint32_t write_page_end_cut(const cups_page_header2_t& header, bool f_cut, unsigned char* out)
{
    return write_page_end(header_value(header.AdvanceMedia) == 1, f_cut, out);
}
