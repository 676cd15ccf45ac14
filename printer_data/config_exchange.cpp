// Printer exchanges of the configuration block: download and upload of the 255-byte block, and
// the hard reset command that restarts the printer with it. Each is one exchange, given as data.
#include "config_block.h"

#include <array>

namespace
{

// Every write of these exchanges, and the download header read.
constexpr unsigned long kWriteTimeoutMs = 500;
constexpr unsigned long kDownloadHeaderTimeoutMs = 500;
constexpr unsigned long kDownloadBlockTimeoutMs = 3000;
// The printer answers an upload only after it has stored the block.
constexpr unsigned long kUploadResponseTimeoutMs = 5000;

constexpr const char* kNoResponseHeader = "Did not receive configuration data response header";

} // namespace

const char* qel_pd_config_download(const TS_QEL_PD_TRANSPORT* psPort, unsigned char* block,
                                   unsigned short size)
{
    static constexpr std::array<unsigned char, 4> request = {0x1B, 0xFF, 0x46, 0x00};
    /* The size byte of the answer must be the block size asked for. */
    const TS_QEL_PD_EXCHANGE sExchange = {
        .pubRequest = request.data(),
        .nRequest = static_cast<int>(request.size()),
        .iWriteTimeoutMs = kWriteTimeoutMs,
        .pszRequestFailed = "Could not send configuration data download request to printer",
        .ubType = 0x47,
        .ubSize = static_cast<unsigned char>(size),
        .iHeaderTimeoutMs = kDownloadHeaderTimeoutMs,
        .pszNoHeader = kNoResponseHeader,
        .pszTypeMismatch =
            "Mismatch in type of received download configuration data response header",
        .pszSizeMismatch =
            "Mismatch in size of received download configuration data response header",
        .pubData = block,
        .nData = size,
        .iDataTimeoutMs = kDownloadBlockTimeoutMs,
        .pszNoData = "Did not receive configuration data",
    };
    return qel_pd_exchange(psPort, &sExchange);
}

const char* qel_pd_config_upload(const TS_QEL_PD_TRANSPORT* psPort, const unsigned char* block,
                                 unsigned short size)
{
    const std::array<unsigned char, 4> request = {0x1B, 0xFF, 0x26,
                                                  static_cast<unsigned char>(size)};
    const TS_QEL_PD_EXCHANGE sExchange = {
        .pubRequest = request.data(),
        .nRequest = static_cast<int>(request.size()),
        .pubPayload = block,
        .nPayload = size,
        .iWriteTimeoutMs = kWriteTimeoutMs,
        .pszRequestFailed = "Could not send configuration data upload request to printer 1",
        .pszPayloadFailed = "Could not send configuration data upload request to printer",
        .ubType = 0x27,
        .ubSize = 0x00,
        .iHeaderTimeoutMs = kUploadResponseTimeoutMs,
        .pszNoHeader = kNoResponseHeader,
        .pszTypeMismatch = "Mismatch in type of received upload configuration data response header",
        .pszSizeMismatch = "Mismatch in size of received upload configuration data response header",
    };
    return qel_pd_exchange(psPort, &sExchange);
}

const char* qel_pd_reset_printer(const TS_QEL_PD_TRANSPORT* psPort)
{
    /* The printer restarts at once and sends nothing back. */
    static constexpr std::array<unsigned char, 4> command = {0x1B, 0xF2, 0x03, 0x00};
    const TS_QEL_PD_EXCHANGE sExchange = {
        .pubRequest = command.data(),
        .nRequest = static_cast<int>(command.size()),
        .iWriteTimeoutMs = kWriteTimeoutMs,
        .pszRequestFailed = "Could not send hard reset command to printer",
        .fNoResponse = 1,
    };
    return qel_pd_exchange(psPort, &sExchange);
}
