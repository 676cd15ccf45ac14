/* c_header_check.c - the interface of libQelApi seen from a C program. */
#include "Qel_Api.h"

#include <stdio.h>
#include <string.h>

static int failures = 0;

static void check(int ok, const char* what)
{
    if (!ok)
    {
        printf("FAILED: %s\n", what);
        failures++;
    }
}

int main(void)
{
    unsigned char byte = 0;
    char no_marker[] = "/dev/ttyS0";

    /* State at load time. */
    check(DEBUG_MESSAGES == 0, "DEBUG_MESSAGES starts at 0");
    check(communication == 0, "no port kind at load");
    check(QEL_API_ACCESS_WRITE == 0x02, "OUT endpoint 0x02");
    check(QEL_API_ACCESS_READ == 0x81, "IN endpoint 0x81");
    check(QEL_API_ACCESS_READ_ENDPOINT_SIZE == 64, "packet size 64");
    check(QEL_API_INTERFACE == 0, "interface 0");
    check(m_pub_rx_buffer == NULL && m_index_rx_bottom == 0 && m_index_rx_top == 0,
          "no receive ring at load");
    check(strcmp(qel_api_get_library_info(), "Dornwaldt - libQelApi.so - R4-V1.04 - S417302") == 0,
          "version text");
    check(qel_api_get_library_info() == qel_api_get_library_info(), "version text is static");

    /* Without a port every operation does nothing. */
    check(qel_api_printer_open(NULL) == -2, "null name gives -2");
    check(qel_api_printer_open(no_marker) == -2, "no marker in a fresh process gives -2");
    check(communication == 0, "a failed name leaves the kind");
    check(qel_api_printer_write(3, &byte, 1, 0) == 0, "write without a port");
    check(qel_api_printer_read(3, &byte, 1, 0) == 0, "read without a port");
    check(qel_api_printer_clear(3) == 0, "clear without a port");
    check(qel_api_printer_clear(-1) == 0, "clear with a negative handle");
    check(qel_api_printer_set_serial(-1, 9600, 8, 'n', 1) == 0, "serial with a negative handle");
    qel_api_printer_close(-1);
    qel_api_printer_close(3);

    if (failures == 0)
    {
        printf("C interface: all checks passed\n");
    }
    return failures == 0 ? 0 : 1;
}
