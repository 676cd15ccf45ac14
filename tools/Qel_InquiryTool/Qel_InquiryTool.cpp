// Qel_InquiryTool - asks the printer for status, identification, sensor, flash, feed,
// presenter and life data and prints each answer raw and, with "-v", field by field.
#include "api_transport.h"
#include "inquiry_records.h"
#include "tool_frame.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace
{

constexpr std::array<const char*, 19> k_apszUsage = {
    "# Usage:    %s [-s] [-h] [-v] Printer Code \n",
    "#              [-s]            = enables silent mode\n",
    "#              [-h]            = enables help display\n",
    "#              [-v]            = enables verbose output\n",
    "#              Printer         = name of the printer port to which the printer is connected "
    "starting with \"\\\"\n",
    "#              Code            = a 4 hex digit inquiry code enclosed in square brackets \"[\" "
    "and \"]\"\n",
    "# Notes:    The hex digit inquiry code is a 2 unsigned char bitmask that corresponds with the "
    "4 nibbles\n",
    "#           of parameter [n1] and [n2] in emulation command \"GS A+[n1]+[n2]\"\n",
    "#           The individual bits in the inquiry code cause following inquiries:\n",
    "#              [0001] = bit #0 = printer status\n",
    "#              [0002] = bit #1 = general information regarding the printer (part number, "
    "firmware, etc.)\n",
    "#              [0004] = bit #2 = information regarding the printer sensors\n",
    "#              [0008] = bit #3 = information regarding the flash memory (contents, etc.)\n",
    "#              [0010] = bit #4 = status information regarding the feed unit\n",
    "#              [0040] = bit #6 = status information regarding the presenter unit\n",
    "#              [0080] = bit #7 = life data\n",
    "#           The inquired data is output as hex data string.\n",
    "# Examples: %s -s \"/dev/Ttys1\" [0003]\n",
    "#           %s -s -v \"/dev/usb/lp0\" [0013]\n",
};

constexpr TS_QEL_TOOL_DESC k_sInquiryTool = {
    "Qel_InquiryTool",
    __DATE__,
    __TIME__,
    nullptr,
    0,
    EV_QEL_TOOL_SECOND_HEX_CODE,
    "missing printer port (e.g. \"\\dev\\usb\\lp0\")",
    "missing inquiry code (e.g. [0001])",
    "# Opening connection to printer port \"%s\" ... ",
    "# Closing connection to printer port \"%s\" ... ",
    k_apszUsage.data(),
    static_cast<int>(k_apszUsage.size()),
    0,
    0,
};

// One inquiry: request 1D 61 n1 n2, answer 1B FF type size and the record.
const char* lo_inquire_data(intptr_t iPrinter, int iInquiry, int iType, unsigned char* pubRecord,
                            uint16_t nRecord)
{
    TS_QEL_PD_TRANSPORT sPort;
    qel_pd_api_transport(&sPort, &iPrinter);
    return qel_pd_inquire_data(&sPort, iInquiry, iType, pubRecord, nRecord);
}

// Prints a formatted record line, growing the buffer when a line does not fit.
template <typename F> void lo_print_line(TS_QEL_TOOL_RUN* psRun, F fnFormat)
{
    std::vector<char> acLine(512);
    size_t nNeeded = fnFormat(acLine.data(), acLine.size());
    if (nNeeded >= acLine.size())
    {
        acLine.resize(nNeeded + 1);
        fnFormat(acLine.data(), acLine.size());
    }
    qel_tool_print(psRun, "%s", acLine.data());
}

// The answer of one kind: progress, raw line and, with "-v", the decoded lines. Returns
// whether the printer answered.
bool lo_inquire_kind(TS_QEL_TOOL_RUN* psRun, const TS_QEL_PD_INQ_KIND* psKind,
                     std::vector<unsigned char>& ubRecord)
{
    int iMask = 1 << psKind->iBit;
    qel_tool_progress(psRun, "# Inquiring data [%4.4X] = %s ... ", iMask, psKind->pszRecord);
    const char* pszFailure = lo_inquire_data(psRun->iPrinter, iMask, psKind->iResponseType,
                                             ubRecord.data(), psKind->nSize);
    if (pszFailure != nullptr)
    {
        qel_tool_outcome(psRun, 0);
        qel_tool_error(psRun, "inquiry [%4.4X] failed => %s\n", iMask, pszFailure);
        return false;
    }
    qel_tool_outcome(psRun, 1);
    qel_tool_progress(psRun, "# Inquiry [%4.4X] - %s\n", iMask, psKind->pszRecord);

    std::span<const unsigned char> ubView(ubRecord);
    lo_print_line(psRun, [&](char* psz, size_t n)
                  { return qel_pd_inq_format_raw(psKind, ubView, psz, n); });
    if (psRun->fVerbose)
        for (const TS_QEL_PD_INQ_FIELD& sField : psKind->asFields)
            lo_print_line(psRun, [&](char* psz, size_t n)
                          { return qel_pd_inq_format_field(&sField, ubView, psz, n); });
    return true;
}

// Every set bit of the code, from bit 0 to bit 15; failures do not end the loop. Each kind
// has a buffer of exactly its record size for the whole run. Returns true when kinds were
// asked for and the printer answered none of them (a printer switched off behind a live port);
// bits without a kind count neither way.
bool lo_inquire_all(TS_QEL_TOOL_RUN* psRun)
{
    int nAsked = 0;
    int nAnswered = 0;
    std::array<std::vector<unsigned char>, 16> aubRecords;
    for (const TS_QEL_PD_INQ_KIND& sKind : qel_pd_inq_kinds())
        aubRecords[static_cast<size_t>(sKind.iBit)].resize(sKind.nSize);

    for (int iBit = 0; iBit < 16; iBit++)
    {
        int iMask = 1 << iBit;
        if ((psRun->iCode & iMask) == 0)
            continue;
        const TS_QEL_PD_INQ_KIND* psKind = qel_pd_inq_kind_of_bit(iBit);
        if (psKind == nullptr)
        {
            qel_tool_error(psRun, "data inquiry [%4.4X] not supported \n", iMask);
            continue;
        }
        nAsked++;
        if (lo_inquire_kind(psRun, psKind, aubRecords[static_cast<size_t>(iBit)]))
            nAnswered++;
    }
    return nAsked > 0 && nAnswered == 0;
}

} // namespace

int main(int argc, char** argv)
{
    TS_QEL_TOOL_RUN sRun;
    if (qel_tool_start(&sRun, &k_sInquiryTool, stdout, argc, argv) && qel_tool_connect(&sRun))
    {
        bool fNothingAnswered = lo_inquire_all(&sRun);
        qel_tool_disconnect(&sRun);
        // A run in which the printer answered nothing is a failure, so that a monitoring
        // script sees a dead printer; partial answers still end with 0.
        if (fNothingAnswered)
            sRun.iResult = -1;
    }
    return qel_tool_finish(&sRun);
}
