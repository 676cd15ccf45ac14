// Qel_ConfigurationTool run against the virtual printer on a serial line, a
// printer-class node and the emulated USB device.
#include "e2e_printer.h"
#include "failure_texts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace
{

using e2e::Bytes;
using e2e::Sent;
using qel_vp::FrameKind;
using qel_vp::PortKind;

const std::string kTool = "Qel_ConfigurationTool";

std::string block_line(const qel_vp::ConfigBlock& b)
{
    return "configuration_data                                 = [" +
           test_support::hex(b.data(), b.size()) + "]\n";
}

Bytes bytes_of(const qel_vp::ConfigBlock& b)
{
    return Bytes(b.begin(), b.end());
}

class ConfigTool : public e2e::PrinterTest
{
  protected:
    // A fresh printer for each fault: an answer the tool left unread must not reach
    // the next run (a USB printer keeps it queued on its IN endpoint).
    void restart()
    {
        printer.stop();
        start_printer();
    }

    test_support::RunResult run(const std::vector<std::string>& args, const std::string& input = {})
    {
        return printer.run_tool(QEL_CONFIGURATION_TOOL, kTool, args, input);
    }

    // With `fault` set on a fresh printer, the run with `options` and the port
    // ends with -1 and prints `before` + the opening lines + `after`, and the
    // printer received only the one request of kind `kind`.
    void expect_failed_exchange(const char* fault, std::vector<std::string> options,
                                const std::string& input, const std::string& before,
                                const std::string& after, FrameKind kind)
    {
        SCOPED_TRACE(fault);
        restart();
        qel_vp::Fault parsed;
        ASSERT_TRUE(qel_vp::parse_fault(fault, parsed));
        printer.vp->set_faults({parsed});

        options.push_back(printer.port());
        const test_support::RunResult r = run(options, input);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, before + opening() + after);
        const std::vector<Sent> sent = printer.sent();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent.back().kind, kind);
        EXPECT_EQ(printer.vp->hard_resets(), 0u);
    }

    std::string opening() const { return printer.opening("port"); }
    std::string closing() const { return printer.closing("port"); }

    // A block that differs from the printer's own, with a valid checksum.
    qel_vp::ConfigBlock changed_block() const
    {
        qel_vp::ConfigBlock b = printer.vp->config();
        const char serial[] = "E2E-TEST-SERIAL";
        std::fill(b.begin() + 4, b.begin() + 38, 0);
        std::copy(serial, serial + sizeof serial - 1, b.begin() + 4);
        b[39] ^= 0x01; // baudrate
        qel_vp::seal_config_block(b);
        return b;
    }
};

} // namespace

TEST_P(ConfigTool, DownloadPrintsTheBlockAsReceived)
{
    const qel_vp::ConfigBlock served = printer.vp->config();
    test_support::RunResult r = run({"-d", printer.port()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "# <banner>\n" + opening() + "# Downloading configuration data ... done\n" +
                         block_line(served) + closing());
    EXPECT_EQ(printer.sent(),
              (std::vector<Sent>{{FrameKind::ConfigDownload, {0x1B, 0xFF, 0x46, 0x00}}}));

    // "-v" adds one line per listed field after the block line; silent mode keeps only data.
    r = run({"-s", "-v", "-d", printer.port()});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.out.rfind(block_line(served), 0), 0u) << r.out;
    const std::string listing = r.out.substr(block_line(served).size());
    std::size_t lines = 0;
    for (std::size_t at = 0; at < listing.size(); at = listing.find('\n', at) + 1, ++lines)
        EXPECT_EQ(listing.compare(at, 19, "configuration_data."), 0) << listing.substr(at, 60);
    EXPECT_EQ(lines, 44u);
    EXPECT_EQ(listing.rfind("configuration_data.revision_number                 = 1\n", 0), 0u);

    // "-v" without "-d" lists nothing.
    r = run({"-s", "-v", printer.port()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
}

TEST_P(ConfigTool, UploadDownloadResetRoundTrip)
{
    const qel_vp::ConfigBlock before = printer.vp->config();
    const qel_vp::ConfigBlock changed = changed_block();

    // Upload, then download (the printer still serves its old block), then reset.
    test_support::RunResult r =
        run({"-u", "-d", "-r", printer.port()}, "# saved\n" + block_line(changed));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "# <banner>\n# Processing configuration data input ... done\n" + opening() +
                         "# Uploading configuration data ... done\n"
                         "# Downloading configuration data ... done\n" +
                         block_line(before) + "# Resetting printer ... done\n" + closing());
    EXPECT_EQ(printer.sent(),
              (std::vector<Sent>{
                  {FrameKind::ConfigUpload, e2e::cat({0x1B, 0xFF, 0x26, 0xFF}, bytes_of(changed))},
                  {FrameKind::ConfigDownload, {0x1B, 0xFF, 0x46, 0x00}},
                  {FrameKind::HardReset, {0x1B, 0xF2, 0x03, 0x00}}}));
    EXPECT_EQ(printer.vp->hard_resets(), 1u);
    EXPECT_EQ(printer.vp->config(), changed); // applied at the reset

    // What "-d" prints now uploads back unchanged, banner and progress lines included.
    r = run({"-d", printer.port()});
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(block_line(changed)), std::string::npos);
    const test_support::RunResult back = run({"-s", "-u", printer.port()}, r.out);
    EXPECT_EQ(back.status, 0);
    EXPECT_EQ(back.out, "");
    ASSERT_TRUE(printer.vp->pending_config().has_value());
    EXPECT_EQ(*printer.vp->pending_config(), changed);
}

TEST_P(ConfigTool, ResetAlone)
{
    const auto t0 = std::chrono::steady_clock::now();
    const test_support::RunResult r = run({"-r", printer.port()});
    const auto elapsed = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "# <banner>\n" + opening() + "# Resetting printer ... done\n" + closing());
    // The restarting printer gets 2.5 s after the close (on top of the 0.5 s after the
    // synchronisation bytes); a lower bound only, which no load can break.
    EXPECT_GE(elapsed, std::chrono::milliseconds(3000));
    EXPECT_EQ(printer.sent(),
              (std::vector<Sent>{{FrameKind::HardReset, {0x1B, 0xF2, 0x03, 0x00}}}));

    // No option: open, synchronise, close.
    printer.vp->clear_received();
    const test_support::RunResult none = run({printer.port()});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "# <banner>\n" + opening() + closing());
}

TEST_P(ConfigTool, RejectedInputLeavesThePrinterUntouched)
{
    const qel_vp::ConfigBlock good = changed_block();
    const std::string digits = test_support::hex(good.data(), good.size());
    const std::string key = "configuration_data                                 = [";
    qel_vp::ConfigBlock revision = good;
    revision[0] = 2;
    qel_vp::seal_config_block(revision);
    qel_vp::ConfigBlock size = good;
    size[2] = 254;
    qel_vp::ConfigBlock crc = good;
    crc[200] ^= 0x10;
    qel_vp::seal_config_block(size);
    std::string bad_digit = digits;
    bad_digit[77] = 'x';

    const std::vector<std::string> inputs = {
        "",
        key + digits.substr(0, 508) + "]\n",
        key + digits + ")\n",
        key + bad_digit + "]\n",
        block_line(revision),
        block_line(size),
        block_line(crc),
    };
    for (const std::string& input : inputs)
    {
        const test_support::RunResult r = run({"-u", "-d", "-r", printer.port()}, input);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, "# <banner>\n# Processing configuration data input ... failed\n"
                         "! Qel_ConfigurationTool: failed processing configuration data input\n");
    }
    EXPECT_TRUE(printer.vp->received().empty()); // the port was never opened
}

// A fault of the printer (--fault) and the failure it causes.
struct FaultMessage
{
    const char* fault;
    const char* message;
};

TEST_P(ConfigTool, DownloadFailures)
{
    const FaultMessage cases[] = {
        {"wrong-type:config-download:0", failure_text::download_type},
        {"wrong-size:config-download:0", failure_text::download_size},
        {"wrong-first:config-download:0", failure_text::download_size},
        {"short:config-download:0", failure_text::download_no_data},
        {"silent:config-download:0", failure_text::config_no_header},
    };
    for (const FaultMessage& k : cases)
    {
        // Only the request goes out: no reset after the failure.
        expect_failed_exchange(k.fault, {"-d", "-r"}, {}, "# <banner>\n",
                               "# Downloading configuration data ... failed\n"
                               "! Qel_ConfigurationTool: configuration data download failed => " +
                                   std::string(k.message) + "\n",
                               FrameKind::ConfigDownload);
    }
}

TEST_P(ConfigTool, UploadFailures)
{
    const std::string input = block_line(changed_block());
    const FaultMessage cases[] = {
        {"wrong-type:config-upload:0", failure_text::config_upload_type},
        {"cancel:config-upload:0", failure_text::config_upload_size},
        {"wrong-first:config-upload:0", failure_text::config_upload_size},
        {"silent:config-upload:0", failure_text::config_no_header},
    };
    for (const FaultMessage& k : cases)
    {
        // Neither download nor reset follows a failed upload.
        expect_failed_exchange(k.fault, {"-u", "-d", "-r"}, input,
                               "# <banner>\n# Processing configuration data input ... done\n",
                               "# Uploading configuration data ... failed\n"
                               "! Qel_ConfigurationTool: configuration data upload failed => " +
                                   std::string(k.message) + "\n",
                               FrameKind::ConfigUpload);
    }
}

INSTANTIATE_TEST_SUITE_P(Ports, ConfigTool,
                         ::testing::Values(PortKind::Ttys, PortKind::Lp, PortKind::Usb),
                         [](const auto& info) { return std::string(e2e::kind_name(info.param)); });

TEST(ConfigToolCommandLine, OpenFailureAndSilentMode)
{
    const std::string port = "/nonexistent/dev/usb/lp7";
    test_support::RunResult r = test_support::run_program(QEL_CONFIGURATION_TOOL, {"-d", port});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(test_support::mask_banner(r.out, kTool),
              "# <banner>\n# Opening connection to printer port \"" + port + "\" ... failed\n" +
                  "! Qel_ConfigurationTool: could not open connection \"" + port +
                  "\"to printer \n");

    r = test_support::run_program(QEL_CONFIGURATION_TOOL, {"-s", "-u", "-d", port},
                                  "no block here\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "! Qel_ConfigurationTool: failed processing configuration data input\n");

    // A surplus argument after the port.
    r = test_support::run_program(QEL_CONFIGURATION_TOOL, {"-s", "-d", port, "-v"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out.rfind("! Qel_ConfigurationTool: invalid argument (argument 4, \"-v\")\n"
                          "# Dornwaldt - Qel_ConfigurationTool - ",
                          0),
              0u)
        << r.out;
}
