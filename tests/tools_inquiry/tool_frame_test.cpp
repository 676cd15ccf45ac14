// Command line classification, banner and usage of the tool frame, on a memory stream.
#include "tool_frame.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

namespace
{

constexpr const char* k_apszUsage[] = {"# Usage:    %s [-s] [-h] [-x] Printer Second\n",
                                       "# Examples: %s -s \"/dev/Ttys1\" %s\n"};
constexpr TS_QEL_TOOL_OPTION k_asOptions[] = {{"-x", 0x1}, {"-y", 0x2}, {"-Y", 0x2}};

TS_QEL_TOOL_DESC Desc(ET_QEL_TOOL_SECOND eSecond)
{
    TS_QEL_TOOL_DESC d{};
    d.pszToolName = "Frame_Tool";
    d.pszBuildDate = "Feb  6 2021";
    d.pszBuildTime = "01:02:03";
    d.psOptions = k_asOptions;
    d.nOptions = 3;
    d.eSecond = eSecond;
    d.pszMissingPort = "missing port";
    d.pszMissingSecond = eSecond == EV_QEL_TOOL_SECOND_HEX_CODE ? "missing code" : nullptr;
    d.pszOpening = "# Opening \"%s\" ... ";
    d.pszClosing = "# Closing \"%s\" ... ";
    d.ppszUsage = k_apszUsage;
    d.nUsage = 2;
    return d;
}

// Runs qel_tool_start on the arguments (program name added) and keeps the output.
struct Started
{
    TS_QEL_TOOL_DESC desc;
    TS_QEL_TOOL_RUN run{};
    std::string out;
    int fRun = 0;

    Started(ET_QEL_TOOL_SECOND eSecond, std::initializer_list<const char*> args)
        : desc(Desc(eSecond))
    {
        std::vector<std::string> store = {"frame_tool"};
        store.insert(store.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& s : store)
            argv.push_back(s.data());
        argv.push_back(nullptr);

        char* pBuf = nullptr;
        size_t nBuf = 0;
        FILE* psMem = open_memstream(&pBuf, &nBuf);
        fRun = qel_tool_start(&run, &desc, psMem, static_cast<int>(store.size()), argv.data());
        std::fclose(psMem);
        out.assign(pBuf, nBuf);
        std::free(pBuf);
        run.psOut = stderr; // the memory stream is gone; finish only flushes
    }
    ~Started() { qel_tool_finish(&run); }
};

const std::string k_banner =
    "# Dornwaldt - Frame_Tool - Version R4-V1.04-BETA - Feb  6 2021 - 01:02:03\n";
const std::string k_usage = "# Usage:    Frame_Tool [-s] [-h] [-x] Printer Second\n"
                            "# Examples: Frame_Tool -s \"/dev/Ttys1\" Frame_Tool\n";

TEST(FrameCommandLine, ValidLinesRunWithTheirFlagsAndValues)
{
    Started a(EV_QEL_TOOL_SECOND_HEX_CODE, {"-s", "-v", "-x", "-x", "/dev/usb/lp0", "[abCD]"});
    EXPECT_EQ(a.fRun, 1);
    EXPECT_EQ(a.out, ""); // silent: no banner
    EXPECT_TRUE(a.run.fSilent && a.run.fVerbose && !a.run.fHelp);
    EXPECT_EQ(a.run.iToolFlags, 0x1);
    EXPECT_EQ(a.run.iCode, 0xABCD);
    EXPECT_STREQ(a.run.pszPort, "/dev/usb/lp0");
    EXPECT_EQ(a.run.iResult, -1);
    EXPECT_EQ(a.run.iPrinter, -1);

    Started b(EV_QEL_TOOL_SECOND_NONE, {"-y", "-Y", "/dev/bus/usb/001/005"});
    EXPECT_EQ(b.fRun, 1);
    EXPECT_EQ(b.out, k_banner);
    EXPECT_EQ(b.run.iToolFlags, 0x2);
    EXPECT_EQ(b.run.iPortClass, 1);

    // The file position takes anything, also a text that looks like an option.
    Started c(EV_QEL_TOOL_SECOND_FILE, {"/dev/Ttys1", "-s"});
    EXPECT_EQ(c.fRun, 1);
    EXPECT_STREQ(c.run.pszFile, "-s");
    EXPECT_EQ(c.run.fSilent, 0);
    Started d(EV_QEL_TOOL_SECOND_FILE, {"/dev/Ttys1"});
    EXPECT_EQ(d.fRun, 1);
    EXPECT_EQ(d.run.pszFile, nullptr);
}

TEST(FrameCommandLine, HelpWithAValidLinePrintsUsageAndStillRuns)
{
    Started a(EV_QEL_TOOL_SECOND_HEX_CODE, {"-s", "-h", "/dev/Ttys1", "[0000]"});
    EXPECT_EQ(a.fRun, 1);
    EXPECT_EQ(a.out, k_banner + k_usage);
}

TEST(FrameCommandLine, InvalidArgumentsAreReportedWithTheirIndex)
{
    struct Case
    {
        ET_QEL_TOOL_SECOND eSecond;
        std::initializer_list<const char*> args;
        std::string report;
    };
    const Case cases[] = {
        {EV_QEL_TOOL_SECOND_HEX_CODE, {"-q", "/dev/usb/lp0", "[0001]"}, "(argument 1, \"-q\")"},
        {EV_QEL_TOOL_SECOND_HEX_CODE, {"-", "/dev/usb/lp0", "[0001]"}, "(argument 1, \"-\")"},
        {EV_QEL_TOOL_SECOND_HEX_CODE,
         {"-s", "dev/usb/lp0", "[0001]"},
         "(argument 2, \"dev/usb/lp0\")"},
        {EV_QEL_TOOL_SECOND_HEX_CODE,
         {"\\dev\\usb\\lp0", "[0001]"},
         "(argument 1, \"\\dev\\usb\\lp0\")"},
        {EV_QEL_TOOL_SECOND_HEX_CODE, {"/dev/usb/lp0", "-s"}, "(argument 2, \"-s\")"},
        {EV_QEL_TOOL_SECOND_HEX_CODE, {"/dev/usb/lp0", "[001]"}, "(argument 2, \"[001]\")"},
        {EV_QEL_TOOL_SECOND_HEX_CODE, {"/dev/usb/lp0", "0001"}, "(argument 2, \"0001\")"},
        {EV_QEL_TOOL_SECOND_HEX_CODE, {"/dev/usb/lp0", "[00G1]"}, "(argument 2, \"[00G1]\")"},
        {EV_QEL_TOOL_SECOND_HEX_CODE, {"/dev/usb/lp0", "[00001]"}, "(argument 2, \"[00001]\")"},
        {EV_QEL_TOOL_SECOND_HEX_CODE, {"/dev/usb/lp0", "[0001]", "x"}, "(argument 3, \"x\")"},
        {EV_QEL_TOOL_SECOND_NONE,
         {"-x", "/dev/Ttys1", "/dev/Ttys2"},
         "(argument 3, \"/dev/Ttys2\")"},
        {EV_QEL_TOOL_SECOND_FILE, {"/dev/Ttys1", "f", "g"}, "(argument 3, \"g\")"},
        {EV_QEL_TOOL_SECOND_FILE, {"", "/dev/Ttys1"}, "(argument 1, \"\")"},
    };
    for (const Case& c : cases)
    {
        // The error sets help, so banner and usage appear even when "-s" was given.
        Started s(c.eSecond, c.args);
        EXPECT_EQ(s.fRun, 0) << c.report;
        EXPECT_EQ(s.out, "! Frame_Tool: invalid argument " + c.report + "\n" + k_banner + k_usage);
        EXPECT_EQ(s.run.fHelp, 1);
    }
}

TEST(FrameCommandLine, MissingPortComesBeforeMissingSecond)
{
    Started a(EV_QEL_TOOL_SECOND_HEX_CODE, {"-h"});
    EXPECT_EQ(a.fRun, 0);
    EXPECT_EQ(a.out, "! Frame_Tool: missing port\n" + k_banner + k_usage);

    Started b(EV_QEL_TOOL_SECOND_HEX_CODE, {"-s", "/dev/usb/lp0"});
    EXPECT_EQ(b.fRun, 0);
    EXPECT_EQ(b.out, "! Frame_Tool: missing code\n" + k_banner + k_usage);

    Started c(EV_QEL_TOOL_SECOND_NONE, {});
    EXPECT_EQ(c.out, "! Frame_Tool: missing port\n" + k_banner + k_usage);
}

TEST(FramePureHelpers, HexCodeAndPortClass)
{
    EXPECT_EQ(qel_tool_parse_hex_code("[0000]"), 0);
    EXPECT_EQ(qel_tool_parse_hex_code("[FFFF]"), 0xFFFF);
    EXPECT_EQ(qel_tool_parse_hex_code("[abcd]"), qel_tool_parse_hex_code("[ABCD]"));
    EXPECT_EQ(qel_tool_parse_hex_code("[0013]"), 0x13);
    for (const char* bad : {"", "[]", "[0013", "0013]", "(0013)", "[ 013]", "[0x13]", "[-001]"})
        EXPECT_EQ(qel_tool_parse_hex_code(bad), -1) << bad;

    EXPECT_EQ(qel_tool_port_class("/dev/usb/lp0"), 0);
    EXPECT_EQ(qel_tool_port_class("/dev/Ttys1"), 0);
    EXPECT_EQ(qel_tool_port_class("/tmp/x/dev/bus/usb/001/005"), 1);
    EXPECT_EQ(qel_tool_port_class("/dev/bus/usb/dev/usb/lp0"), 0);
}

} // namespace
