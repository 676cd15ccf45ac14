// Data-exchange upload to the printer in paced or buffered mode.
#include "upload_transfer.h"

#include "upload_frames.h"

#include "Qel_Api.h"
#include "Qel_Tb.h"
#include "api_transport.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace
{

constexpr unsigned long kWriteTimeoutMs = 5000;
constexpr unsigned long kStartResponseTimeoutMs = 5000;
constexpr unsigned long kStatusTimeoutMs = 5000;
// The printer answers the end request only after it has checked and stored
// everything, which may take most of a minute for firmware.
constexpr unsigned long kEndResponseTimeoutMs = 60000;

// Buffered mode: collected frames go out once they exceed this many bytes.
constexpr unsigned long kBufferedFlushBytes = 5120;
constexpr unsigned long kBufferedWriteTimeoutMs = 10000;
// Paced mode: pause after every block for lines without flow control.
constexpr unsigned long kPacedPauseUs = 10 * 1000;

constexpr const char* kStartSendFailed =
    "Could not send data exchange upload start request to printer";
constexpr const char* kStartNoResponse =
    "Did not receive data exchange upload start response from printer";
constexpr const char* kCancelled = "Data exchange cancelled by printer";
constexpr const char* kBlockSendFailed = "Could not send data upload request to printer";
constexpr const char* kEndSendFailed = "Could not send data exchange upload end request to printer";
constexpr const char* kEndNoResponse =
    "Did not receive data exchange upload end response from printer";

// Frames collected for one buffered write; released on every way out.
struct TS_PENDING
{
    void* pvBlock = nullptr;
    TS_PENDING() = default;
    TS_PENDING(const TS_PENDING&) = delete;
    TS_PENDING& operator=(const TS_PENDING&) = delete;
    ~TS_PENDING() { qel_tb_free(pvBlock); }
};

int lo_write_all(intptr_t printer, unsigned char* data, unsigned long size, unsigned long timeout)
{
    return qel_api_printer_write(printer, data, static_cast<int>(size), timeout) ==
           static_cast<int>(size);
}

// Writes the collected frames in one write and starts a new collection.
int lo_flush_pending(intptr_t printer, TS_PENDING& pending)
{
    const unsigned long nPending = qel_tb_alloc_mem_size(pending.pvBlock);
    int fOk = 1;
    if (nPending > 0)
        fOk = lo_write_all(printer, static_cast<unsigned char*>(pending.pvBlock), nPending,
                           kBufferedWriteTimeoutMs);
    qel_tb_free(pending.pvBlock);
    pending.pvBlock = nullptr;
    return fOk;
}

// One request with its response: header and payload written, then the response
// header and its status byte read, as 4 + 1 bytes or (fOneRead) as 5 in one read.
// Returns null when the status is 0x00, else the message for this request.
const char* lo_request(intptr_t printer, int fOneRead, int fSkipOpening, unsigned char* request,
                       int nPayload, unsigned char type, unsigned long headerTimeout,
                       const char* pSendFailed, const char* pNoResponse)
{
    unsigned char ubStatus = 0xFF;
    /* Every failure after the request is the one "no response" message. */
    const TS_QEL_PD_EXCHANGE sExchange = {
        .fSkipOpening = fSkipOpening,
        .pubRequest = request,
        .nRequest = 4,
        .pubPayload = request + 4,
        .nPayload = nPayload,
        .iWriteTimeoutMs = kWriteTimeoutMs,
        .pszRequestFailed = pSendFailed,
        .ubType = type,
        .ubSize = 0x01,
        .iHeaderTimeoutMs = headerTimeout,
        .pszNoHeader = pNoResponse,
        .pszTypeMismatch = pNoResponse,
        .pszSizeMismatch = pNoResponse,
        .fJoinedRead = fOneRead,
        .pubData = &ubStatus,
        .nData = 1,
        .iDataTimeoutMs = kStatusTimeoutMs,
        .pszNoData = pNoResponse,
    };
    TS_QEL_PD_TRANSPORT sPort;
    qel_pd_api_transport(&sPort, &printer);
    if (const char* pFailure = qel_pd_exchange(&sPort, &sExchange))
        return pFailure;
    return ubStatus == 0x00 ? nullptr : kCancelled;
}

const char* lo_upload(intptr_t printer, unsigned short wTypeMask, unsigned char* data,
                      unsigned int size, int mode, int silent, int fOneRead)
{
    const int fPaced = mode != UPLOAD_MODE_BUFFERED;

    /* Start, from a quiet port: announce kind and size; the printer says whether it goes on. */
    std::array<unsigned char, UPLOAD_START_REQUEST_SIZE> start{};
    upload_build_start_request(start.data(), wTypeMask, size);
    if (const char* pFailure =
            lo_request(printer, fOneRead, 0, start.data(), 8, UPLOAD_START_RESPONSE_TYPE,
                       kStartResponseTimeoutMs, kStartSendFailed, kStartNoResponse))
        return pFailure;

    /* Data blocks of at most 255 bytes. */
    TS_PENDING pending;
    uint32_t dwSent = 0;
    uint32_t dwLastDot = 0;
    while (dwSent < size)
    {
        const unsigned char n = upload_next_block_size(size, dwSent);
        if (upload_progress_due(dwSent, dwLastDot, size))
        {
            dwLastDot = dwSent;
            if (!silent)
            {
                std::fputc('.', stdout);
                std::fflush(stdout);
            }
        }

        std::array<unsigned char, 4 + UPLOAD_BLOCK_MAX> frame{};
        upload_build_block_header(frame.data(), n);
        std::memcpy(frame.data() + 4, data + dwSent, n);
        if (fPaced)
        {
            if (!lo_write_all(printer, frame.data(), 4, kWriteTimeoutMs) ||
                !lo_write_all(printer, frame.data() + 4, n, kWriteTimeoutMs))
                return kBlockSendFailed;
            qel_pd_pause_us(kPacedPauseUs);
        }
        else
        {
            pending.pvBlock = qel_tb_alloc_mem_cat(pending.pvBlock, frame.data(), 4ul + n);
            if (pending.pvBlock == nullptr)
                return kBlockSendFailed;
            if (qel_tb_alloc_mem_size(pending.pvBlock) > kBufferedFlushBytes &&
                !lo_flush_pending(printer, pending))
                return kBlockSendFailed;
        }
        dwSent += n;
    }
    if (!fPaced && !lo_flush_pending(printer, pending))
        return kBlockSendFailed;

    /* End: the CRC-16 of all data lets the printer check what it received. */
    std::array<unsigned char, UPLOAD_END_REQUEST_SIZE> end{};
    /* No data has the CRC 0x0000, also when the caller passes no buffer with it. */
    upload_build_end_request(end.data(), size == 0 ? 0 : qel_tb_calc_crc16(data, size));
    return lo_request(printer, fOneRead, 1, end.data(), 2, UPLOAD_END_RESPONSE_TYPE,
                      kEndResponseTimeoutMs, kEndSendFailed, kEndNoResponse);
}

} // namespace

const char* lo_upload_data(intptr_t printer, unsigned short wTypeMask, unsigned char* data,
                           unsigned int size, int mode, int silent)
{
    return lo_upload(printer, wTypeMask, data, size, mode, silent, 0);
}

const char* lo_upload_data_new(intptr_t printer, unsigned short wTypeMask, unsigned char* data,
                               unsigned int size, int mode, int silent)
{
    return lo_upload(printer, wTypeMask, data, size, mode, silent, 1);
}
