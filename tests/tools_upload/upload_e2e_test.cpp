// Qel_UploadTool run against the virtual printer on a serial line, a
// printer-class node and the emulated USB device.
#include "e2e_printer.h"
#include "failure_texts.h"
#include "upload_file_maker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace
{

using e2e::Bytes;
using e2e::Sent;
using qel_vp::FrameKind;
using qel_vp::PortKind;

const std::string kTool = "Qel_UploadTool";

class UploadTool : public e2e::PrinterTest
{
  protected:
    // Writes an upload file into the test's directory.
    std::string write_file(const std::string& name, const Bytes& content)
    {
        const std::string path = printer.dir + "/" + name;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (f != nullptr)
        {
            std::fwrite(content.data(), 1, content.size(), f);
            std::fclose(f);
        }
        return path;
    }

    test_support::RunResult run(const std::vector<std::string>& args)
    {
        return printer.run_tool(QEL_UPLOAD_TOOL, kTool, args);
    }

    std::string opening() const { return printer.opening("printer_port"); }
    std::string closing() const { return printer.closing("printer_port"); }
    static std::string prepared()
    {
        return "# <banner>\n# Loading upload data from file ... done\n"
               "# Validating upload data ... done\n";
    }

    // Frames after the synchronisation bytes, for comparing two runs.
    std::vector<Sent> upload_frames() const { return printer.sent(); }
};

} // namespace

TEST_P(UploadTool, UploadsFilesOfEverySizeAndThePrinterReassemblesThem)
{
    struct Case
    {
        std::size_t size;
        std::size_t blocks;
        const char* dots;
    } cases[] = {{0, 0, ""},
                 {255, 1, ""},
                 // More than a sixteenth has passed when the second block starts.
                 {256, 2, "."},
                 {510, 2, "."},
                 // 65536 bytes: a dot each time more than 4096 bytes have passed, i.e. every
                 // 17 blocks of 255 bytes, while blocks start below 65536.
                 {65536, 258, "..............."}};
    for (const Case& k : cases)
    {
        SCOPED_TRACE(k.size);
        upload_maker::Header h;
        h.type_mask = 0x0003;
        const Bytes data = upload_maker::pattern(k.size, static_cast<uint32_t>(k.size) + 5);
        const std::string path = write_file("data.QelBin", upload_maker::make_file(data, h));

        const test_support::RunResult r = run({printer.port(), path});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out,
                  prepared() + opening() + "# Uploading data " + k.dots + " done\n" + closing());

        const std::vector<qel_vp::Upload> uploads = printer.vp->uploads();
        ASSERT_FALSE(uploads.empty());
        const qel_vp::Upload& u = uploads.back();
        EXPECT_EQ(u.type_mask, 0x0003);
        EXPECT_EQ(u.size, k.size);
        EXPECT_EQ(u.data, data);
        EXPECT_EQ(u.blocks, k.blocks);
        EXPECT_TRUE(u.ended);
        EXPECT_TRUE(u.crc_ok);
        EXPECT_EQ(u.end_status, 0x00);
    }
    EXPECT_EQ(printer.vp->hard_resets(), 0u);
}

TEST_P(UploadTool, PacedAndBufferedModesSendTheSameBytes)
{
    const Bytes data = upload_maker::pattern(30000, 9);
    const std::string path = write_file("fonts.QelBin", upload_maker::make_file(data));

    test_support::RunResult r = run({"-s", printer.port(), path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    const std::vector<Sent> buffered = printer.sent();

    r = run({"-s", "-S", printer.port(), path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    std::vector<Sent> all = printer.sent();
    ASSERT_EQ(all.size(), 2 * buffered.size());
    const std::vector<Sent> paced(all.begin() + static_cast<long>(buffered.size()), all.end());
    EXPECT_TRUE(paced == buffered);
    EXPECT_EQ(paced.front().kind, FrameKind::UploadStart);
    EXPECT_EQ(paced.back().kind, FrameKind::UploadEnd);

    // "-S" chooses the transfer only: no hard reset.
    EXPECT_EQ(printer.vp->hard_resets(), 0u);
    for (const Sent& s : all)
        EXPECT_NE(s.kind, FrameKind::HardReset);
    ASSERT_EQ(printer.vp->uploads().size(), 2u);
    EXPECT_TRUE(printer.vp->uploads()[1].crc_ok);
}

TEST_P(UploadTool, ResetAfterTheUploadAndAlone)
{
    const std::string path =
        write_file("logo.QelBin", upload_maker::make_file(upload_maker::pattern(700)));
    const auto t0 = std::chrono::steady_clock::now();
    test_support::RunResult r = run({"-r", printer.port(), path});
    // 0.5 s after the synchronisation bytes and 2.5 s after the close (lower bound only).
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(3000));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, prepared() + opening() +
                         "# Uploading data .. done\n# Resetting printer ... done\n" + closing());
    std::vector<Sent> sent = printer.sent();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), (Sent{FrameKind::HardReset, {0x1B, 0xF2, 0x03, 0x00}}));
    EXPECT_EQ(sent[sent.size() - 2].kind, FrameKind::UploadEnd);

    r = run({"-r", printer.port()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "# <banner>\n" + opening() + "# Resetting printer ... done\n" + closing());
    EXPECT_EQ(printer.vp->hard_resets(), 2u);
}

TEST_P(UploadTool, CancelledStartAndEnd)
{
    const Bytes data = upload_maker::pattern(600);
    const std::string path = write_file("fw.QelBin", upload_maker::make_file(data));
    struct Case
    {
        const char* fault;
        std::size_t frames; // frames the printer receives: nothing after the failure
        const char* dots;   // 600 bytes: a dot before the second and the third block
        const char* message;
    } cases[] = {
        {"cancel:upload-start:0", 1, "", failure_text::upload_cancelled},
        {"cancel:upload-end:0", 5, "..", failure_text::upload_cancelled},
        {"wrong-type:upload-start:0", 1, "", failure_text::upload_start_none},
        {"wrong-size:upload-start:0", 1, "", failure_text::upload_start_none},
        {"short:upload-start:0", 1, "", failure_text::upload_start_none},
        {"wrong-first:upload-end:0", 5, "..", failure_text::upload_end_none},
        {"short:upload-end:0", 5, "..", failure_text::upload_end_none},
    };
    for (const Case& k : cases)
    {
        SCOPED_TRACE(k.fault);
        qel_vp::Fault fault;
        ASSERT_TRUE(qel_vp::parse_fault(k.fault, fault));
        printer.vp->set_faults({fault});
        const std::size_t before = printer.sent().size();
        const test_support::RunResult r = run({"-r", printer.port(), path});
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, prepared() + opening() + "# Uploading data " + k.dots + " failed\n" +
                             "! Qel_UploadTool: upload data failed => " + k.message + "\n");
        EXPECT_EQ(printer.sent().size() - before, k.frames);
    }
    EXPECT_EQ(printer.vp->hard_resets(), 0u);
}

TEST_P(UploadTool, SplitResponsesAreStillOneAnswer)
{
    // Header and status in separate packets (USB) or writes (pty), and merged answers.
    const Bytes data = upload_maker::pattern(1000, 3);
    const std::string path = write_file("img.QelBin", upload_maker::make_file(data));
    for (const char* fault_text : {"split:upload-start:0:4", "split:upload-end:0:1"})
    {
        SCOPED_TRACE(fault_text);
        qel_vp::Fault fault;
        ASSERT_TRUE(qel_vp::parse_fault(fault_text, fault));
        printer.vp->set_faults({fault});
        const test_support::RunResult r = run({"-s", printer.port(), path});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(printer.vp->uploads().back().data, data);
    }
}

// The printer goes away after the third data block: a later write cannot complete.
static void expect_disconnect_failure(e2e::PrinterOnPort& printer, const std::string& path,
                                      const std::vector<std::string>& options)
{
    qel_vp::Fault fault;
    ASSERT_TRUE(qel_vp::parse_fault("disconnect:upload-block:3", fault));
    printer.vp->set_faults({fault});
    std::vector<std::string> args = options;
    args.push_back(printer.port());
    args.push_back(path);
    test_support::RunResult r = test_support::run_program(QEL_UPLOAD_TOOL, args, {}, printer.env());
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 255);
    // How many blocks the port buffers before a write fails decides the number of dots.
    const std::string head = "# <banner>\n# Loading upload data from file ... done\n"
                             "# Validating upload data ... done\n"
                             "# Opening connection to printer printer_port \"" +
                             printer.port() +
                             "\" ... done\n# Sending synchronization characters ... done\n"
                             "# Uploading data ";
    const std::string tail = std::string(" failed\n! Qel_UploadTool: upload data failed => ") +
                             failure_text::upload_block_not_sent + "\n";
    const std::string out = test_support::mask_banner(r.out, kTool);
    ASSERT_GE(out.size(), head.size() + tail.size()) << out;
    EXPECT_EQ(out.substr(0, head.size()), head);
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
    const std::string dots = out.substr(head.size(), out.size() - head.size() - tail.size());
    EXPECT_EQ(dots, std::string(dots.size(), '.'));
    EXPECT_EQ(printer.vp->hard_resets(), 0u);
    for (const Sent& s : printer.sent())
        EXPECT_NE(s.kind, FrameKind::UploadEnd);
}

TEST_P(UploadTool, DisconnectMidUploadBuffered)
{
    // Buffered writes are fast enough to fill a pseudo-terminal with a few hundred kilobytes
    // before the printer has gone; 4 MiB cannot all be delivered.
    const std::string path =
        write_file("big.QelBin", upload_maker::make_file(upload_maker::pattern(4u << 20, 4)));
    expect_disconnect_failure(printer, path, {"-r"});
}

TEST_P(UploadTool, DisconnectMidUploadPaced)
{
    const std::string path =
        write_file("big.QelBin", upload_maker::make_file(upload_maker::pattern(40000, 4)));
    expect_disconnect_failure(printer, path, {"-S", "-r"});
}

INSTANTIATE_TEST_SUITE_P(Ports, UploadTool,
                         ::testing::Values(PortKind::Ttys, PortKind::Lp, PortKind::Usb),
                         [](const auto& info) { return std::string(e2e::kind_name(info.param)); });

// Loading and validation fail before any port is opened.
TEST(UploadToolPreparation, BadFilesNeverReachThePrinter)
{
    e2e::PrinterOnPort printer;
    std::string error;
    ASSERT_TRUE(printer.start(PortKind::Lp, &error)) << error;

    auto write = [&](const std::string& name, const Bytes& content)
    {
        const std::string path = printer.dir + "/" + name;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (f != nullptr && !content.empty())
            std::fwrite(content.data(), 1, content.size(), f);
        if (f != nullptr)
            std::fclose(f);
        return path;
    };
    const Bytes good = upload_maker::make_file(upload_maker::pattern(400));
    upload_maker::Header revision;
    revision.revision_nr = 2;
    upload_maker::Header hdr_size;
    hdr_size.size_hdr = 308;
    Bytes size_field = good;
    upload_maker::put_le(size_field, 6, 399, 4);
    upload_maker::reseal(size_field);
    Bytes crc = good;
    crc[350] ^= 0x01;

    const std::vector<std::string> invalid = {
        write("empty.QelBin", {}),
        write("short.QelBin", Bytes(good.begin(), good.begin() + 310)),
        write("revision.QelBin", upload_maker::make_file({1, 2}, revision)),
        write("hdrsize.QelBin", upload_maker::make_file({1, 2}, hdr_size)),
        write("size.QelBin", size_field),
        write("crc.QelBin", crc),
    };
    for (const std::string& path : invalid)
    {
        test_support::RunResult r =
            test_support::run_program(QEL_UPLOAD_TOOL, {"-r", printer.port(), path});
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(test_support::mask_banner(r.out, kTool),
                  "# <banner>\n# Loading upload data from file ... done\n"
                  "# Validating upload data ... failed\n"
                  "! Qel_UploadTool: failed validating upload data from file \"" +
                      path + "\"\n");
        // Silent mode keeps the error line only.
        r = test_support::run_program(QEL_UPLOAD_TOOL, {"-s", printer.port(), path});
        EXPECT_EQ(r.out,
                  "! Qel_UploadTool: failed validating upload data from file \"" + path + "\"\n");
    }

    const std::string missing = printer.dir + "/missing.QelBin";
    for (const std::string& path : {missing, printer.dir})
    {
        const test_support::RunResult r =
            test_support::run_program(QEL_UPLOAD_TOOL, {printer.port(), path});
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(test_support::mask_banner(r.out, kTool),
                  "# <banner>\n# Loading upload data from file ... failed\n"
                  "! Qel_UploadTool: failed loading upload data from file \"" +
                      path + "\"\n");
    }
    EXPECT_TRUE(printer.vp->received().empty());
    printer.stop();
}

TEST(UploadToolPreparation, VerboseListingAlsoInSilentMode)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp ? tmp : "/tmp") + "/qel_upload_list_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    upload_maker::Header h;
    h.type_mask = 0x0010;
    h.info = "Line one\n\nLine three\n";
    const Bytes file = upload_maker::make_file({0xAA}, h);
    const std::string path = tmpl + "/v.QelBin";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);

    // The port does not exist: the listing comes before the open fails.
    const std::string port = "/nonexistent/dev/usb/lp3";
    const test_support::RunResult r =
        test_support::run_program(QEL_UPLOAD_TOOL, {"-s", "-v", port, path});
    EXPECT_EQ(r.status, 255);
    const std::string ftr = test_support::hex(file.data() + file.size() - 4, 4);
    EXPECT_EQ(r.out,
              "file_hdr                                           = [" +
                  test_support::hex(file.data(), 307) +
                  "]\n"
                  "file_hdr.size_hdr                                  = 307\n"
                  "file_hdr.revision_nr                               = 1\n"
                  "file_hdr.type_mask                                 = [1000] ()\n"
                  "file_hdr.size                                      = 1\n"
                  "file_hdr.date                                      = 20210216 (2021-02-16 UTC)\n"
                  "file_hdr.time                                      = 00093005 (09:30:05 UTC)\n"
                  "file_hdr.info                                      = Line one\n"
                  "file_hdr.info                                      = \n"
                  "file_hdr.info                                      = Line three\n"
                  "file_ftr                                           = [" +
                  ftr + "]\nfile_ftr.checksum                                  = [" + ftr +
                  "]\n! Qel_UploadTool: could not open connection \"" + port + "\"to printer \n");
    std::remove(path.c_str());
    rmdir(tmpl.c_str());
}
