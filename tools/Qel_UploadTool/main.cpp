// Qel_UploadTool: validates an upload file (firmware, fonts, logo, images) and
// sends it to the printer through the data-exchange upload.
#include "upload_file.h"
#include "upload_transfer.h"

#include "config_exchange.h"
#include "tool_frame.h"

#include <cstdlib>
#include <memory>

namespace
{

enum
{
    EV_UPLOAD_FLAG_RESET = 0x01,
    // Paced transfer for lines without flow control. It selects the transfer mode
    // only; it does not reset the printer.
    EV_UPLOAD_FLAG_SLOW = 0x02
};

const TS_QEL_TOOL_OPTION k_sOptions[] = {
    {"-r", EV_UPLOAD_FLAG_RESET},
    {"-S", EV_UPLOAD_FLAG_SLOW},
};

const char* const k_pszUsage[] = {
    "# Usage:    %s [-s] [-h] [-v] [-r] [-s] Printer [File]\n",
    "#              [-s]            = enables silent mode\n",
    "#              [-h]            = enables help printout\n",
    "#              [-v]            = enables verbose output of uploaded files\n",
    "#              [-r]            = enables reset of the printer at the end of all uploads\n",
    "#              [-S]            = enables secure upload (slow upload which can be used in "
    "case flow control is off)\n",
    "#              Printer         = name of the printer printer_port to which the printer is "
    "connected starting with \"\\\"\n",
    "#              [File]          = name of the file which must be uploaded\n",
    "# Notes:    The data is uploaded from files only.\n",
    "#           The printer requires a reset for uploaded data to become effective.\n",
    "# Examples: %s -s -r \"/dev/Ttys1\" Qel_Firmware.QelBin\n",
    "#           %s -s \"/dev/Ttys1\" Qel_Fonts.QelBin\n",
};

constexpr TS_QEL_TOOL_DESC k_sTool = qel_tool_reset_desc(
    "Qel_UploadTool", __DATE__, __TIME__, k_sOptions, EV_UPLOAD_FLAG_RESET, EV_QEL_TOOL_SECOND_FILE,
    "missing printer printer_port (e.g. \"\\dev\\usb\\lp0\")",
    "# Opening connection to printer printer_port \"%s\" ... ",
    "# Closing connection to printer printer_port \"%s\" ... ", k_pszUsage);

struct TS_FREE
{
    void operator()(unsigned char* p) const { std::free(p); }
};
using TS_FILE_BUFFER = std::unique_ptr<unsigned char, TS_FREE>;

// Loading, validation and listing, before the port is opened.
int lo_prepare(TS_QEL_TOOL_RUN* psRun, TS_FILE_BUFFER& file, std::size_t& nFile)
{
    qel_tool_progress(psRun, "# Loading upload data from file ... ");
    file.reset(upload_file_load(psRun->pszFile, &nFile));
    qel_tool_outcome(psRun, file != nullptr);
    if (file == nullptr)
    {
        qel_tool_error(psRun, "failed loading upload data from file \"%s\"\n", psRun->pszFile);
        return 0;
    }

    qel_tool_progress(psRun, "# Validating upload data ... ");
    const int fValid = upload_file_validate(file.get(), nFile) == EV_UPLOAD_FILE_VALID;
    qel_tool_outcome(psRun, fValid);
    if (!fValid)
    {
        qel_tool_error(psRun, "failed validating upload data from file \"%s\"\n", psRun->pszFile);
        return 0;
    }

    if (psRun->fVerbose)
        upload_file_list(psRun->psOut, file.get(), nFile);
    return 1;
}

int lo_upload(TS_QEL_TOOL_RUN* psRun, unsigned char* pubFile, std::size_t nFile)
{
    /* Buffered by default (flow control on USB and RTS/CTS lines); "-S" paces the blocks. */
    const int iMode =
        (psRun->iToolFlags & EV_UPLOAD_FLAG_SLOW) ? UPLOAD_MODE_PACED : UPLOAD_MODE_BUFFERED;
    const unsigned short wTypeMask = upload_get_u16(pubFile + UPLOAD_OFFSET_TYPE_MASK);
    unsigned char* pubData = pubFile + UPLOAD_HEADER_SIZE;
    const auto nData = static_cast<unsigned int>(nFile - UPLOAD_FRAME_SIZE);

    qel_tool_progress(psRun, "# Uploading data ");
    const char* pszFailure =
        psRun->iPortClass == 1
            ? lo_upload_data_new(psRun->iPrinter, wTypeMask, pubData, nData, iMode, psRun->fSilent)
            : lo_upload_data(psRun->iPrinter, wTypeMask, pubData, nData, iMode, psRun->fSilent);
    qel_tool_progress(psRun, pszFailure == nullptr ? " done\n" : " failed\n");
    if (pszFailure != nullptr)
        qel_tool_error(psRun, "upload data failed => %s\n", pszFailure);
    return pszFailure == nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    TS_QEL_TOOL_RUN sRun;
    TS_FILE_BUFFER file;
    std::size_t nFile = 0;

    /* Order: load and validate, open, upload, reset, close. A failed step ends the run. */
    if (qel_tool_start(&sRun, &k_sTool, stdout, argc, argv))
    {
        if (sRun.pszFile != nullptr && !lo_prepare(&sRun, file, nFile))
            return qel_tool_finish(&sRun);
        if (qel_tool_connect(&sRun))
        {
            if (file != nullptr && !lo_upload(&sRun, file.get(), nFile))
                return qel_tool_finish(&sRun);
            if ((sRun.iToolFlags & EV_UPLOAD_FLAG_RESET) && !config_reset_step(&sRun))
                return qel_tool_finish(&sRun);
            qel_tool_disconnect(&sRun);
        }
    }
    return qel_tool_finish(&sRun);
}
