// Opening, synchronising and closing the printer connection, and the tools' final clean-up.
#include "frame_internal.h"

#include "Qel_Api.h"
#include "printer_exchange.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace
{

constexpr int k_nSyncBytes = 10;
constexpr unsigned long k_iSyncWriteTimeoutMs = 500;
constexpr unsigned long k_iSyncPauseUs = 500000;

} // namespace

int qel_tool_connect(TS_QEL_TOOL_RUN* psRun)
{
    const TS_QEL_TOOL_DESC* psDesc = psRun->psDesc;

    /* Open the port by its name as typed. */
    qel_tool_print_port_line(psRun, psDesc->pszOpening);
    intptr_t iPrinter = qel_api_printer_open(psRun->pszPort);
    if (iPrinter < 0)
    {
        /* Every negative value is a failure code of open: nothing to close. */
        qel_tool_outcome(psRun, 0);
        qel_tool_error(psRun, "could not open connection \"%s\"to printer \n", psRun->pszPort);
        return 0;
    }
    psRun->iPrinter = iPrinter;
    qel_tool_outcome(psRun, 1);

    /* Ten zero bytes let the printer drop a half-received command; the count is not checked. */
    qel_tool_progress(psRun, "# Sending synchronization characters ... ");
    std::array<unsigned char, k_nSyncBytes> ubSync{};
    (void)qel_api_printer_write(psRun->iPrinter, ubSync.data(), k_nSyncBytes,
                                k_iSyncWriteTimeoutMs);
    qel_pd_pause_us(k_iSyncPauseUs);
    qel_tool_outcome(psRun, 1);
    return 1;
}

void qel_tool_disconnect(TS_QEL_TOOL_RUN* psRun)
{
    const TS_QEL_TOOL_DESC* psDesc = psRun->psDesc;

    qel_tool_print_port_line(psRun, psDesc->pszClosing);
    if (psRun->iPrinter >= 0)
        qel_api_printer_close(psRun->iPrinter);
    psRun->iPrinter = -1;
    qel_tool_outcome(psRun, 1);

    /* A printer that was reset needs time before the next tool may talk to it. */
    if ((psRun->iToolFlags & psDesc->iPauseAfterCloseFlags) != 0)
        qel_pd_pause_us(psDesc->iPauseAfterCloseUs);

    std::free(psRun->pszPort);
    psRun->pszPort = nullptr;
    psRun->iResult = 0;
}

int qel_tool_finish(TS_QEL_TOOL_RUN* psRun)
{
    std::free(psRun->pszPort);
    psRun->pszPort = nullptr;
    std::free(psRun->pszFile);
    psRun->pszFile = nullptr;
    if (psRun->iPrinter >= 0)
    {
        qel_api_printer_close(psRun->iPrinter);
        psRun->iPrinter = -1;
    }
    std::fflush(psRun->psOut);
    return psRun->iResult;
}
