// The printer access library's port behind the exchanges' transport.
#include "api_transport.h"

#include "Qel_Api.h"

namespace
{

intptr_t lo_handle(void* pvContext)
{
    return *static_cast<intptr_t*>(pvContext);
}

int lo_write(void* pvContext, const unsigned char* pubData, int nData, unsigned long iTimeoutMs)
{
    /* The library takes a non-const buffer but only reads it. */
    return qel_api_printer_write(lo_handle(pvContext), const_cast<unsigned char*>(pubData), nData,
                                 iTimeoutMs);
}

int lo_read(void* pvContext, unsigned char* pubData, int nData, unsigned long iTimeoutMs)
{
    return qel_api_printer_read(lo_handle(pvContext), pubData, nData, iTimeoutMs);
}

int lo_clear(void* pvContext)
{
    return qel_api_printer_clear(lo_handle(pvContext));
}

} // namespace

void qel_pd_api_transport(TS_QEL_PD_TRANSPORT* psPort, intptr_t* piPrinter)
{
    psPort->pvContext = piPrinter;
    psPort->pfnWrite = lo_write;
    psPort->pfnRead = lo_read;
    psPort->pfnClear = lo_clear;
    psPort->pfnPause = nullptr;
}
