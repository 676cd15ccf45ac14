// The one shape of every request/response exchange between the host and the printer.
#include "printer_exchange.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace
{

constexpr unsigned long k_iOpeningPauseUs = 100000;
constexpr int k_nHeader = 4;
constexpr unsigned char k_ubHeader0 = 0x1B; // ESC
constexpr unsigned char k_ubHeader1 = 0xFF;

// Compares a received header with the expectation; NULL when all four bytes match.
const char* lo_check_header(const unsigned char* pubHeader, const TS_QEL_PD_EXCHANGE* ps)
{
    if (pubHeader[0] == k_ubHeader0 && pubHeader[1] == k_ubHeader1 && pubHeader[2] == ps->ubType &&
        pubHeader[3] == ps->ubSize)
        return nullptr;
    return pubHeader[2] != ps->ubType ? ps->pszTypeMismatch : ps->pszSizeMismatch;
}

// Header and data in one read: a USB printer tends to send them in one packet.
const char* lo_joined_read(const TS_QEL_PD_TRANSPORT* psPort, const TS_QEL_PD_EXCHANGE* ps)
{
    std::array<unsigned char, k_nHeader + 255> ubFrame{};
    if (ps->nData < 0 || ps->nData > 255)
        return ps->pszNoData;
    int nWanted = k_nHeader + ps->nData;
    int nGot = psPort->pfnRead(psPort->pvContext, ubFrame.data(), nWanted, ps->iHeaderTimeoutMs);
    if (nGot < k_nHeader)
        return ps->pszNoHeader;
    if (const char* pszMismatch = lo_check_header(ubFrame.data(), ps))
        return pszMismatch;
    if (nGot < nWanted)
        return ps->pszNoData;
    if (ps->nData > 0)
        std::memcpy(ps->pubData, ubFrame.data() + k_nHeader, static_cast<size_t>(ps->nData));
    return nullptr;
}

} // namespace

void qel_pd_pause_us(unsigned long iMicroseconds)
{
    struct timespec sWait;
    sWait.tv_sec = static_cast<time_t>(iMicroseconds / 1000000UL);
    sWait.tv_nsec = static_cast<long>((iMicroseconds % 1000000UL) * 1000UL);
    while (nanosleep(&sWait, &sWait) != 0 && errno == EINTR)
    {
    }
}

void qel_pd_pause(const TS_QEL_PD_TRANSPORT* psPort, unsigned long iMicroseconds)
{
    if (psPort->pfnPause != nullptr)
        psPort->pfnPause(psPort->pvContext, iMicroseconds);
    else
        qel_pd_pause_us(iMicroseconds);
}

const char* qel_pd_exchange(const TS_QEL_PD_TRANSPORT* psPort, const TS_QEL_PD_EXCHANGE* ps)
{
    /* Opening: whatever the printer sent before is discarded. */
    if (!ps->fSkipOpening)
    {
        qel_pd_pause(psPort, k_iOpeningPauseUs);
        (void)psPort->pfnClear(psPort->pvContext);
        qel_pd_pause(psPort, k_iOpeningPauseUs);
    }

    /* Request, then the optional payload. */
    if (psPort->pfnWrite(psPort->pvContext, ps->pubRequest, ps->nRequest, ps->iWriteTimeoutMs) <
        ps->nRequest)
        return ps->pszRequestFailed;
    if (ps->pubPayload != nullptr && ps->nPayload > 0 &&
        psPort->pfnWrite(psPort->pvContext, ps->pubPayload, ps->nPayload, ps->iWriteTimeoutMs) <
            ps->nPayload)
        return ps->pszPayloadFailed != nullptr ? ps->pszPayloadFailed : ps->pszRequestFailed;

    if (ps->fNoResponse)
        return nullptr;
    if (ps->fJoinedRead)
        return lo_joined_read(psPort, ps);

    /* Response header: all four bytes must match before any data is read. */
    std::array<unsigned char, k_nHeader> ubHeader{};
    if (psPort->pfnRead(psPort->pvContext, ubHeader.data(), k_nHeader, ps->iHeaderTimeoutMs) <
        k_nHeader)
        return ps->pszNoHeader;
    if (const char* pszMismatch = lo_check_header(ubHeader.data(), ps))
        return pszMismatch;

    /* Data, straight into the caller's buffer. */
    if (ps->nData > 0 &&
        psPort->pfnRead(psPort->pvContext, ps->pubData, ps->nData, ps->iDataTimeoutMs) < ps->nData)
        return ps->pszNoData;
    return nullptr;
}
