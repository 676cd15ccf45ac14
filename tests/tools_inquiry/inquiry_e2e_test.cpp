// Qel_InquiryTool run as a technician would, against the virtual printer on each kind of port.
#include "child_process.h"
#include "failure_texts.h"
#include "temp_dir.h"
#include "tool_output.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace
{
using test_support::mask_build_moment;
using test_support::read_file;
using ToolRun = test_support::RunResult;

// Text of tests/tools_inquiry/expected/<name> with "@PORT@" and "@MESSAGE@" replaced.
std::string expected_text(const std::string& name, const std::string& port = "",
                          const std::string& message = "")
{
    std::string text = read_file(std::string(QEL_INQ_EXPECTED_DIR) + "/" + name);
    if (text.empty())
        return "<missing expected file " + name + ">";
    for (const auto& [from, to] : {std::pair{"@PORT@", port}, std::pair{"@MESSAGE@", message}})
        for (std::size_t at = text.find(from); at != std::string::npos;
             at = text.find(from, at + to.size()))
            text.replace(at, std::string(from).size(), to);
    return text;
}

ToolRun run_tool(const std::string& program, const std::vector<std::string>& args,
                 const test_support::Env& env = {})
{
    return test_support::run_program(program, args, {}, env, 60000);
}

const std::string k_tool = QEL_INQ_TOOL_PATH;

// The virtual printer program serving the fixed record set on a port of the given kind, the
// tool run against it as a separate process. The parameter is the kind of port: "lp", "tty" or
// "usb" (see test_support::emulator_port_args).
class InquiryOnPort : public ::testing::TestWithParam<std::string>
{
  protected:
    void SetUp() override { ASSERT_TRUE(tmp_.ok()); }
    void TearDown() override { test_support::stop_emulator(printer_); }

    // Starts the printer with the given faults ("KIND:EXCHANGE:NTH[:PARAM]"); returns the port
    // name for the command line.
    std::string Start(const std::vector<std::string>& faults = {})
    {
        test_support::stop_emulator(printer_);
        transcript_ = dir_ + "/transcript-" + std::to_string(++starts_) + ".txt";
        std::vector<std::string> args = test_support::emulator_port_args(GetParam(), dir_);
        args.insert(args.end(),
                    {"--config-file", std::string(QEL_INQ_EXPECTED_DIR) + "/records.txt",
                     "--transcript", transcript_});
        for (const std::string& f : faults)
            args.insert(args.end(), {"--fault", f});
        if (test_support::start_emulator(QEL_INQ_VPRINTER_PATH, args, printer_))
            return printer_.port;
        ADD_FAILURE() << "the virtual printer did not get ready: " << printer_.error;
        return "/nonexistent/dev/usb/lp0";
    }

    ToolRun Run(const std::vector<std::string>& args)
    {
        ToolRun run =
            run_tool(k_tool, args, test_support::emulator_client_env(printer_.umockdev_dir));
        EXPECT_FALSE(run.timed_out);
        // The tools never write to standard error (libusb's own warnings excepted).
        if (GetParam() != "usb")
        {
            EXPECT_EQ(run.err, "");
        }
        return run;
    }

    // Frames of the transcript: "<offset> <kind> <length> <hex bytes>".
    std::vector<std::vector<std::string>> Frames(const std::string& kind) const
    {
        std::vector<std::vector<std::string>> frames;
        std::ifstream in(transcript_);
        for (std::string line; std::getline(in, line);)
        {
            std::istringstream words(line);
            std::vector<std::string> w;
            for (std::string word; words >> word;)
                w.push_back(word);
            if (w.size() >= 3 && w[1] == kind)
                frames.push_back(w);
        }
        return frames;
    }

    // Inquiry requests the printer received, in order, as their 16-bit values.
    std::vector<int> Inquiries() const
    {
        std::vector<int> values;
        for (const auto& w : Frames("inquiry"))
        {
            EXPECT_EQ(w.size(), 7u);
            EXPECT_EQ(w[3] + w[4], "1D61");
            if (w.size() == 7)
                values.push_back(std::stoi(w[5] + w[6], nullptr, 16));
        }
        return values;
    }

    // Bytes of all synchronisation frames.
    size_t SyncBytes() const
    {
        size_t n = 0;
        for (const auto& w : Frames("sync"))
            n += std::stoul(w[2]);
        return n;
    }

    test_support::TempDir tmp_;
    const std::string& dir_ = tmp_.path();
    std::string transcript_;
    int starts_ = 0;
    test_support::EmulatorProcess printer_;
};

TEST_P(InquiryOnPort, EveryKindVerboseInBitOrderWithTheUnsupportedBits)
{
    std::string port = Start();
    ToolRun run = Run({"-v", port, "[FFFF]"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(mask_build_moment(run.out), expected_text("ffff_verbose.txt", port));
    EXPECT_EQ(Inquiries(), (std::vector<int>{0x01, 0x02, 0x04, 0x08, 0x10, 0x40, 0x80}));
    EXPECT_EQ(SyncBytes(), 10u);
}

TEST_P(InquiryOnPort, RawLinesOnlyWithoutVerbose)
{
    std::string port = Start();
    ToolRun run = Run({port, "[ffff]"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(mask_build_moment(run.out), expected_text("ffff.txt", port));

    run = Run({port, "[0001]"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(mask_build_moment(run.out), expected_text("0001.txt", port));
}

TEST_P(InquiryOnPort, SilentModeKeepsOnlyDataLines)
{
    std::string port = Start();
    ToolRun run = Run({"-s", "-v", port, "[FFFF]"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, expected_text("ffff_silent_verbose.txt", port));

    run = Run({"-s", port, "[0013]"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, expected_text("0013_silent.txt", port));
    EXPECT_EQ(Inquiries(),
              (std::vector<int>{0x01, 0x02, 0x04, 0x08, 0x10, 0x40, 0x80, 0x01, 0x02, 0x10}));
}

TEST_P(InquiryOnPort, EmptyCodeOnlyOpensSynchronisesAndCloses)
{
    std::string port = Start();
    ToolRun run = Run({port, "[0000]"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(mask_build_moment(run.out), expected_text("0000.txt", port));

    // Only bits without a kind: nothing is asked, so nothing went unanswered.
    run = Run({"-s", port, "[0020]"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "! Qel_InquiryTool: data inquiry [0020] not supported \n");
    EXPECT_TRUE(Inquiries().empty());
}

// Each way an answer can go wrong fails the first inquiry only: the next one clears the port,
// so the bytes left behind are not taken for its header.
TEST_P(InquiryOnPort, EachExchangeFailureIsReportedAndTheRunGoesOn)
{
    struct Case
    {
        std::string fault;
        std::string message;
    };
    const Case cases[] = {
        {"silent:inquiry:1", failure_text::inquiry_no_header},
        {"wrong-type:inquiry:1", failure_text::inquiry_type},
        {"wrong-size:inquiry:1", failure_text::inquiry_size},
        {"wrong-first:inquiry:1", failure_text::inquiry_size},
        {"short:inquiry:1:1", failure_text::inquiry_no_data},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.fault);
        std::string port = Start({c.fault});
        ToolRun run = Run({port, "[0003]"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(mask_build_moment(run.out),
                  expected_text("0003_first_failed.txt", port, c.message));
    }
}

TEST_P(InquiryOnPort, APrinterThatAnswersOnlySomeKinds)
{
    std::string port = Start({"silent:inquiry:2"});
    ToolRun run = Run({port, "[0013]"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(mask_build_moment(run.out), expected_text("0013_partial.txt", port));

    // Switched off behind a live port: no kind answered is a failed run, closed as usual.
    port = Start({"silent:inquiry:0"});
    run = Run({port, "[0023]"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(mask_build_moment(run.out), expected_text("0023_none_answered.txt", port));
    EXPECT_EQ(Inquiries(), (std::vector<int>{0x01, 0x02}));
}

TEST_P(InquiryOnPort, APortThatGoesAwayFailsTheRequestsAfterIt)
{
    std::string port = Start({"disconnect:inquiry:1"});
    ToolRun run = Run({port, "[0003]"});
    EXPECT_EQ(run.status, 255) << "no kind was answered";
    EXPECT_EQ(mask_build_moment(run.out), expected_text("0003_port_gone.txt", port));
}

TEST_P(InquiryOnPort, HelpWithAValidLinePrintsTheUsageAndStillRuns)
{
    std::string port = Start();
    ToolRun run = Run({"-h", "-s", port, "[0000]"});
    EXPECT_EQ(run.status, 0);
    // Help overrides silent mode for the banner; the rest of the run stays silent.
    std::string banner = expected_text("0000.txt", port);
    banner = banner.substr(0, banner.find('\n') + 1);
    EXPECT_EQ(mask_build_moment(run.out), banner + expected_text("usage.txt"));
}

INSTANTIATE_TEST_SUITE_P(Ports, InquiryOnPort, ::testing::Values("lp", "tty", "usb"),
                         [](const ::testing::TestParamInfo<std::string>& info) -> std::string {
                             return info.param == "lp"    ? "Lp"
                                    : info.param == "tty" ? "Ttys"
                                                          : "Usb";
                         });

// ---- Runs that end before any printer is touched ---------------------------------------------

TEST(InquiryCommandLine, ErrorsPrintTheirLineBannerAndUsageAndExitWithMinusOne)
{
    struct Case
    {
        std::vector<std::string> args;
        std::string firstLine;
    };
    const std::string t = "! Qel_InquiryTool: ";
    const Case cases[] = {
        {{"-h"}, t + "missing printer port (e.g. \"\\dev\\usb\\lp0\")"},
        {{}, t + "missing printer port (e.g. \"\\dev\\usb\\lp0\")"},
        {{"-s", "/dev/usb/lp0"}, t + "missing inquiry code (e.g. [0001])"},
        {{"-s", "-x", "/dev/usb/lp0", "[0001]"}, t + "invalid argument (argument 2, \"-x\")"},
        {{"/dev/usb/lp0", "-s"}, t + "invalid argument (argument 2, \"-s\")"},
        {{"-v", "dev/usb/lp0", "[0001]"}, t + "invalid argument (argument 2, \"dev/usb/lp0\")"},
        {{"/dev/usb/lp0", "[001]"}, t + "invalid argument (argument 2, \"[001]\")"},
        {{"/dev/usb/lp0", "0001"}, t + "invalid argument (argument 2, \"0001\")"},
        {{"/dev/usb/lp0", "[00G1]"}, t + "invalid argument (argument 2, \"[00G1]\")"},
        {{"/dev/usb/lp0", "[00001]"}, t + "invalid argument (argument 2, \"[00001]\")"},
        {{"-s", "-s", "/dev/usb/lp0", "[0001]", "[0002]"},
         t + "invalid argument (argument 5, \"[0002]\")"},
    };
    const std::string banner =
        "# Dornwaldt - Qel_InquiryTool - Version R4-V1.04-BETA - @DATE@ - @TIME@\n";
    for (const Case& c : cases)
    {
        ToolRun run = run_tool(k_tool, c.args);
        SCOPED_TRACE(c.firstLine);
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(mask_build_moment(run.out),
                  c.firstLine + "\n" + banner + expected_text("usage.txt"));
        EXPECT_EQ(run.err, "");
    }
}

TEST(InquiryCommandLine, APortThatCannotBeOpened)
{
    test_support::TempDir dir;
    std::string port = dir.path() + "/dev/usb/lp7"; // no such node

    ToolRun run = run_tool(k_tool, {port, "[0001]"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(mask_build_moment(run.out), expected_text("open_failed.txt", port));

    run = run_tool(k_tool, {"-s", port, "[0001]"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, expected_text("open_failed_silent.txt", port));
}

} // namespace
