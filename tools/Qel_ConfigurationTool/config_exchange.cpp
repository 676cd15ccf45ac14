// The configuration tool's printer exchanges on the open port of the printer access library.
#include "config_exchange.h"

#include "api_transport.h"
#include "config_block.h"

const char* lo_download_configuration_data(intptr_t printer, unsigned char* block,
                                           unsigned short size)
{
    TS_QEL_PD_TRANSPORT sPort;
    qel_pd_api_transport(&sPort, &printer);
    return qel_pd_config_download(&sPort, block, size);
}

const char* lo_upload_configuration_data(intptr_t printer, unsigned char* block,
                                         unsigned short size)
{
    TS_QEL_PD_TRANSPORT sPort;
    qel_pd_api_transport(&sPort, &printer);
    return qel_pd_config_upload(&sPort, block, size);
}

const char* lo_reset_printer(intptr_t printer)
{
    TS_QEL_PD_TRANSPORT sPort;
    qel_pd_api_transport(&sPort, &printer);
    return qel_pd_reset_printer(&sPort);
}

int config_reset_step(TS_QEL_TOOL_RUN* psRun)
{
    qel_tool_progress(psRun, "# Resetting printer ... ");
    return qel_tool_step_outcome(psRun, lo_reset_printer(psRun->iPrinter), "reset printer");
}
