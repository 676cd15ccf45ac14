// Packages of the print monitor protocol: the 24-byte header and the 44-byte
// page settings, laid out little-endian on the wire whatever the host.
#pragma once

#include "Qel_Tb.h"

#include <cups/raster.h>

#include <cstddef>
#include <cstdint>

inline constexpr size_t QEL_PACKAGE_HEADER_BYTES = 24;
inline constexpr size_t QEL_PAGE_SETTINGS_BYTES = 44;

// A header {0x01010101, 24, id, data_size}.
TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER make_package_header(int32_t id, uint64_t data_size);

// Header to wire bytes and back.
void pack_package_header(const TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER& header,
                         unsigned char out[QEL_PACKAGE_HEADER_BYTES]);
TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER
unpack_package_header(const unsigned char in[QEL_PACKAGE_HEADER_BYTES]);

// The answer to a poll from the bytes that arrived: the header itself when all
// 24 bytes came with the right synchronization word, the header with id NONE
// when the word is wrong, and {sync, 24, NONE, 0} when fewer bytes came.
TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER answer_from_bytes(const unsigned char* bytes,
                                                     unsigned long count);

// The page settings record: the page header's fields, unchanged.
TS_QEL_TB_PAGE_PROCCESS_PAGE_SETTINGS page_settings_from_header(const cups_page_header2_t& header);
void pack_page_settings(const TS_QEL_TB_PAGE_PROCCESS_PAGE_SETTINGS& settings,
                        unsigned char out[QEL_PAGE_SETTINGS_BYTES]);
