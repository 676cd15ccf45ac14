// Printer exchanges of the configuration tool: download and upload of the
// 255-byte configuration block, and the hard reset command that the upload
// tool sends as well. Each is one exchange of the tool frame, given as data.
#include "config_exchange.h"

#include "tool_frame.h"

#include <array>

namespace
{

// Every write of these exchanges, and the download header read.
constexpr unsigned long kWriteTimeoutMs = 500;
constexpr unsigned long kDownloadHeaderTimeoutMs = 500;
constexpr unsigned long kDownloadBlockTimeoutMs = 3000;
// The printer answers an upload only after it has stored the block.
constexpr unsigned long kUploadResponseTimeoutMs = 5000;

} // namespace

const char* lo_download_configuration_data(intptr_t printer, unsigned char* block,
                                           unsigned short size)
{
    std::array<unsigned char, 4> request = {0x1B, 0xFF, 0x46, 0x00};
    TS_QEL_TOOL_EXCHANGE sExchange{};
    sExchange.pubRequest = request.data();
    sExchange.nRequest = static_cast<int>(request.size());
    sExchange.iWriteTimeoutMs = kWriteTimeoutMs;
    sExchange.pszRequestFailed = "Could not send configuration data download request to printer";
    /* The size byte of the answer must be the block size asked for. */
    sExchange.ubType = 0x47;
    sExchange.ubSize = static_cast<unsigned char>(size);
    sExchange.iHeaderTimeoutMs = kDownloadHeaderTimeoutMs;
    sExchange.pszNoHeader = "Did not receive configuration data response header";
    sExchange.pszTypeMismatch =
        "Mismatch in type of received download configuration data response header";
    sExchange.pszSizeMismatch =
        "Mismatch in size of received download configuration data response header";
    sExchange.pubData = block;
    sExchange.nData = size;
    sExchange.iDataTimeoutMs = kDownloadBlockTimeoutMs;
    sExchange.pszNoData = "Did not receive configuration data";
    return qel_tool_exchange(printer, &sExchange);
}

const char* lo_upload_configuration_data(intptr_t printer, unsigned char* block,
                                         unsigned short size)
{
    std::array<unsigned char, 4> request = {0x1B, 0xFF, 0x26, static_cast<unsigned char>(size)};
    TS_QEL_TOOL_EXCHANGE sExchange{};
    sExchange.pubRequest = request.data();
    sExchange.nRequest = static_cast<int>(request.size());
    sExchange.pubPayload = block;
    sExchange.nPayload = size;
    sExchange.iWriteTimeoutMs = kWriteTimeoutMs;
    sExchange.pszRequestFailed = "Could not send configuration data upload request to printer 1";
    sExchange.pszPayloadFailed = "Could not send configuration data upload request to printer";
    sExchange.ubType = 0x27;
    sExchange.ubSize = 0x00;
    sExchange.iHeaderTimeoutMs = kUploadResponseTimeoutMs;
    sExchange.pszNoHeader = "Did not receive configuration data response header";
    sExchange.pszTypeMismatch =
        "Mismatch in type of received upload configuration data response header";
    sExchange.pszSizeMismatch =
        "Mismatch in size of received upload configuration data response header";
    return qel_tool_exchange(printer, &sExchange);
}

const char* lo_reset_printer(intptr_t printer)
{
    /* The printer restarts at once and sends nothing back. */
    std::array<unsigned char, 4> command = {0x1B, 0xF2, 0x03, 0x00};
    TS_QEL_TOOL_EXCHANGE sExchange{};
    sExchange.pubRequest = command.data();
    sExchange.nRequest = static_cast<int>(command.size());
    sExchange.iWriteTimeoutMs = kWriteTimeoutMs;
    sExchange.pszRequestFailed = "Could not send hard reset command to printer";
    sExchange.fNoResponse = 1;
    return qel_tool_exchange(printer, &sExchange);
}

int config_reset_step(TS_QEL_TOOL_RUN* psRun)
{
    qel_tool_progress(psRun, "# Resetting printer ... ");
    const char* pszFailure = lo_reset_printer(psRun->iPrinter);
    qel_tool_outcome(psRun, pszFailure == nullptr);
    if (pszFailure != nullptr)
        qel_tool_error(psRun, "reset printer failed => %s\n", pszFailure);
    return pszFailure == nullptr;
}
