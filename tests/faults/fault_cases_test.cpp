// Fault injection: every exchange of every maintenance tool against a virtual
// printer that stays silent, answers late, cancels, sends a wrong header byte,
// withholds data, sends stray bytes first, or goes away.  Each run must end
// with its message and exit status within the time the protocol allows, and
// the printer must receive no frame after the one that failed.
#include "child_process.h"
#include "failure_texts.h"
#include "temp_dir.h"
#include "tool_output.h"
#include "upload_file_maker.h"

#include "virtual_printer.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace
{

enum class Tool
{
    Inquiry,      // Qel_InquiryTool PORT [0001]
    Download,     // Qel_ConfigurationTool -d PORT
    ConfigUpload, // Qel_ConfigurationTool -u -d -r PORT < block line
    Reset,        // Qel_ConfigurationTool -r PORT
    Upload,       // Qel_UploadTool -r PORT FILE (blocks collected into large writes)
    UploadPaced,  // Qel_UploadTool -r -S PORT FILE (one write per block, 10 ms apart)
};

struct FaultCase
{
    const char* name;
    Tool tool;
    const char* port;       // "lp", "tty" or "usb"
    const char* fault;      // --fault of the virtual printer, "" for none
    const char* message;    // text after "failed => ", nullptr when the run succeeds
    const char* last_frame; // kind of the last frame the printer receives
    long wait_ms;           // time-outs and protocol pauses the run may spend
};

// Protocol pauses of every run: synchronisation (500 ms), opening pauses of one
// exchange (2 x 100 ms).
constexpr long P = 700;
// The hard reset is followed by a 2.5 s pause after closing.
constexpr long R = 2500 + 200;

using namespace failure_text;

// The upload file carries 20000 data bytes: 79 blocks, 10 ms apart.
constexpr long kBlocks = 790;

const FaultCase kCases[] = {
    // Inquiry: failures are reported and the run still closes normally; with the one kind of
    // [0001] unanswered it ends with -1.
    {"inquiry_silent", Tool::Inquiry, "lp", "silent:inquiry", inquiry_no_header, "inquiry",
     P + 1000},
    {"inquiry_late", Tool::Inquiry, "lp", "late:inquiry:1:1600", inquiry_no_header, "inquiry",
     P + 1000},
    {"inquiry_late_in_time", Tool::Inquiry, "lp", "late:inquiry:1:400", nullptr, "inquiry",
     P + 400},
    {"inquiry_wrong_type", Tool::Inquiry, "lp", "wrong-type:inquiry", inquiry_type, "inquiry", P},
    {"inquiry_wrong_size", Tool::Inquiry, "lp", "wrong-size:inquiry", inquiry_size, "inquiry", P},
    {"inquiry_wrong_first", Tool::Inquiry, "lp", "wrong-first:inquiry", inquiry_size, "inquiry", P},
    {"inquiry_wrong_second", Tool::Inquiry, "lp", "wrong-second:inquiry", inquiry_size, "inquiry",
     P},
    {"inquiry_short", Tool::Inquiry, "lp", "short:inquiry", inquiry_no_data, "inquiry", P + 1000},
    {"inquiry_stray", Tool::Inquiry, "lp", "stray:inquiry", inquiry_type, "inquiry", P},
    {"inquiry_disconnect", Tool::Inquiry, "lp", "disconnect:inquiry", inquiry_no_header, "inquiry",
     P + 1000},
    {"inquiry_tty_wrong_type", Tool::Inquiry, "tty", "wrong-type:inquiry", inquiry_type, "inquiry",
     P},
    {"inquiry_usb_silent", Tool::Inquiry, "usb", "silent:inquiry", inquiry_no_header, "inquiry",
     P + 1000},
    {"inquiry_usb_disconnect", Tool::Inquiry, "usb", "disconnect:inquiry", inquiry_no_header,
     "inquiry", P + 1000},

    // Configuration download: every failure ends the run with -1.
    {"download_silent", Tool::Download, "lp", "silent:config-download", config_no_header,
     "config-download", P + 500},
    {"download_late", Tool::Download, "lp", "late:config-download:1:1200", config_no_header,
     "config-download", P + 500},
    {"download_wrong_type", Tool::Download, "lp", "wrong-type:config-download", download_type,
     "config-download", P},
    {"download_wrong_size", Tool::Download, "lp", "wrong-size:config-download", download_size,
     "config-download", P},
    {"download_wrong_first", Tool::Download, "lp", "wrong-first:config-download", download_size,
     "config-download", P},
    {"download_wrong_second", Tool::Download, "lp", "wrong-second:config-download", download_size,
     "config-download", P},
    {"download_short", Tool::Download, "lp", "short:config-download", download_no_data,
     "config-download", P + 3000},
    {"download_stray", Tool::Download, "lp", "stray:config-download", download_type,
     "config-download", P},
    {"download_disconnect", Tool::Download, "lp", "disconnect:config-download", config_no_header,
     "config-download", P + 500},
    {"download_usb_disconnect", Tool::Download, "usb", "disconnect:config-download",
     config_no_header, "config-download", P + 500},

    // Configuration upload (with download and reset asked for too: neither may follow).
    {"config_upload_silent", Tool::ConfigUpload, "lp", "silent:config-upload", config_no_header,
     "config-upload", P + 5000},
    {"config_upload_late", Tool::ConfigUpload, "lp", "late:config-upload:1:5600", config_no_header,
     "config-upload", P + 5000},
    {"config_upload_late_in_time", Tool::ConfigUpload, "lp", "late:config-upload:1:1500", nullptr,
     "reset", P + 1500 + 200 + R},
    {"config_upload_cancel", Tool::ConfigUpload, "lp", "cancel:config-upload", config_upload_size,
     "config-upload", P},
    {"config_upload_wrong_type", Tool::ConfigUpload, "lp", "wrong-type:config-upload",
     config_upload_type, "config-upload", P},
    {"config_upload_wrong_size", Tool::ConfigUpload, "lp", "wrong-size:config-upload",
     config_upload_size, "config-upload", P},
    {"config_upload_wrong_first", Tool::ConfigUpload, "lp", "wrong-first:config-upload",
     config_upload_size, "config-upload", P},
    {"config_upload_wrong_second", Tool::ConfigUpload, "lp", "wrong-second:config-upload",
     config_upload_size, "config-upload", P},
    {"config_upload_short", Tool::ConfigUpload, "lp", "short:config-upload", config_no_header,
     "config-upload", P + 5000},
    {"config_upload_stray", Tool::ConfigUpload, "lp", "stray:config-upload", config_upload_type,
     "config-upload", P},
    {"config_upload_disconnect", Tool::ConfigUpload, "lp", "disconnect:config-upload",
     config_no_header, "config-upload", P + 5000},
    {"config_upload_usb_disconnect", Tool::ConfigUpload, "usb", "disconnect:config-upload",
     config_no_header, "config-upload", P + 5000},

    // Hard reset: the printer restarts and leaves the line; the tool is done.
    {"reset_printer_goes_away", Tool::Reset, "lp", "disconnect:reset", nullptr, "reset", P + R},
    {"reset_usb_printer_goes_away", Tool::Reset, "usb", "disconnect:reset", nullptr, "reset",
     P + R},

    // Upload: start response.
    {"upload_start_silent", Tool::Upload, "lp", "silent:upload-start", upload_start_none,
     "upload-start", P + 5000},
    {"upload_start_late", Tool::Upload, "lp", "late:upload-start:1:5600", upload_start_none,
     "upload-start", P + 5000},
    {"upload_start_cancel", Tool::Upload, "lp", "cancel:upload-start", upload_cancelled,
     "upload-start", P},
    {"upload_start_wrong_type", Tool::Upload, "lp", "wrong-type:upload-start", upload_start_none,
     "upload-start", P},
    {"upload_start_wrong_size", Tool::Upload, "lp", "wrong-size:upload-start", upload_start_none,
     "upload-start", P + 5000},
    {"upload_start_wrong_first", Tool::Upload, "lp", "wrong-first:upload-start", upload_start_none,
     "upload-start", P},
    {"upload_start_wrong_second", Tool::Upload, "lp", "wrong-second:upload-start",
     upload_start_none, "upload-start", P},
    {"upload_start_short", Tool::Upload, "lp", "short:upload-start", upload_start_none,
     "upload-start", P + 5000},
    {"upload_start_stray", Tool::Upload, "lp", "stray:upload-start", upload_start_none,
     "upload-start", P},
    {"upload_start_disconnect", Tool::Upload, "lp", "disconnect:upload-start", upload_start_none,
     "upload-start", P + 5000},
    // Upload: the printer goes away in the middle of the data.  Only one write per block
    // lets the port vanish between two blocks; large writes are all taken in by the line
    // before the printer leaves, and the tool then waits for the end response.  The write of
    // the fourth block fails when its 5000 ms time-out has run out.
    {"upload_block_disconnect", Tool::UploadPaced, "lp", "disconnect:upload-block:3",
     upload_block_not_sent, "upload-block", P + 30 + 5000},
    {"upload_block_tty_disconnect", Tool::UploadPaced, "tty", "disconnect:upload-block:3",
     upload_block_not_sent, "upload-block", P + 30 + 5000},
    {"upload_block_usb_disconnect", Tool::UploadPaced, "usb", "disconnect:upload-block:3",
     upload_block_not_sent, "upload-block", P + 30 + 5000},
    // Upload: end response (awaited for up to 60 s).
    {"upload_end_silent", Tool::Upload, "lp", "silent:upload-end", upload_end_none, "upload-end",
     P + kBlocks + 60000},
    {"upload_end_late_in_time", Tool::Upload, "lp", "late:upload-end:1:2000", nullptr, "reset",
     P + kBlocks + 2000 + R},
    {"upload_end_cancel", Tool::Upload, "lp", "cancel:upload-end", upload_cancelled, "upload-end",
     P + kBlocks},
    {"upload_end_wrong_type", Tool::Upload, "lp", "wrong-type:upload-end", upload_end_none,
     "upload-end", P + kBlocks},
    {"upload_end_wrong_size", Tool::Upload, "lp", "wrong-size:upload-end", upload_end_none,
     "upload-end", P + kBlocks + 60000},
    {"upload_end_wrong_first", Tool::Upload, "lp", "wrong-first:upload-end", upload_end_none,
     "upload-end", P + kBlocks},
    {"upload_end_wrong_second", Tool::Upload, "lp", "wrong-second:upload-end", upload_end_none,
     "upload-end", P + kBlocks},
    {"upload_end_short", Tool::Upload, "lp", "short:upload-end", upload_end_none, "upload-end",
     P + kBlocks + 60000},
    {"upload_end_stray", Tool::Upload, "lp", "stray:upload-end", upload_end_none, "upload-end",
     P + kBlocks},
    {"upload_end_disconnect", Tool::Upload, "lp", "disconnect:upload-end", upload_end_none,
     "upload-end", P + kBlocks + 60000},
};

// Margin over the protocol's own time for process start, port open and load.
constexpr long kMarginMs = 3000;

// The block line the configuration tool reads from standard input.
std::string lo_block_line()
{
    const qel_vp::ConfigBlock block = qel_vp::default_config_block();
    char key[64];
    std::snprintf(key, sizeof key, "%-50.50s = [", "configuration_data");
    return key + test_support::hex(block.data(), block.size()) + "]\n";
}

// A valid upload file of 20000 data bytes (79 blocks).
void lo_write_upload_file(const std::string& path)
{
    std::vector<uint8_t> data(20000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 31 + 7);
    const std::vector<uint8_t> file =
        upload_maker::make_file(data, {.type_mask = 0x0004, .date = 0, .time = 0, .info = ""});
    test_support::write_file(path, std::string(file.begin(), file.end()));
}

// Kinds of the frames in a transcript file, synchronisation runs left out.
std::vector<std::string> lo_frame_kinds(const std::string& path)
{
    std::vector<std::string> kinds;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line))
    {
        std::istringstream fields(line);
        std::string offset;
        std::string kind;
        fields >> offset >> kind;
        if (!kind.empty() && kind != "sync")
        {
            kinds.push_back(kind);
        }
    }
    return kinds;
}

std::string lo_expected_line(Tool tool, const char* message)
{
    switch (tool)
    {
    case Tool::Inquiry:
        return std::string("! Qel_InquiryTool: inquiry [0001] failed => ") + message + "\n";
    case Tool::Download:
        return std::string("! Qel_ConfigurationTool: configuration data download failed => ") +
               message + "\n";
    case Tool::ConfigUpload:
        return std::string("! Qel_ConfigurationTool: configuration data upload failed => ") +
               message + "\n";
    case Tool::Reset:
        return std::string("! Qel_ConfigurationTool: reset printer failed => ") + message + "\n";
    case Tool::Upload:
    case Tool::UploadPaced:
        return std::string("! Qel_UploadTool: upload data failed => ") + message + "\n";
    }
    return {};
}

class ToolFault : public ::testing::TestWithParam<FaultCase>
{
};

TEST_P(ToolFault, EndsWithItsMessageInTimeAndSendsNothingMore)
{
    const FaultCase& c = GetParam();
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = std::string(tmp != nullptr ? tmp : "/tmp") + "/" + c.name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string transcript = dir + "/transcript.txt";

    std::vector<std::string> vp_args = test_support::emulator_port_args(c.port, dir);
    vp_args.insert(vp_args.end(), {"--transcript", transcript});
    if (*c.fault != 0)
    {
        vp_args.insert(vp_args.end(), {"--fault", c.fault});
    }
    test_support::EmulatorProcess printer;
    // The testbed goes directly under TMPDIR: its ioctl socket path must stay short.
    ASSERT_TRUE(test_support::start_emulator(QEL_VPRINTER_PROGRAM, vp_args, printer))
        << printer.error;

    const test_support::Env env = test_support::emulator_client_env(printer.umockdev_dir);
    std::string program;
    std::vector<std::string> args;
    std::string input;
    switch (c.tool)
    {
    case Tool::Inquiry:
        program = QEL_INQUIRY_TOOL;
        args = {printer.port, "[0001]"};
        break;
    case Tool::Download:
        program = QEL_CONFIGURATION_TOOL;
        args = {"-d", printer.port};
        break;
    case Tool::ConfigUpload:
        program = QEL_CONFIGURATION_TOOL;
        args = {"-u", "-d", "-r", printer.port};
        input = lo_block_line();
        break;
    case Tool::Reset:
        program = QEL_CONFIGURATION_TOOL;
        args = {"-r", printer.port};
        break;
    case Tool::Upload:
        program = QEL_UPLOAD_TOOL;
        lo_write_upload_file(dir + "/logo.bin");
        args = {"-r", printer.port, dir + "/logo.bin"};
        break;
    case Tool::UploadPaced:
        program = QEL_UPLOAD_TOOL;
        lo_write_upload_file(dir + "/logo.bin");
        args = {"-r", "-S", printer.port, dir + "/logo.bin"};
        break;
    }
    const long bound = c.wait_ms + kMarginMs;
    const test_support::RunResult run =
        test_support::run_program(program, args, input, env, bound + 20000);
    test_support::stop_emulator(printer);

    ASSERT_FALSE(run.timed_out) << "still running after " << run.elapsed_ms << " ms\n" << run.out;
    EXPECT_LT(run.elapsed_ms, bound) << run.out;
    // Every failure ends the tool with -1 (an inquiry run once it has closed the port: its one
    // kind went unanswered).
    const bool fails = c.message != nullptr;
    EXPECT_EQ(run.status, fails ? 255 : 0) << run.out;
    if (c.message != nullptr)
    {
        EXPECT_NE(run.out.find(lo_expected_line(c.tool, c.message)), std::string::npos)
            << "expected: " << lo_expected_line(c.tool, c.message) << "output:\n"
            << run.out;
        // Only the failure line is an error line.
        EXPECT_EQ(run.out.find("! "), run.out.rfind("! ")) << run.out;
    }
    else
    {
        EXPECT_EQ(run.out.find("! "), std::string::npos) << run.out;
    }

    const std::vector<std::string> kinds = lo_frame_kinds(transcript);
    ASSERT_FALSE(kinds.empty()) << "the printer received no frame\n" << run.out;
    EXPECT_EQ(kinds.back(), c.last_frame) << run.out;
    if (std::string(c.fault).rfind("disconnect:upload-block:3", 0) == 0)
    {
        // Nothing after the third block: the port went away when it arrived.
        EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "upload-block"), 3);
    }
    if (c.message != nullptr)
    {
        // The failed exchange's frame is the only one of its kind that was sent.
        EXPECT_EQ(std::count(kinds.begin(), kinds.end(), c.last_frame),
                  std::string(c.last_frame) == "upload-block" ? 3 : 1);
    }
    if (!HasFailure())
    {
        std::filesystem::remove_all(dir);
    }
}

void PrintTo(const FaultCase& c, std::ostream* os)
{
    *os << c.name;
}

std::string lo_case_name(const ::testing::TestParamInfo<FaultCase>& info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Table, ToolFault, ::testing::ValuesIn(kCases), lo_case_name);

} // namespace
