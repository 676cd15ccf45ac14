// api_state.cpp - process-wide port state and the version text of the library.
#include "Qel_Api.h"
#include "api_internal.h"

// The C interface drives one printer per process; these are its port variables
// (port objects keep their own, port.cpp).
int DEBUG_MESSAGES = 0;
int communication = 0;
int QEL_API_ACCESS_WRITE = 0x02;
int QEL_API_ACCESS_READ = 0x81;
int QEL_API_ACCESS_READ_ENDPOINT_SIZE = 64;
int QEL_API_INTERFACE = 0;
unsigned char* m_pub_rx_buffer = nullptr;
int m_index_rx_bottom = 0;
int m_index_rx_top = 0;

namespace qel::detail
{
UsbEndpoints default_endpoints()
{
    return {QEL_API_ACCESS_WRITE, QEL_API_ACCESS_READ, QEL_API_ACCESS_READ_ENDPOINT_SIZE,
            QEL_API_INTERFACE};
}

RxRing default_ring()
{
    return {m_pub_rx_buffer, m_index_rx_bottom, m_index_rx_top};
}
} // namespace qel::detail

namespace
{
// Maker - file name - release - part number.
char lo_library_info[] = "Dornwaldt - libQelApi.so - R4-V1.04 - S417302";
} // namespace

char* qel_api_get_library_info(void)
{
    return lo_library_info;
}
