// Qel_ConfigurationTool: downloads, prints and uploads the printer's 255-byte
// configuration block and resets the printer.
#include "config_block.h"
#include "config_exchange.h"

#include "tool_frame.h"

#include <array>
#include <cstdio>

namespace
{

enum
{
    EV_CONFIG_FLAG_UPLOAD = 0x01,
    EV_CONFIG_FLAG_DOWNLOAD = 0x02,
    EV_CONFIG_FLAG_RESET = 0x04
};

const TS_QEL_TOOL_OPTION k_sOptions[] = {
    {"-u", EV_CONFIG_FLAG_UPLOAD},
    {"-d", EV_CONFIG_FLAG_DOWNLOAD},
    {"-r", EV_CONFIG_FLAG_RESET},
};

const char* const k_pszUsage[] = {
    "# Usage:    %s [-s] [-h] [-u] [-d] [-v] [-r] Printer\n",
    "#              [-s]            = enables silent mode\n",
    "#              [-h]            = enables help printout\n",
    "#              [-u]            = enables upload of configuration data\n",
    "#              [-d]            = enables download of configuration data\n",
    "#              [-v]            = enables verbose output of downloaded configuration \n",
    "#              [-r]            = enables reset of the printer\n",
    "#              Printer         = name of the printer port to which the printer is connected "
    "starting with \"/\"\n",
    "# Notes:    The configuration data is uploaded from stdin and downloaded to stdout.\n",
    "#           In case both upload and download is selected, upload is done before download.\n",
    "#           In case reset is selected, reset is done after both upload and download.\n",
    "#           The printer requires a reset for uploaded configuration data to become "
    "effective.\n",
    "# Examples: %s -s -u -r -d -v \"/dev/Ttys1\"\n",
    "# Examples: %s -s -d -v \"/dev/usb/lp0\"\n",
};

constexpr TS_QEL_TOOL_DESC k_sTool = qel_tool_reset_desc(
    "Qel_ConfigurationTool", __DATE__, __TIME__, k_sOptions, EV_CONFIG_FLAG_RESET,
    EV_QEL_TOOL_SECOND_NONE, "missing printer port (e.g. \"\\dev\\usb\\lp0\")",
    "# Opening connection to printer port \"%s\" ... ",
    "# Closing connection to printer port \"%s\" ... ", k_pszUsage);

// Step 1: the block from standard input, checked before the port is opened.
int lo_read_input(TS_QEL_TOOL_RUN* psRun, unsigned char* pubBlock)
{
    qel_tool_progress(psRun, "# Processing configuration data input ... ");
    const int fOk = qel_pd_config_input_read(stdin, pubBlock);
    qel_tool_outcome(psRun, fOk);
    if (!fOk)
        qel_tool_error(psRun, "failed processing configuration data input\n");
    return fOk;
}

int lo_upload(TS_QEL_TOOL_RUN* psRun, unsigned char* pubBlock)
{
    qel_tool_progress(psRun, "# Uploading configuration data ... ");
    return qel_tool_step_outcome(
        psRun, lo_upload_configuration_data(psRun->iPrinter, pubBlock, QEL_PD_CONFIG_BLOCK_SIZE),
        "configuration data upload");
}

// Downloads the block and prints it as received: line, then with "-v" the fields.
int lo_download(TS_QEL_TOOL_RUN* psRun, unsigned char* pubBlock)
{
    qel_tool_progress(psRun, "# Downloading configuration data ... ");
    if (!qel_tool_step_outcome(
            psRun,
            lo_download_configuration_data(psRun->iPrinter, pubBlock, QEL_PD_CONFIG_BLOCK_SIZE),
            "configuration data download"))
        return 0;
    qel_pd_config_line_print(psRun->psOut, pubBlock);
    if (psRun->fVerbose)
        qel_pd_config_list(psRun->psOut, pubBlock);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    TS_QEL_TOOL_RUN sRun;
    std::array<unsigned char, QEL_PD_CONFIG_BLOCK_SIZE> ubBlock{};

    /* Order: input, open, upload, download, reset, close. A failed step ends the run. */
    if (qel_tool_start(&sRun, &k_sTool, stdout, argc, argv))
    {
        const int iFlags = sRun.iToolFlags;
        if ((iFlags & EV_CONFIG_FLAG_UPLOAD) && !lo_read_input(&sRun, ubBlock.data()))
            return qel_tool_finish(&sRun);
        if (qel_tool_connect(&sRun))
        {
            if ((iFlags & EV_CONFIG_FLAG_UPLOAD) && !lo_upload(&sRun, ubBlock.data()))
                return qel_tool_finish(&sRun);
            if ((iFlags & EV_CONFIG_FLAG_DOWNLOAD) && !lo_download(&sRun, ubBlock.data()))
                return qel_tool_finish(&sRun);
            if ((iFlags & EV_CONFIG_FLAG_RESET) && !config_reset_step(&sRun))
                return qel_tool_finish(&sRun);
            qel_tool_disconnect(&sRun);
        }
    }
    return qel_tool_finish(&sRun);
}
