// Command line classification and evaluation of the maintenance tools.
#include "tool_frame.h"

#include "hex_digits.h"

#include <cstdlib>
#include <cstring>

namespace
{

// Looks the argument up among the frame's and the tool's options; 1 when it is one.
int lo_take_option(TS_QEL_TOOL_RUN* psRun, const char* pszArg)
{
    if (std::strcmp(pszArg, "-s") == 0)
    {
        psRun->fSilent = 1;
        return 1;
    }
    if (std::strcmp(pszArg, "-h") == 0)
    {
        psRun->fHelp = 1;
        return 1;
    }
    if (std::strcmp(pszArg, "-v") == 0)
    {
        psRun->fVerbose = 1;
        return 1;
    }
    const TS_QEL_TOOL_DESC* psDesc = psRun->psDesc;
    for (int i = 0; i < psDesc->nOptions; i++)
    {
        if (psDesc->psOptions[i].pszOption != nullptr &&
            std::strcmp(pszArg, psDesc->psOptions[i].pszOption) == 0)
        {
            psRun->iToolFlags |= psDesc->psOptions[i].iFlag;
            return 1;
        }
    }
    return 0;
}

// Heap copy of an argument; NULL when memory is short.
char* lo_copy(const char* pszArg)
{
    size_t n = std::strlen(pszArg) + 1;
    char* psz = static_cast<char*>(std::malloc(n));
    if (psz != nullptr)
        std::memcpy(psz, pszArg, n);
    return psz;
}

// The second positional argument; 1 when it was accepted.
int lo_take_second(TS_QEL_TOOL_RUN* psRun, const char* pszArg)
{
    switch (psRun->psDesc->eSecond)
    {
    case EV_QEL_TOOL_SECOND_HEX_CODE:
        psRun->iCode = qel_tool_parse_hex_code(pszArg);
        return psRun->iCode >= 0;
    case EV_QEL_TOOL_SECOND_FILE:
        psRun->pszFile = lo_copy(pszArg);
        return psRun->pszFile != nullptr;
    case EV_QEL_TOOL_SECOND_NONE:
    default:
        return 0;
    }
}

} // namespace

int qel_tool_parse_hex_code(const char* pszArg)
{
    if (pszArg == nullptr || std::strlen(pszArg) != 6 || pszArg[0] != '[' || pszArg[5] != ']')
        return -1;
    int iValue = 0;
    for (int i = 1; i <= 4; i++)
    {
        int iDigit = Lo_HexDigit(pszArg[i]);
        if (iDigit < 0)
            return -1;
        iValue = iValue * 16 + iDigit;
    }
    return iValue;
}

int qel_tool_port_class(const char* pszPort)
{
    if (std::strstr(pszPort, "/dev/usb/lp") != nullptr)
        return 0;
    if (std::strstr(pszPort, "/dev/bus/usb/") != nullptr)
        return 1;
    return 0;
}

void qel_tool_init(TS_QEL_TOOL_RUN* psRun, const TS_QEL_TOOL_DESC* psDesc, FILE* psOut)
{
    *psRun = TS_QEL_TOOL_RUN{};
    psRun->psDesc = psDesc;
    psRun->psOut = psOut;
    psRun->iParseState = EV_QEL_TOOL_PARSE_OPTIONS;
    psRun->iArgIndex = 1;
    psRun->iCode = -1;
    psRun->iPrinter = -1;
    psRun->iResult = -1;
}

int qel_tool_classify(TS_QEL_TOOL_RUN* psRun, int argc, char** argv)
{
    const TS_QEL_TOOL_DESC* psDesc = psRun->psDesc;
    int fNoMemory = 0;

    /* Walk the arguments; a break leaves the index on the offending one. */
    while (psRun->iArgIndex < argc)
    {
        const char* pszArg = argv[psRun->iArgIndex];
        int fStop = 0;
        switch (psRun->iParseState)
        {
        case EV_QEL_TOOL_PARSE_OPTIONS:
            if (lo_take_option(psRun, pszArg))
                psRun->iArgIndex++;
            else if (pszArg[0] == '-')
                fStop = 1;
            else
                psRun->iParseState = EV_QEL_TOOL_PARSE_PORT;
            break;
        case EV_QEL_TOOL_PARSE_PORT:
            if (pszArg[0] != '/')
            {
                fStop = 1;
                break;
            }
            psRun->pszPort = lo_copy(pszArg);
            if (psRun->pszPort == nullptr)
            {
                fNoMemory = 1;
                fStop = 1;
                break;
            }
            psRun->iPortClass = qel_tool_port_class(pszArg);
            psRun->iArgIndex++;
            psRun->iParseState = psDesc->eSecond == EV_QEL_TOOL_SECOND_NONE
                                     ? EV_QEL_TOOL_PARSE_COMPLETE
                                     : EV_QEL_TOOL_PARSE_SECOND;
            break;
        case EV_QEL_TOOL_PARSE_SECOND:
            if (!lo_take_second(psRun, pszArg))
            {
                fNoMemory = psDesc->eSecond == EV_QEL_TOOL_SECOND_FILE;
                fStop = 1;
                break;
            }
            psRun->iArgIndex++;
            psRun->iParseState = EV_QEL_TOOL_PARSE_COMPLETE;
            break;
        default:
            fStop = 1;
            break;
        }
        if (fStop)
            break;
    }

    /* Evaluate the outcome: the first error that applies is reported. */
    if (fNoMemory)
    {
        qel_tool_error(psRun, "out of memory for argument %d\n", psRun->iArgIndex);
        psRun->fHelp = 1;
    }
    else if (psRun->iArgIndex < argc)
    {
        qel_tool_error(psRun, "invalid argument (argument %d, \"%s\")\n", psRun->iArgIndex,
                       argv[psRun->iArgIndex]);
        psRun->fHelp = 1;
    }
    else if (psRun->pszPort == nullptr)
    {
        qel_tool_error(psRun, "%s\n", psDesc->pszMissingPort);
        psRun->fHelp = 1;
    }
    else if (psDesc->pszMissingSecond != nullptr &&
             psRun->iParseState != EV_QEL_TOOL_PARSE_COMPLETE)
    {
        qel_tool_error(psRun, "%s\n", psDesc->pszMissingSecond);
        psRun->fHelp = 1;
    }
    else
    {
        psRun->fRun = 1;
    }
    return psRun->fRun;
}

int qel_tool_start(TS_QEL_TOOL_RUN* psRun, const TS_QEL_TOOL_DESC* psDesc, FILE* psOut, int argc,
                   char** argv)
{
    qel_tool_init(psRun, psDesc, psOut);
    qel_tool_classify(psRun, argc, argv);
    qel_tool_print_banner(psRun);
    qel_tool_print_usage(psRun);
    return psRun->fRun;
}
