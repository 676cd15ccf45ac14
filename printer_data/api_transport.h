// The printer access library's open port (qel_api_printer_*) as a transport of the exchanges.
#ifndef QEL_PD_API_TRANSPORT_H
#define QEL_PD_API_TRANSPORT_H

#include "printer_exchange.h"

/*
 * qel_pd_api_transport() - fills psPort so that it writes, reads and clears through
 * qel_api_printer_write, _read and _clear on the handle that *piPrinter holds (an open
 * handle from qel_api_printer_open); the pauses sleep. *piPrinter must outlive psPort.
 */
void qel_pd_api_transport(TS_QEL_PD_TRANSPORT* psPort, /* O  the transport */
                          intptr_t* piPrinter);        /* I  the printer handle */

#endif
