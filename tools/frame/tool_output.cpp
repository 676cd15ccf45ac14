// Output lines of the maintenance tools: banner, usage, progress, error and data lines.
#include "frame_internal.h"

#include "printer_text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace
{

constexpr const char* k_pszMaker = "Dornwaldt";
constexpr const char* k_pszRelease = "R4-V1.04";
constexpr const char* k_pszRevision = "";
constexpr const char* k_pszSuffix = "-BETA";

// Prints a constant text in which every "%s" stands for pszValue.
void lo_print_template(FILE* psOut, const char* pszTemplate, const char* pszValue)
{
    for (const char* p = pszTemplate; *p != '\0'; p++)
    {
        if (p[0] == '%' && p[1] == 's')
        {
            std::fputs(pszValue, psOut);
            p++;
        }
        else
        {
            std::fputc(*p, psOut);
        }
    }
}

} // namespace

void qel_tool_print_banner(TS_QEL_TOOL_RUN* psRun)
{
    const TS_QEL_TOOL_DESC* psDesc = psRun->psDesc;
    if (!psRun->fSilent || psRun->fHelp)
        std::fprintf(psRun->psOut, "# %s - %s - Version %s%s%s - %s - %s\n", k_pszMaker,
                     psDesc->pszToolName, k_pszRelease, k_pszRevision, k_pszSuffix,
                     psDesc->pszBuildDate, psDesc->pszBuildTime);
    std::fflush(psRun->psOut);
}

void qel_tool_print_usage(TS_QEL_TOOL_RUN* psRun)
{
    const TS_QEL_TOOL_DESC* psDesc = psRun->psDesc;
    if (psRun->fHelp)
    {
        for (int i = 0; i < psDesc->nUsage; i++)
        {
            lo_print_template(psRun->psOut, psDesc->ppszUsage[i], psDesc->pszToolName);
            std::fflush(psRun->psOut);
        }
    }
    std::fflush(psRun->psOut);
}

void qel_tool_print_port_line(TS_QEL_TOOL_RUN* psRun, const char* pszTemplate)
{
    if (!psRun->fSilent)
        lo_print_template(psRun->psOut, pszTemplate,
                          psRun->pszPort != nullptr ? psRun->pszPort : "");
    std::fflush(psRun->psOut);
}

void qel_tool_progress(TS_QEL_TOOL_RUN* psRun, const char* pszFormat, ...)
{
    if (!psRun->fSilent)
    {
        va_list args;
        va_start(args, pszFormat);
        std::vfprintf(psRun->psOut, pszFormat, args);
        va_end(args);
    }
    std::fflush(psRun->psOut);
}

void qel_tool_outcome(TS_QEL_TOOL_RUN* psRun, int fOk)
{
    if (!psRun->fSilent)
        std::fputs(fOk ? "done\n" : "failed\n", psRun->psOut);
    std::fflush(psRun->psOut);
}

void qel_tool_error(TS_QEL_TOOL_RUN* psRun, const char* pszFormat, ...)
{
    std::fprintf(psRun->psOut, "! %s: ", psRun->psDesc->pszToolName);
    va_list args;
    va_start(args, pszFormat);
    std::vfprintf(psRun->psOut, pszFormat, args);
    va_end(args);
    std::fflush(psRun->psOut);
}

int qel_tool_step_outcome(TS_QEL_TOOL_RUN* psRun, const char* pszFailure, const char* pszStep)
{
    qel_tool_outcome(psRun, pszFailure == nullptr);
    if (pszFailure != nullptr)
        qel_tool_error(psRun, "%s failed => %s\n", pszStep, pszFailure);
    return pszFailure == nullptr;
}

void qel_tool_print(TS_QEL_TOOL_RUN* psRun, const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    std::vfprintf(psRun->psOut, pszFormat, args);
    va_end(args);
    std::fflush(psRun->psOut);
}

void qel_tool_data_line(TS_QEL_TOOL_RUN* psRun, const char* pszName, const char* pszFormat, ...)
{
    std::fprintf(psRun->psOut, "%-50.50s = ", pszName);
    va_list args;
    va_start(args, pszFormat);
    std::vfprintf(psRun->psOut, pszFormat, args);
    va_end(args);
    std::fflush(psRun->psOut);
}

void qel_tool_data_hex(TS_QEL_TOOL_RUN* psRun, const char* pszName, const unsigned char* pubData,
                       size_t nGroupBytes, size_t nGroups, size_t nStride)
{
    std::fprintf(psRun->psOut, "%-50.50s = ", pszName);
    qel_pd_put_hex_groups(psRun->psOut, pubData, nGroupBytes, nGroups, nStride);
    std::fputc('\n', psRun->psOut);
    std::fflush(psRun->psOut);
}
