// The one shape of every request/response exchange with the printer, over any transport.
#ifndef QEL_PD_PRINTER_EXCHANGE_H
#define QEL_PD_PRINTER_EXCHANGE_H

#include <cstddef>
#include <cstdint>

/*
 * The port an exchange talks over: the printer access library's port (qel_pd_api_transport)
 * or any other, e.g. a backend's own port object or a scripted port in a test. Counts are
 * what moved within the time-out; an exchange compares them with what it asked for.
 */
typedef struct
{
    void* pvContext; /* handed to every routine below */
    /* Bytes written within the time-out (fewer on a time-out, 0 or less on a failure). */
    int (*pfnWrite)(void* pvContext, const unsigned char* pubData, int nData,
                    unsigned long iTimeoutMs);
    /* Bytes received within the time-out. */
    int (*pfnRead)(void* pvContext, unsigned char* pubData, int nData, unsigned long iTimeoutMs);
    /* Discards everything received so far; the result is not looked at. */
    int (*pfnClear)(void* pvContext);
    /* Protocol pause; NULL: the process sleeps (qel_pd_pause_us). */
    void (*pfnPause)(void* pvContext, unsigned long iMicroseconds);
} TS_QEL_PD_TRANSPORT;

/*
 * One exchange with the printer:
 *   pause 100 ms, clear, pause 100 ms            (skipped when fSkipOpening)
 *   write the request (and then the payload)     (iWriteTimeoutMs each)
 *   read the 4-byte response header              (iHeaderTimeoutMs; skipped when fNoResponse)
 *   check 0x1B 0xFF ubType ubSize
 *   read nData bytes into pubData                (iDataTimeoutMs; none when nData is 0)
 * With fJoinedRead the header and the data are taken by one read of 4 + nData bytes
 * (iHeaderTimeoutMs) and then checked. Members left out give the default behaviour.
 */
typedef struct
{
    int fSkipOpening = 0; /* 1: no pauses and no clear before the request */

    const unsigned char* pubRequest = nullptr; /* first write, e.g. the 4-byte request header */
    int nRequest = 0;
    const unsigned char* pubPayload = nullptr; /* optional second write; none when 0 bytes */
    int nPayload = 0;
    unsigned long iWriteTimeoutMs = 0;
    const char* pszRequestFailed = nullptr; /* first write short */
    const char* pszPayloadFailed = nullptr; /* second write short; NULL: pszRequestFailed */

    int fNoResponse = 0; /* 1: nothing is read (hard reset) */
    unsigned char ubType = 0;
    unsigned char ubSize = 0;
    unsigned long iHeaderTimeoutMs = 0;
    const char* pszNoHeader = nullptr;     /* fewer than 4 header bytes */
    const char* pszTypeMismatch = nullptr; /* byte 2 differs from ubType */
    const char* pszSizeMismatch = nullptr; /* any other difference with the right type */
    int fJoinedRead = 0;                   /* header and data in one read (nData <= 255) */

    unsigned char* pubData = nullptr; /* data after the header; may be NULL when nData is 0 */
    int nData = 0;
    unsigned long iDataTimeoutMs = 0;
    const char* pszNoData = nullptr; /* fewer than nData bytes */
} TS_QEL_PD_EXCHANGE;

/*
 * qel_pd_exchange() - runs one exchange. Returns NULL on success, or the message of the step
 * that failed (one of the texts in psExchange). Header and data bytes are only read when
 * the step before succeeded; on a header mismatch no data is read.
 */
const char* qel_pd_exchange(const TS_QEL_PD_TRANSPORT* psPort,
                            const TS_QEL_PD_EXCHANGE* psExchange);

/* qel_pd_pause() - the transport's pause, or qel_pd_pause_us when it has none. */
void qel_pd_pause(const TS_QEL_PD_TRANSPORT* psPort, unsigned long iMicroseconds);

/* qel_pd_pause_us() - sleeps the given number of microseconds (also more than a second). */
void qel_pd_pause_us(unsigned long iMicroseconds);

#endif /* QEL_PD_PRINTER_EXCHANGE_H */
