/* Shared frame of the maintenance tools: command line, banner, usage, connection, output lines. */
#ifndef QEL_TOOL_FRAME_H
#define QEL_TOOL_FRAME_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C"
{
#endif

#if defined(__GNUC__)
#define QEL_TOOL_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define QEL_TOOL_PRINTF(f, a)
#endif

    /*
     * How a tool uses the frame (no callbacks: main calls the steps in order):
     *
     *   TS_QEL_TOOL_RUN sRun;
     *   if (qel_tool_start(&sRun, &k_sMyTool, stdout, argc, argv))   // classify, banner, usage
     *   {
     *       ... preparation (stdin, file); on failure: return qel_tool_finish(&sRun);
     *       if (qel_tool_connect(&sRun))                               // open + synchronise
     *       {
     *           ... printer work; a fatal failure: return qel_tool_finish(&sRun);
     *           qel_tool_disconnect(&sRun);                            // closing line, result 0
     *       }
     *   }
     *   return qel_tool_finish(&sRun);                                 // clean-up, 0 or -1
     *
     * Every "%s" in a text of the descriptor below is replaced by one value (the tool name in
     * usage lines, the port name in the opening and closing lines); no other conversion exists.
     */

    /* Kind of the positional argument that follows the port. */
    typedef enum
    {
        EV_QEL_TOOL_SECOND_NONE = 0,     /* port only: any further argument is invalid */
        EV_QEL_TOOL_SECOND_HEX_CODE = 1, /* "[" + four hex digits + "]", value in iCode */
        EV_QEL_TOOL_SECOND_FILE = 2      /* optional, any text (also "-..."), copy in pszFile */
    } ET_QEL_TOOL_SECOND;

    /* One of a tool's own options: the exact argument text and the flag bits it sets. */
    typedef struct
    {
        const char* pszOption; /* e.g. "-u" */
        int iFlag;             /* OR-ed into TS_QEL_TOOL_RUN.iToolFlags */
    } TS_QEL_TOOL_OPTION;

    /* The differences between the tools, filled in once by each tool as constant data. */
    typedef struct
    {
        const char* pszToolName;  /* "Qel_InquiryTool": banner and every "!" line */
        const char* pszBuildDate; /* __DATE__ expanded in the tool's own main file */
        const char* pszBuildTime; /* __TIME__ expanded in the tool's own main file */

        /* Own options, compared after "-s", "-h", "-v" in the order given here. */
        const TS_QEL_TOOL_OPTION* psOptions;
        int nOptions;

        ET_QEL_TOOL_SECOND eSecond;

        /* Error texts printed as "! <tool>: <text>\n" (no "%s" inside). */
        const char* pszMissingPort;   /* "missing printer port (e.g. \"\\dev\\usb\\lp0\")" */
        const char* pszMissingSecond; /* required second argument absent; NULL when optional */

        /* Progress lines, "%s" = port name: "# Opening connection to printer port \"%s\" ... " */
        const char* pszOpening;
        const char* pszClosing;

        /* Usage lines, each printed as given ("%s" = tool name); the text carries its "\n". */
        const char* const* ppszUsage;
        int nUsage;

        /* Pause after closing when (iToolFlags & iPauseAfterCloseFlags) != 0 (reset option). */
        int iPauseAfterCloseFlags;
        unsigned long iPauseAfterCloseUs; /* 2500000 for the configuration and upload tools */
    } TS_QEL_TOOL_DESC;

    /* Parse states of the command line classification. */
    enum
    {
        EV_QEL_TOOL_PARSE_OPTIONS = 0,
        EV_QEL_TOOL_PARSE_PORT = 1,
        EV_QEL_TOOL_PARSE_SECOND = 2,
        EV_QEL_TOOL_PARSE_COMPLETE = 3
    };

    /* State of one run of a tool, owned by its main routine. */
    typedef struct
    {
        const TS_QEL_TOOL_DESC* psDesc;
        FILE* psOut; /* every line goes here (stdout in the tools) */

        int fSilent;    /* "-s" */
        int fHelp;      /* "-h" or any command-line error */
        int fVerbose;   /* "-v" */
        int iToolFlags; /* the tool's own options */

        int iParseState; /* EV_QEL_TOOL_PARSE_... */
        int iArgIndex;   /* argument under examination; 1 = first after the program name */

        char* pszPort;  /* heap copy of the port argument, NULL when none */
        int iPortClass; /* 0 "/dev/usb/lp" or other, 1 "/dev/bus/usb/" */
        int iCode;      /* EV_QEL_TOOL_SECOND_HEX_CODE: 0..0xFFFF, -1 while absent */
        char* pszFile;  /* EV_QEL_TOOL_SECOND_FILE: heap copy, NULL when absent */

        int fRun;          /* command line complete and valid */
        intptr_t iPrinter; /* -1 whenever no port is open */
        int iResult;       /* exit status: -1 until the work ended normally and the port closed */
    } TS_QEL_TOOL_RUN;

    /* ---- Steps of a run ------------------------------------------------------------------------
     */

    /*
     * qel_tool_init() - set the run to its initial values (no output, no allocation).
     */
    void qel_tool_init(TS_QEL_TOOL_RUN* psRun,         /* O  run state */
                       const TS_QEL_TOOL_DESC* psDesc, /* I  the tool's constant data */
                       FILE* psOut);                   /* I  output stream (stdout) */

    /*
     * qel_tool_classify() - classify the command line and evaluate the outcome. Prints the
     * "invalid argument", missing-port or missing-second line on an error (help is then set).
     * Sets fRun when the command line is complete and valid. Returns fRun.
     */
    int qel_tool_classify(TS_QEL_TOOL_RUN* psRun, /* IO run state after qel_tool_init */
                          int argc,               /* I  argument count */
                          char** argv);           /* I  arguments; argv[0] is the program name */

    /* qel_tool_print_banner() - the banner line, unless silent mode is on and help is off. */
    void qel_tool_print_banner(TS_QEL_TOOL_RUN* psRun);

    /* qel_tool_print_usage() - the usage text when help is set, whatever silent mode says. */
    void qel_tool_print_usage(TS_QEL_TOOL_RUN* psRun);

    /*
     * qel_tool_start() - qel_tool_init, qel_tool_classify, banner and usage in that order.
     * Returns 1 when the tool is to run its preparation and work, 0 when it is to end
     * (through qel_tool_finish, result -1).
     */
    int qel_tool_start(TS_QEL_TOOL_RUN* psRun, const TS_QEL_TOOL_DESC* psDesc, FILE* psOut,
                       int argc, char** argv);

    /*
     * qel_tool_connect() - opening line, qel_api_printer_open, then the ten synchronisation
     * bytes (500 ms write time-out, result not checked) and the 500 ms pause. Returns 1 with the
     * port open; 0 after "failed" and "could not open connection" when the open failed (any
     * negative handle), the result stays -1 and nothing is to be closed.
     */
    int qel_tool_connect(TS_QEL_TOOL_RUN* psRun);

    /*
     * qel_tool_disconnect() - after the work reached its normal end: closing line, close,
     * the pause after closing when the tool's reset flag is set, port name released, result 0.
     */
    void qel_tool_disconnect(TS_QEL_TOOL_RUN* psRun);

    /*
     * qel_tool_finish() - final clean-up on every way out: releases the port and file names,
     * closes a still open port silently. Returns the exit status (0 or -1) for main.
     */
    int qel_tool_finish(TS_QEL_TOOL_RUN* psRun);

    /* ---- Output lines (each flushes the stream, also when silent mode suppressed it) ----------
     */

    /* qel_tool_progress() - "# ..." text, printed unless silent. */
    void qel_tool_progress(TS_QEL_TOOL_RUN* psRun, const char* pszFormat, ...)
        QEL_TOOL_PRINTF(2, 3);

    /* qel_tool_outcome() - completes a progress line: "done\n" (fOk) or "failed\n", unless silent.
     */
    void qel_tool_outcome(TS_QEL_TOOL_RUN* psRun, int fOk);

    /* qel_tool_step_outcome() - completes the progress line of a printer exchange that returned
     * pszFailure (nullptr: success); a failure also prints "! <tool>: <pszStep> failed => <why>".
     * Returns 1 on success, 0 on failure.
     */
    int qel_tool_step_outcome(TS_QEL_TOOL_RUN* psRun, const char* pszFailure, const char* pszStep);

    /* qel_tool_error() - "! <tool>: " followed by the formatted text; always printed. */
    void qel_tool_error(TS_QEL_TOOL_RUN* psRun, const char* pszFormat, ...) QEL_TOOL_PRINTF(2, 3);

    /* qel_tool_print() - any formatted text, always printed (data lines). */
    void qel_tool_print(TS_QEL_TOOL_RUN* psRun, const char* pszFormat, ...) QEL_TOOL_PRINTF(2, 3);

    /* qel_tool_data_line() - "%-50.50s = " with pszName, then the formatted value (which carries
     * its own "\n"); always printed. */
    void qel_tool_data_line(TS_QEL_TOOL_RUN* psRun, const char* pszName, const char* pszFormat, ...)
        QEL_TOOL_PRINTF(3, 4);

    /* qel_tool_data_hex() - "%-50.50s = " with pszName, nGroups hex groups (printer_text.h),
     * "\n"; always printed. */
    void qel_tool_data_hex(TS_QEL_TOOL_RUN* psRun, const char* pszName,
                           const unsigned char* pubData, /* I  first byte of the first group */
                           size_t nGroupBytes,           /* I  bytes per group */
                           size_t nGroups,               /* I  number of groups (>= 1) */
                           size_t nStride);              /* I  distance between group starts */

    /* ---- Pure helpers --------------------------------------------------------------------------
     */

    /* qel_tool_parse_hex_code() - "[XXXX]" (exactly 6 characters, hex digits in either case)
     * gives 0..0xFFFF; anything else gives -1. */
    int qel_tool_parse_hex_code(const char* pszArg);

    /* qel_tool_port_class() - 0 when the name contains "/dev/usb/lp", else 1 when it contains
     * "/dev/bus/usb/", else 0. */
    int qel_tool_port_class(const char* pszPort);

#ifdef __cplusplus
}

/*
 * qel_tool_reset_desc() - the descriptor of a tool whose reset option (iResetFlag) restarts the
 * printer: after closing, the frame waits the 2.5 s the printer needs before it answers again.
 * The second argument is optional (no missing-second text); the tables are counted here.
 */
template <size_t nOptions, size_t nUsage>
constexpr TS_QEL_TOOL_DESC
qel_tool_reset_desc(const char* pszToolName, const char* pszBuildDate, const char* pszBuildTime,
                    const TS_QEL_TOOL_OPTION (&asOptions)[nOptions], int iResetFlag,
                    ET_QEL_TOOL_SECOND eSecond, const char* pszMissingPort, const char* pszOpening,
                    const char* pszClosing, const char* const (&apszUsage)[nUsage])
{
    return TS_QEL_TOOL_DESC{pszToolName, pszBuildDate,   pszBuildTime, asOptions,  int(nOptions),
                            eSecond,     pszMissingPort, nullptr,      pszOpening, pszClosing,
                            apszUsage,   int(nUsage),    iResetFlag,   2500000};
}
#endif

#endif /* QEL_TOOL_FRAME_H */
