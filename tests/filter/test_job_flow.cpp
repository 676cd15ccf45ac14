// The filter program on whole jobs without the print monitor: raster made by
// Ghostscript and cupsfilter at test time and raster written field by field
// with libcups; standard output, standard error and exit status.
#include "Qel_Tb.h"
#include "filter_harness.h"
#include "job_fixture.h"
#include "private_tmp.h"
#include "line_decoder.h"
#include "reference_encoder.h"
#include "virtual_printer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <dirent.h>
#include <filesystem>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qel_filter_test;

namespace
{

const std::string k_not_running_1 = "QEL PRINT MONITOR DAEMON IS NOT RUNNIG";
const std::string k_not_running_2 = "STARTING PRINTING WITHOUT DAEMON";

// Lines of a page that should print: the bottom cut-off, then the trailing
// blank lines when Duplex is 1.
std::vector<Bytes> printing_lines(const TS_RASTER_PAGE& page)
{
    const cups_page_header2_t& h = page.header;
    const size_t width = h.cupsBytesPerLine;
    size_t rows = h.AdvanceDistance < h.cupsHeight ? h.cupsHeight - h.AdvanceDistance : 0;
    std::vector<Bytes> lines;
    for (size_t y = 0; y < rows; ++y)
    {
        lines.emplace_back(page.image.begin() + static_cast<ptrdiff_t>(y * width),
                           page.image.begin() + static_cast<ptrdiff_t>((y + 1) * width));
    }
    if (header_value(h.Duplex) == 1)
    {
        while (!lines.empty() &&
               std::all_of(lines.back().begin(), lines.back().end(), [](auto b) { return !b; }))
        {
            lines.pop_back();
        }
    }
    return lines;
}

// Checks that `out` prints exactly the given pages: their copies, lines,
// form feeds and cuts.
void expect_prints(const Bytes& out, const std::vector<TS_RASTER_PAGE>& pages)
{
    ASSERT_FALSE(pages.empty());
    const size_t width = pages[0].header.cupsBytesPerLine;
    const TS_DECODED_STREAM decoded = decode_stream(out, width);
    ASSERT_EQ(decoded.error, "");
    size_t copy_index = 0;
    for (size_t p = 0; p < pages.size(); ++p)
    {
        const cups_page_header2_t& h = pages[p].header;
        const std::vector<Bytes> lines = printing_lines(pages[p]);
        for (unsigned c = 0; c < h.NumCopies; ++c, ++copy_index)
        {
            ASSERT_LT(copy_index, decoded.copies.size()) << "page " << p + 1;
            const TS_DECODED_COPY& copy = decoded.copies[copy_index];
            EXPECT_EQ(copy.lines, lines) << "page " << p + 1 << " copy " << c + 1;
            EXPECT_EQ(copy.form_feed, header_value(h.AdvanceMedia) == 1);
            EXPECT_EQ(copy.cut, header_value(h.CutMedia) != 0 ? 2 : 0);
        }
    }
    EXPECT_EQ(copy_index, decoded.copies.size());
}

// The stream the filter must write for these pages, put together from the
// encoder: settings once per page, then every copy.
Bytes composed_stream(const std::vector<TS_RASTER_PAGE>& pages)
{
    TS_QEL_PAGE_STREAM stream;
    for (const auto& page : pages)
    {
        start_page(page.header, stream);
        const uint32_t lines = prepare_page(page.header, page.image.data(),
                                            page.header.cupsBytesPerLine, page.header.cupsHeight);
        for (unsigned c = 0; c < page.header.NumCopies; ++c)
        {
            encode_page_copy(page.header, page.image.data(), lines, stream);
        }
    }
    return stream;
}

int run_command(const std::string& command)
{
    return std::system((command + " 2>/dev/null").c_str());
}

using JobFlow = FilterJobTest;

} // namespace

TEST_F(JobFlow, WrongArgumentCountPrintsUsage)
{
    for (const auto& args : {std::vector<std::string>{"1", "u", "t", "1"},
                             std::vector<std::string>{"1", "u", "t", "1", "", "f", "extra"}})
    {
        TS_FILTER_OPTIONS options;
        options.program = QEL_FILTER_BINARY;
        options.args = args;
        const TS_FILTER_RUN run = run_filter(options);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, std::string("Usage: ") + QEL_FILTER_BINARY +
                               " job-id user title copies options [file]\n");
        EXPECT_TRUE(run.out.empty());
    }
}

TEST_F(JobFlow, UnopenableFileIsReported)
{
    const TS_FILTER_RUN run = run_file(path("missing.ras"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "ERROR: Unable to open raster file - : No such file or directory\n");
    EXPECT_TRUE(run.out.empty());
}

TEST_F(JobFlow, StreamsWithoutPages)
{
    write_file(path("empty.ras"), "");
    write_file(path("garbage.ras"), "%!PS-Adobe-3.0\nthis is no raster\n");
    const std::vector<std::string> expected = {"PIPE NOT WORKING", k_not_running_1, k_not_running_2,
                                               "ERROR: No pages found!"};
    for (const char* name : {"empty.ras", "garbage.ras"})
    {
        const TS_FILTER_RUN run = run_file(path(name));
        EXPECT_EQ(run.status, 1) << name;
        EXPECT_EQ(split_lines(run.err), expected) << name;
        EXPECT_TRUE(run.out.empty()) << name;
    }
    // Standard input (five arguments) that carries nothing.
    TS_FILTER_OPTIONS options;
    options.args = {"1", "u", "t", "1", ""};
    const TS_FILTER_RUN run = run_filter(options);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(split_lines(run.err), expected);
}

TEST_F(JobFlow, TwoPagesFromStandardInput)
{
    const std::vector<TS_RASTER_PAGE> pages = {pattern_page(72, 200, 1), pattern_page(72, 130, 2)};
    write_raster(path("two.ras"), pages);
    TS_FILTER_OPTIONS options;
    options.args = {"7", "u", "t", "1", ""};
    options.stdin_path = path("two.ras");
    const TS_FILTER_RUN run = run_filter(options);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(split_lines(run.err),
              (std::vector<std::string>{
                  "PIPE NOT WORKING", k_not_running_1, k_not_running_2, "PAGE: 1 1",
                  "INFO: Printing page 0, 0% complete...", "INFO: Printing page 0, 64% complete...",
                  k_not_running_1, k_not_running_2, "PAGE: 2 1",
                  "INFO: Printing page 1, 0% complete...", "INFO: Printing page 1, 98% complete...",
                  k_not_running_1, k_not_running_2, "INFO: Ready to print."}));
    expect_prints(run.out, pages);
    EXPECT_EQ(run.out, composed_stream(pages));
}

TEST_F(JobFlow, ProgressLinesEvery128Lines)
{
    write_raster(path("p.ras"), {pattern_page(72, 300, 0)});
    const TS_FILTER_RUN run = run_file(path("p.ras"));
    std::vector<std::string> progress;
    for (const auto& line : split_lines(run.err))
    {
        if (line.rfind("INFO: Printing page", 0) == 0)
        {
            progress.push_back(line);
        }
    }
    EXPECT_EQ(progress, (std::vector<std::string>{"INFO: Printing page 0, 0% complete...",
                                                  "INFO: Printing page 0, 42% complete...",
                                                  "INFO: Printing page 0, 85% complete..."}));
}

TEST_F(JobFlow, HeaderFieldsSelectCopiesFeedCutAndTrimming)
{
    TS_RASTER_PAGE first = pattern_page(72, 300, 3);
    first.header.NumCopies = 3;
    set_header_value(first.header.CutMedia, 1);
    set_header_value(first.header.AdvanceMedia, 1);
    first.header.cupsRowFeed = 3;
    first.header.cupsCompression = 20;
    first.header.MediaPosition = 2;
    first.header.AdvanceDistance = 10;
    set_header_value(first.header.Duplex, 1);
    std::fill(first.image.end() - 72 * 50, first.image.end(), 0); // 50 blank lines at the bottom

    TS_RASTER_PAGE no_copies = pattern_page(72, 40, 4);
    no_copies.header.NumCopies = 0;
    TS_RASTER_PAGE blank = pattern_page(72, 40, 5);
    std::fill(blank.image.begin(), blank.image.end(), 0);
    set_header_value(blank.header.Duplex, 1);
    set_header_value(blank.header.CutMedia, 4);

    const std::vector<TS_RASTER_PAGE> pages = {first, no_copies, blank};
    write_raster(path("fields.ras"), pages);
    const TS_FILTER_RUN run = run_file(path("fields.ras"));
    EXPECT_EQ(run.status, 0);
    const auto lines = status_lines(run.err);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "PAGE: 1 3"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "PAGE: 2 0"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "PAGE: 3 1"), 1);
    EXPECT_EQ(lines.back(), "INFO: Ready to print.");

    expect_prints(run.out, pages);
    EXPECT_EQ(run.out, composed_stream(pages));
    const TS_DECODED_STREAM decoded = decode_stream(run.out, 72);
    ASSERT_EQ(decoded.copies.size(), 4u);
    EXPECT_EQ(printing_lines(first).size(), 250u);
    EXPECT_TRUE(decoded.copies[3].lines.empty()); // blank page: only its end and cut
    // Every page sends speed, density and path (row feed 0 is speed 0).
    EXPECT_EQ(decoded.settings_commands, 3 + 3 + 3);
    // The settings of page 1 come first, once.
    EXPECT_EQ(Bytes(run.out.begin(), run.out.begin() + 16),
              (Bytes{0x1B, 0xF0, 0x01, 0x01, 0x03, 0x1B, 0xF0, 0x05, 0x01, 0xC5, 0x1B, 0xF0, 0x0D,
                     0x02, 0x00, 0x02}));
}

TEST_F(JobFlow, GhostscriptPagesFromPdf)
{
    write_file(path("job.ps"), "%!PS\n/Helvetica findfont 18 scalefont setfont\n"
                               "10 500 moveto (Receipt 0001) show\n"
                               "10 440 moveto 180 0 rlineto 0 30 rlineto -180 0 rlineto fill\n"
                               "showpage\n10 200 moveto (Thank you) show showpage\n");
    ASSERT_EQ(run_command("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile=" +
                          path("job.pdf") + " " + path("job.ps")),
              0);
    // Through the CUPS filter chain with the test PPD.
    ASSERT_EQ(run_command("cupsfilter -p " + std::string(QEL_TEST_PPD) +
                          " -m application/vnd.cups-raster " + path("job.pdf") + " > " +
                          path("chain.ras")),
              0);
    // Straight from Ghostscript, with the header fields the filter acts on.
    ASSERT_EQ(run_command("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=cups -r203 "
                          "-dcupsColorSpace=3 -dcupsBitsPerColor=1 -dDEVICEWIDTHPOINTS=204.3 "
                          "-dDEVICEHEIGHTPOINTS=567 -dFIXEDMEDIA -dcupsRowFeed=3 "
                          "-dcupsCompression=60 -dAdvanceMedia=1 -dCutMedia=4 -dDuplex "
                          "-dNumCopies=2 -dAdvanceDistance=20 -sOutputFile=" +
                          path("gs.ras") + " " + path("job.pdf")),
              0);

    for (const char* name : {"chain.ras", "gs.ras"})
    {
        SCOPED_TRACE(name);
        const std::vector<TS_RASTER_PAGE> pages = read_raster(path(name));
        ASSERT_EQ(pages.size(), 2u);
        ASSERT_EQ(pages[0].header.cupsBytesPerLine, 72u);
        ASSERT_EQ(pages[0].header.cupsHeight, 1599u);
        const TS_FILTER_RUN run = run_file(path(name));
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(status_lines(run.err).back(), "INFO: Ready to print.");
        expect_prints(run.out, pages);
        EXPECT_EQ(run.out, composed_stream(pages));

        // The virtual printer sees the same pages.
        const auto vp = qel_vp::decode_page_stream(run.out);
        ASSERT_TRUE(vp.ok());
        ASSERT_EQ(vp.pages.size(), 2u * pages[0].header.NumCopies);
        EXPECT_EQ(vp.pages[0].lines, printing_lines(pages[0]));
    }
    const std::vector<TS_RASTER_PAGE> gs_pages = read_raster(path("gs.ras"));
    EXPECT_EQ(gs_pages[0].header.NumCopies, 2u);
    EXPECT_EQ(header_value(gs_pages[0].header.Duplex), 1);
}

TEST_F(JobFlow, PngThroughCupsfilter)
{
    // A 576 x 200 dot bitmap: diagonal, bars and a blank band at the bottom.
    std::string pbm = "P1\n576 200\n";
    for (int y = 0; y < 200; ++y)
    {
        for (int x = 0; x < 576; ++x)
        {
            const bool dot = y < 170 && (x == y * 2 || (x / 8 + y / 10) % 3 == 0);
            pbm += dot ? "1 " : "0 ";
        }
        pbm += "\n";
    }
    write_file(path("image.pbm"), pbm);
    ASSERT_EQ(run_command("pnmtopng " + path("image.pbm") + " > " + path("image.png")), 0);
    ASSERT_EQ(run_command("cupsfilter -p " + std::string(QEL_TEST_PPD) +
                          " -m application/vnd.cups-raster -o orientation-requested=3 -o ppi=203 "
                          "-o copies=2 -o QelCut=None " +
                          path("image.png") + " > " + path("image.ras")),
              0);
    const std::vector<TS_RASTER_PAGE> pages = read_raster(path("image.ras"));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].header.cupsWidth, 576u);
    EXPECT_EQ(pages[0].header.NumCopies, 2u);
    EXPECT_EQ(header_value(pages[0].header.CutMedia), 0);
    const TS_FILTER_RUN run = run_file(path("image.ras"));
    EXPECT_EQ(run.status, 0);
    expect_prints(run.out, pages);
    EXPECT_EQ(run.out, composed_stream(pages));
}

TEST_F(JobFlow, MissingLinesPrintBlank)
{
    TS_RASTER_PAGE page = pattern_page(72, 100, 6);
    TS_RASTER_PAGE written = page;
    written.image.resize(72 * 60); // the stream ends after 60 lines
    write_raster(path("short.ras"), {written});

    const TS_FILTER_RUN run = run_file(path("short.ras"));
    EXPECT_EQ(run.status, 0);
    TS_RASTER_PAGE expected = page;
    std::fill(expected.image.begin() + 72 * 60, expected.image.end(), 0);
    expect_prints(run.out, {expected});

    // Cut inside line 31: that line and all after it print blank.
    const Bytes whole = read_bytes(path("short.ras"));
    const size_t cut = whole.size() - 29 * 72 - 20;
    write_file(path("cut.ras"), std::string(whole.begin(), whole.begin() + cut));
    const TS_FILTER_RUN cut_run = run_file(path("cut.ras"));
    EXPECT_EQ(cut_run.status, 0);
    std::fill(expected.image.begin() + 72 * 30, expected.image.end(), 0);
    expect_prints(cut_run.out, {expected});
}

TEST_F(JobFlow, HostileHeaderEndsTheJobAfterWhatWasPrinted)
{
    const TS_RASTER_PAGE good = pattern_page(72, 50, 7);
    // 2^16 x 2^16 bytes wrap to 0 in 32 bits; 2^28 x 2^28 cannot be held.
    const std::pair<unsigned, unsigned> sizes[] = {{65536, 65536}, {268435456, 268435456}};
    for (const auto& [width, height] : sizes)
    {
        const TS_RASTER_PAGE hostile = claimed_size_page(1, width, height);
        write_raster(path("hostile.ras"), {good, hostile});

        const TS_FILTER_RUN run = run_file(path("hostile.ras"));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.signal, 0);
        const auto lines = status_lines(run.err);
        EXPECT_EQ(lines.back(), "ERROR: Unable to allocate memory for page 2 (" +
                                    std::to_string(width) + " bytes per line, " +
                                    std::to_string(height) + " lines)");
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "INFO: Ready to print."), 0);
        // Page 1 went out whole.
        expect_prints(run.out, {good});
    }
}

TEST_F(JobFlow, FailedStandardOutputIsAnError)
{
    write_raster(path("job.ras"), {pattern_page(72, 400, 8), pattern_page(72, 400, 9)});
    const std::pair<ET_STDOUT_MODE, std::string> cases[] = {
        {EV_STDOUT_BROKEN_PIPE, "ERROR: Unable to write print data: Broken pipe"},
        {EV_STDOUT_DEV_FULL, "ERROR: Unable to write print data: No space left on device"}};
    for (const auto& [mode, message] : cases)
    {
        TS_FILTER_OPTIONS options;
        options.args = job_args(path("job.ras"));
        options.stdout_mode = mode;
        const TS_FILTER_RUN run = run_filter(options);
        EXPECT_EQ(run.signal, 0);
        EXPECT_EQ(run.status, 1);
        const auto lines = status_lines(run.err);
        EXPECT_EQ(lines.back(), message);
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "INFO: Ready to print."), 0);
        // The job stops at the failure instead of going on with page 2.
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "PAGE: 2 1"), 0);
    }
}

TEST_F(JobFlow, SigtermEndsTheCopyBetweenTwoLines)
{
    // Noise lines go out plain: about 380 kB for the copy, far more than a
    // pipe holds, so the filter is still printing when the signal comes.
    TS_RASTER_PAGE page = pattern_page(72, 5000, 10);
    for (size_t i = 0; i < page.image.size(); ++i)
    {
        page.image[i] = static_cast<unsigned char>((i * 2654435761u) >> 13);
    }
    set_header_value(page.header.CutMedia, 1);
    write_raster(path("long.ras"), {page});

    TS_FILTER_OPTIONS options;
    options.args = job_args(path("long.ras"));
    options.stdout_mode = EV_STDOUT_SLOW_PIPE;
    options.on_stdout = [](int pid, int fd, Bytes& out)
    {
        if (read_output(fd, out, 1000))
        {
            kill(pid, SIGTERM);
            read_output(fd, out);
        }
    };
    const TS_FILTER_RUN run = run_filter(options);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 0);
    const TS_DECODED_STREAM decoded = decode_stream(run.out, 72);
    ASSERT_EQ(decoded.error, "");
    ASSERT_EQ(decoded.copies.size(), 1u);
    const TS_DECODED_COPY& copy = decoded.copies[0];
    EXPECT_EQ(copy.cut, 2);
    EXPECT_GT(copy.lines.size(), 0u);
    EXPECT_LT(copy.lines.size(), 5000u);
    for (size_t y = 0; y < copy.lines.size(); ++y)
    {
        ASSERT_TRUE(std::equal(copy.lines[y].begin(), copy.lines[y].end(),
                               page.image.begin() + static_cast<ptrdiff_t>(y * 72)))
            << "line " << y;
    }
}

TEST_F(JobFlow, DebugLogWhenBuiltIn)
{
    write_raster(path("log.ras"), {pattern_page(72, 20, 11)});
    auto logs = []
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator("/tmp"))
        {
            const std::string name = entry.path().filename();
            if (name.rfind("Qel_Raster-", 0) == 0)
            {
                names.push_back(entry.path());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> before = logs();
    TS_FILTER_OPTIONS options;
    options.program = QEL_FILTER_LOGGING_BINARY;
    options.args = job_args(path("log.ras"));
    const TS_FILTER_RUN run = run_filter(options);
    EXPECT_EQ(run.status, 0);
    std::vector<std::string> created;
    for (const auto& name : logs())
    {
        if (std::find(before.begin(), before.end(), name) == before.end())
        {
            created.push_back(name);
        }
    }
    ASSERT_EQ(created.size(), 1u);
    struct stat st;
    ASSERT_EQ(lstat(created[0].c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0640u); // not writable by other users

    auto entry = [](const std::string& text, const std::string& status)
    {
        std::string line = text;
        line.resize(100, ' ');
        return line + " " + status;
    };
    const std::vector<std::string> lines = split_lines(read_file(created[0]));
    ASSERT_GE(lines.size(), 10u);
    auto body = [&](size_t i) { return lines[i].substr(lines[i].find("] : ") + 4); };
    EXPECT_EQ(body(0), entry(std::string(113, '=').substr(0, 100), " "));
    EXPECT_EQ(body(1),
              entry("                                    QEL NEW DRIVER RASTER LOG FILE", " "));
    std::vector<std::string> bodies;
    for (size_t i = 0; i < lines.size(); ++i)
    {
        bodies.push_back(body(i));
    }
    for (const auto& expected :
         {entry("Raster file 3", "INFO"), entry("Raster file opened", "OK"),
          entry("PPD file opened", "FAILURE"),
          entry("RASTERTOQEL -> QEL DAEMON STATUS", "NOT ACTIVE"),
          entry("RASTERTOQEL -> READING PAGE (1), 20 PRINTING LINES READ", "DONE"),
          entry("RASTERTOQEL -> PRINTING PAGE (1), COPY 1/1", "DONE"),
          entry("RASTERTOQEL -> 1 PAGES PRINTED", "SUCCESS"),
          entry("RASTERTOQEL -> ENDING PRINTING", "SUCCESS")})
    {
        EXPECT_NE(std::find(bodies.begin(), bodies.end(), expected), bodies.end()) << expected;
    }
    std::filesystem::remove(created[0]);
}
