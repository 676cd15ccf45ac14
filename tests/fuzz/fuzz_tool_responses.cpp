// Fuzz target: the maintenance tools' handling of printer answers.  The
// exchange routines of the configuration and upload tools and the frame's
// exchange with the inquiry records run against a fake port whose answers
// come from the input.  A routine succeeds only on a well-formed answer, hands
// out exactly the bytes answered, and never writes to the printer after an
// answer failed to arrive.
//
// Input: byte 0 chooses the routine and the read behaviour (character device:
// short reads hand out what there is; USB: all or nothing), byte 1 a size;
// the rest is everything the printer answers.
#include "fuzz_check.h"

#include "Qel_Api.h"
#include "config_block.h"
#include "config_exchange.h"
#include "api_transport.h"
#include "inquiry_records.h"
#include "upload_transfer.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace
{

struct TS_FAKE_PORT
{
    const unsigned char* answer = nullptr;
    size_t n_answer = 0;
    size_t served = 0;
    bool all_or_nothing = false;
    bool read_failed = false;         // a read came back short
    bool wrote_after_failure = false; // a write followed a short read
    std::vector<unsigned char> wire;  // every byte written
    bool fast = false;                // protocol pauses are skipped
};

TS_FAKE_PORT g_port;

} // namespace

// The tools pause with nanosleep; inside the target the pauses are skipped so
// that the fuzzer spends its time on the answers.  Other threads (libFuzzer's
// own) sleep for real.
extern "C" int nanosleep(const struct timespec* req, struct timespec* rem)
{
    if (g_port.fast)
    {
        return 0;
    }
    return static_cast<int>(syscall(SYS_nanosleep, req, rem));
}

extern "C" intptr_t qel_api_printer_open(char*)
{
    return 3;
}

extern "C" void qel_api_printer_close(intptr_t) {}

extern "C" int qel_api_printer_clear(intptr_t)
{
    return 1;
}

extern "C" int qel_api_printer_write(intptr_t, unsigned char* data, int size, unsigned long)
{
    FUZZ_CHECK(size >= 0);
    if (g_port.read_failed)
    {
        g_port.wrote_after_failure = true;
    }
    g_port.wire.insert(g_port.wire.end(), data, data + size);
    return size;
}

extern "C" int qel_api_printer_read(intptr_t, unsigned char* data, int size, unsigned long)
{
    FUZZ_CHECK(size >= 0);
    const size_t left = g_port.n_answer - g_port.served;
    size_t n = std::min(left, static_cast<size_t>(size));
    if (g_port.all_or_nothing && n < static_cast<size_t>(size))
    {
        n = 0;
    }
    std::memcpy(data, g_port.answer + g_port.served, n);
    g_port.served += n;
    if (n < static_cast<size_t>(size))
    {
        g_port.read_failed = true;
    }
    return static_cast<int>(n);
}

namespace
{

bool lo_answer_starts(size_t at, std::initializer_list<unsigned char> bytes)
{
    if (g_port.n_answer < at + bytes.size())
    {
        return false;
    }
    return std::equal(bytes.begin(), bytes.end(), g_port.answer + at);
}

void lo_download()
{
    unsigned char block[QEL_PD_CONFIG_BLOCK_SIZE];
    std::memset(block, 0xA5, sizeof block);
    const char* failure = lo_download_configuration_data(3, block, QEL_PD_CONFIG_BLOCK_SIZE);
    FUZZ_CHECK(g_port.wire == std::vector<unsigned char>({0x1B, 0xFF, 0x46, 0x00}));
    if (failure == nullptr)
    {
        FUZZ_CHECK(lo_answer_starts(0, {0x1B, 0xFF, 0x47, 0xFF}));
        FUZZ_CHECK(g_port.n_answer >= 4 + QEL_PD_CONFIG_BLOCK_SIZE);
        FUZZ_CHECK(std::memcmp(block, g_port.answer + 4, QEL_PD_CONFIG_BLOCK_SIZE) == 0);
    }
    else
    {
        FUZZ_CHECK(*failure != 0);
    }
}

void lo_upload_block()
{
    unsigned char block[QEL_PD_CONFIG_BLOCK_SIZE];
    std::memset(block, 0x3C, sizeof block);
    const char* failure = lo_upload_configuration_data(3, block, QEL_PD_CONFIG_BLOCK_SIZE);
    FUZZ_CHECK(g_port.wire.size() == 4 + QEL_PD_CONFIG_BLOCK_SIZE);
    if (failure == nullptr)
    {
        FUZZ_CHECK(lo_answer_starts(0, {0x1B, 0xFF, 0x27, 0x00}));
    }
}

void lo_upload(unsigned size, bool paced, bool one_read)
{
    std::vector<unsigned char> data(size);
    for (unsigned i = 0; i < size; ++i)
    {
        data[i] = static_cast<unsigned char>(i * 7 + 1);
    }
    const int mode = paced ? UPLOAD_MODE_PACED : UPLOAD_MODE_BUFFERED;
    const char* failure = one_read ? lo_upload_data_new(3, 0x0004, data.data(), size, mode, 1)
                                   : lo_upload_data(3, 0x0004, data.data(), size, mode, 1);
    if (failure == nullptr)
    {
        // Two answers were read: start and end, each header plus status 00.
        FUZZ_CHECK(lo_answer_starts(0, {0x1B, 0xFF, 0x21, 0x01, 0x00}));
        FUZZ_CHECK(lo_answer_starts(5, {0x1B, 0xFF, 0x25, 0x01, 0x00}));
        FUZZ_CHECK(g_port.served == 10);
        // Start request, the data in blocks, the end request.
        const size_t blocks = size == 0 ? 0 : (size + 254) / 255;
        FUZZ_CHECK(g_port.wire.size() >= 12 + size + 4 * blocks + 6);
    }
}

void lo_inquiry(unsigned choice, bool joined)
{
    const auto kinds = qel_pd_inq_kinds();
    const TS_QEL_PD_INQ_KIND& kind = kinds[choice % kinds.size()];
    unsigned char request[4] = {0x1D, 0x61, static_cast<unsigned char>(1u << kind.iBit), 0x00};
    std::vector<unsigned char> record(kind.nSize, 0xA5);
    TS_QEL_PD_EXCHANGE ex{};
    ex.pubRequest = request;
    ex.nRequest = 4;
    ex.iWriteTimeoutMs = 500;
    ex.pszRequestFailed = "request";
    ex.ubType = static_cast<unsigned char>(kind.iResponseType);
    ex.ubSize = static_cast<unsigned char>(kind.nSize);
    ex.iHeaderTimeoutMs = 500;
    ex.pszNoHeader = "header";
    ex.pszTypeMismatch = "type";
    ex.pszSizeMismatch = "size";
    ex.fJoinedRead = joined ? 1 : 0;
    ex.pubData = record.data();
    ex.nData = kind.nSize;
    ex.iDataTimeoutMs = 500;
    ex.pszNoData = "data";
    intptr_t printer = 3;
    TS_QEL_PD_TRANSPORT port;
    qel_pd_api_transport(&port, &printer);
    const char* failure = qel_pd_exchange(&port, &ex);
    if (failure != nullptr)
    {
        return;
    }
    FUZZ_CHECK(lo_answer_starts(0, {0x1B, 0xFF, ex.ubType, ex.ubSize}));
    FUZZ_CHECK(std::memcmp(record.data(), g_port.answer + 4, kind.nSize) == 0);

    // Every line of the record formats within the length it reports.
    std::vector<char> text(64);
    for (const TS_QEL_PD_INQ_FIELD& field : kind.asFields)
    {
        size_t need = qel_pd_inq_format_field(&field, record, text.data(), text.size());
        if (need + 1 > text.size())
        {
            text.resize(need + 1);
            need = qel_pd_inq_format_field(&field, record, text.data(), text.size());
        }
        FUZZ_CHECK(std::strlen(text.data()) == need);
        // A record cut short before the field gives an empty text.
        const std::span<const unsigned char> cut(record.data(), field.nOffset);
        if (field.nWidth > 0 && field.nCount > 0)
        {
            FUZZ_CHECK(qel_pd_inq_format_field(&field, cut, text.data(), text.size()) == 0);
        }
    }
    const size_t need = qel_pd_inq_format_raw(&kind, record, nullptr, 0);
    text.resize(need + 1);
    FUZZ_CHECK(qel_pd_inq_format_raw(&kind, record, text.data(), text.size()) == need);
    FUZZ_CHECK(std::strlen(text.data()) == need);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    if (size < 2)
    {
        return 0;
    }
    g_port = TS_FAKE_PORT{};
    g_port.answer = data + 2;
    g_port.n_answer = size - 2;
    g_port.all_or_nothing = (data[0] & 0x80) != 0;
    g_port.fast = true;
    switch (data[0] & 0x07)
    {
    case 0:
        lo_download();
        break;
    case 1:
        lo_upload_block();
        break;
    case 2:
    case 3:
        lo_upload(data[1] * 3u, (data[0] & 0x08) != 0, (data[0] & 0x01) != 0);
        break;
    case 4:
        FUZZ_CHECK(lo_reset_printer(3) == nullptr);
        FUZZ_CHECK(g_port.wire == std::vector<unsigned char>({0x1B, 0xF2, 0x03, 0x00}));
        break;
    default:
        lo_inquiry(data[1], (data[0] & 0x40) != 0);
        break;
    }
    FUZZ_CHECK(!g_port.wrote_after_failure);
    g_port.fast = false;
    return 0;
}
