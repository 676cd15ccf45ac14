// The filter program on hostile input and in a hostile setting, without the
// print monitor: broken page headers, a standard output that closes early or
// is not open, cancellation at random moments, and random jobs that must come
// out byte for byte as the reference encoder writes them.
#include "Qel_Tb.h"
#include "filter_harness.h"
#include "line_decoder.h"
#include "reference_encoder.h"
#include "job_fixture.h"
#include "private_tmp.h"
#include "virtual_printer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <poll.h>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace qel_filter_test;

namespace
{

using JobRobustness = FilterJobTest;

// The reference stream of a job: settings per page, every copy through the
// copy loop over the whole page image, less the blank lines above the content
// when the page asks for the top trim.  Lines that the stream does not carry
// are blank in the image.  With the cut at the end of the job every copy ends
// without the cut, except the last copy that printed.
Bytes reference_stream(const std::vector<TS_RASTER_PAGE>& pages)
{
    TS_QEL_PAGE_STREAM stream;
    size_t cut_at = SIZE_MAX; // offset of the cut byte the job's end sets
    for (const auto& page : pages)
    {
        const uint32_t width = page.header.cupsBytesPerLine;
        Bytes image = page.image;
        image.resize(static_cast<size_t>(width) * page.header.cupsHeight, 0);
        start_page(page.header, stream);
        const uint32_t lines =
            prepare_page(page.header, image.data(), width, page.header.cupsHeight);
        const uint32_t first = first_printing_line(page.header, image.data(), width, lines);
        cups_page_header2_t header = page.header;
        if (header_cuts_after_job(page.header))
        {
            set_header_value(header.CutMedia, 0);
        }
        for (unsigned c = 0; c < page.header.NumCopies; ++c)
        {
            encode_page_copy(header, image.data() + first * width, lines - first, stream);
            cut_at = header_cuts_after_job(page.header) ? stream.size() - 1 : SIZE_MAX;
        }
    }
    if (cut_at != SIZE_MAX)
    {
        stream[cut_at] = 0x02;
    }
    return stream;
}

// Receipt-like content: text rows, rules, blank bands and noise.
void fill_receipt(std::mt19937& rng, TS_RASTER_PAGE& page)
{
    const size_t width = page.header.cupsBytesPerLine;
    const size_t height = page.header.cupsHeight;
    size_t y = 0;
    while (y < height)
    {
        const unsigned kind = rng() % 4;
        const size_t band = std::min<size_t>(height - y, 1 + rng() % 60);
        for (size_t k = 0; k < band; ++k, ++y)
        {
            unsigned char* line = page.image.data() + y * width;
            for (size_t x = 0; x < width; ++x)
            {
                line[x] = (kind == 0)   ? 0
                          : (kind == 1) ? static_cast<unsigned char>((x % 3 == 0) ? (y * 7 + x) : 0)
                          : (kind == 2) ? 0xFF
                                        : static_cast<unsigned char>(rng());
            }
        }
    }
}

} // namespace

TEST_F(JobRobustness, RandomJobsComeOutAsTheReferenceWritesThem)
{
    std::mt19937 rng(8122026);
    for (int job = 0; job < 24; ++job)
    {
        // Every other job sets the top trim and the cut at the end of the
        // job (on for 1 only) at random; the rest leave them at 0.
        const bool f_new_fields = job % 2 == 1;
        std::vector<TS_RASTER_PAGE> pages;
        const int nr_pages = 1 + static_cast<int>(rng() % 4);
        for (int p = 0; p < nr_pages; ++p)
        {
            const unsigned height = 1 + rng() % 1500;
            TS_RASTER_PAGE page = pattern_page(72, height, static_cast<unsigned>(rng()));
            fill_receipt(rng, page);
            if (rng() % 2)
            {
                const size_t blank = std::min<size_t>(height, rng() % 700);
                std::fill(page.image.end() - static_cast<ptrdiff_t>(blank * 72), page.image.end(),
                          0);
            }
            page.header.NumCopies = rng() % 4;
            set_header_value(page.header.Duplex, rng() % 2);
            page.header.AdvanceDistance = (rng() % 3 == 0) ? rng() % (height + 5) : 0;
            set_header_value(page.header.AdvanceMedia, rng() % 2);
            set_header_value(page.header.CutMedia, rng() % 2);
            page.header.cupsRowFeed = rng() % 3;
            page.header.cupsCompression = 5 * (rng() % 21);
            if (f_new_fields)
            {
                page.header.cupsInteger[0] = rng() % 3;
                page.header.cupsInteger[1] = rng() % 3;
                const size_t top = std::min<size_t>(height, rng() % 300);
                std::fill(page.image.begin(), page.image.begin() + static_cast<ptrdiff_t>(top * 72),
                          0);
            }
            pages.push_back(page);
        }
        // Now and then the stream ends inside the last page.
        const bool f_truncated = rng() % 4 == 0;
        std::vector<TS_RASTER_PAGE> written = pages;
        if (f_truncated)
        {
            TS_RASTER_PAGE& last = written.back();
            last.image.resize(72 * (rng() % (last.header.cupsHeight + 1)));
            pages.back().image = last.image;
        }
        write_raster(path("job.ras"), written);

        SCOPED_TRACE("job " + std::to_string(job));
        const TS_FILTER_RUN run = run_file(path("job.ras"));
        EXPECT_EQ(run.status, 0);
        ASSERT_EQ(run.out, reference_stream(pages));
    }
}

TEST_F(JobRobustness, HostileHeadersEndTheJobCleanly)
{
    const TS_RASTER_PAGE good = pattern_page(72, 40, 1);
    const Bytes good_stream = reference_stream({good});

    // Zero width or height after a good page: libcups or the filter refuses
    // the page; what was printed stays whole and the job fails.
    for (const auto& [width, height] : {std::pair{0u, 10u}, std::pair{72u, 0u}})
    {
        const TS_RASTER_PAGE hostile = claimed_size_page(72, width, height);
        write_raster(path("zero.ras"), {good, hostile});
        const TS_FILTER_RUN run = run_file(path("zero.ras"));
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        EXPECT_EQ(run.signal, 0);
        const auto lines = status_lines(run.err);
        ASSERT_FALSE(lines.empty());
        if (run.status == 0)
        {
            // libcups took the header for the end of the stream.
            EXPECT_EQ(lines.back(), "INFO: Ready to print.");
        }
        else
        {
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(lines.back().rfind("ERROR: Page 2 has an empty page image", 0), 0u)
                << lines.back();
        }
        EXPECT_EQ(run.out, good_stream);
    }

    // 8 bits per pixel: each line is 576 bytes, eight times what the head
    // takes as a dot line.  The middle 72 bytes print, with a warning.
    TS_RASTER_PAGE gray = pattern_page(576, 30, 2);
    gray.header.cupsBitsPerColor = 8;
    gray.header.cupsBitsPerPixel = 8;
    gray.header.cupsColorSpace = CUPS_CSPACE_W;
    gray.header.cupsWidth = 576;
    write_raster(path("gray.ras"), {gray});
    TS_FILTER_RUN run = run_file(path("gray.ras"));
    EXPECT_EQ(run.status, 0);
    TS_RASTER_PAGE middle = read_raster(path("gray.ras")).front();
    middle.header.cupsBytesPerLine = 72;
    middle.image.clear();
    for (size_t y = 0; y < 30; ++y)
    {
        const auto line = gray.image.begin() + static_cast<ptrdiff_t>(y * 576 + 252);
        middle.image.insert(middle.image.end(), line, line + 72);
    }
    EXPECT_EQ(run.out, reference_stream({middle}));
    EXPECT_NE(run.err.find("WARNING: Page 1 is 4608 dots wide, the print head 576: its middle "
                           "576 dots are printed, 2016 dots on the left and 2016 on the right "
                           "are cut off."),
              std::string::npos)
        << run.err;
    const TS_DECODED_STREAM decoded = decode_stream(run.out, 72);
    EXPECT_EQ(decoded.error, "");
    EXPECT_EQ(decoded.copies.size(), 1u);

    // A line wider than any printer (4 MiB) is refused before any buffer
    // of its size is made; the page before it printed whole.
    TS_RASTER_PAGE wide;
    wide.header = raster_header(72, 1);
    wide.header.cupsBytesPerLine = 4u << 20;
    wide.header.cupsWidth = 8 * (4u << 20);
    wide.header.cupsHeight = 2;
    write_raster(path("wide.ras"), {good, wide});
    run = run_file(path("wide.ras"));
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(status_lines(run.err).back(),
              "ERROR: Unable to allocate memory for page 2 (4194304 bytes per line, 2 lines)");
    EXPECT_EQ(run.out, good_stream);

    // A header alone (1.8 KB) that announces a bottom cut-off of 1023 lines
    // of 1 MiB: the filter's memory follows the lines that came.
    TS_RASTER_PAGE cut_off;
    cut_off.header = raster_header(72, 1);
    cut_off.header.cupsBytesPerLine = 1u << 20;
    cut_off.header.cupsWidth = 8u << 20;
    cut_off.header.cupsHeight = 1024;
    cut_off.header.AdvanceDistance = 1023;
    write_raster(path("cut_off.ras"), {cut_off});
    run = run_file(path("cut_off.ras"));
    EXPECT_EQ(run.status, 0);
    EXPECT_GT(run.max_rss_kb, 0);
    EXPECT_LT(run.max_rss_kb, 64 * 1024);

    // Copies beyond CUPS's limit of 9999: each page prints 9999 times, says
    // so, and the count CUPS adds to the user's quota is never negative.
    // Standard output is cut off at 10 MB, so that a filter that does not
    // bound the copies fails here instead of filling the disk.
    TS_RASTER_PAGE most = pattern_page(8, 2, 3), wrapped = pattern_page(8, 2, 4);
    most.header.NumCopies = 0x7FFFFFFFu;
    wrapped.header.NumCopies = 0xFFFFFFFFu;
    write_raster(path("copies.ras"), {most, wrapped});
    TS_FILTER_OPTIONS options;
    options.args = job_args(path("copies.ras"));
    options.stdout_mode = EV_STDOUT_SLOW_PIPE;
    options.on_stdout = [](int pid, int fd, Bytes& out)
    {
        unsigned char chunk[65536];
        ssize_t got;
        while ((got = read(fd, chunk, sizeof chunk)) > 0)
        {
            out.insert(out.end(), chunk, chunk + got);
            if (out.size() > (10u << 20))
            {
                kill(pid, SIGKILL);
                break;
            }
        }
    };
    run = run_filter(options);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 0);
    const auto lines = status_lines(run.err);
    for (const char* expected :
         {"INFO: Page 1 asks for 2147483647 copies; 9999 are printed", "PAGE: 1 9999",
          "INFO: Page 2 asks for 4294967295 copies; 9999 are printed", "PAGE: 2 9999"})
    {
        EXPECT_EQ(std::count(lines.begin(), lines.end(), expected), 1) << expected;
    }
    most.header.NumCopies = wrapped.header.NumCopies = 9999;
    EXPECT_EQ(run.out, reference_stream({most, wrapped}));
}

TEST_F(JobRobustness, GarbageAfterTheSyncWordNeverCrashesOrHangs)
{
    std::mt19937 rng(99);
    const char* sync_words[] = {"RaS2", "2SaR", "RaS3", "3SaR", "RaSt", "tSaR"};
    for (int trial = 0; trial < 48; ++trial)
    {
        std::string bytes = sync_words[trial % 6];
        const size_t size = (trial % 4 == 0) ? 1 + rng() % 64 : 400 + rng() % 4000;
        for (size_t i = 0; i < size; ++i)
        {
            bytes += static_cast<char>(rng());
        }
        if (trial % 3 == 0)
        {
            // A valid header followed by garbage pixels.
            const Bytes valid = [&]
            {
                write_raster(path("valid.ras"), {pattern_page(72, 100, 3)});
                return read_bytes(path("valid.ras"));
            }();
            bytes = std::string(valid.begin(), valid.begin() + 4 + 1796) + bytes.substr(4);
        }
        write_file(path("garbage.ras"), bytes);
        SCOPED_TRACE("trial " + std::to_string(trial));
        const auto started = std::chrono::steady_clock::now();
        const TS_FILTER_RUN run = run_file(path("garbage.ras"));
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
        EXPECT_EQ(run.signal, 0);
        ASSERT_TRUE(run.status == 0 || run.status == 1) << run.status;
        const auto lines = status_lines(run.err);
        ASSERT_FALSE(lines.empty());
        if (run.status == 0)
        {
            EXPECT_EQ(lines.back(), "INFO: Ready to print.");
        }
        else
        {
            EXPECT_EQ(lines.back().rfind("ERROR: ", 0), 0u) << lines.back();
        }
        // Whatever was written is a whole command stream.
        const auto vp = qel_vp::decode_page_stream(run.out);
        EXPECT_TRUE(vp.ok()) << (vp.ok() ? "" : vp.errors.front().message);
    }
}

TEST_F(JobRobustness, StandardOutputThatClosesEarlyOrIsNotOpen)
{
    TS_RASTER_PAGE page = pattern_page(72, 6000, 4);
    for (size_t i = 0; i < page.image.size(); ++i)
    {
        page.image[i] = static_cast<unsigned char>((i * 2654435761u) >> 11);
    }
    write_raster(path("big.ras"), {page, pattern_page(72, 50, 5)});
    const Bytes input = read_bytes(path("big.ras"));

    // The backend reads 10 kB and goes away.
    TS_FILTER_OPTIONS options;
    options.args = job_args(path("big.ras"));
    options.stdout_mode = EV_STDOUT_SLOW_PIPE;
    options.on_stdout = [](int, int fd, Bytes& out) { read_output(fd, out, 10000, 1024); };
    TS_FILTER_RUN run = run_filter(options);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 1);
    auto lines = status_lines(run.err);
    EXPECT_EQ(lines.back(), "ERROR: Unable to write print data: Broken pipe");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "PAGE: 2 1"), 0);

    // No standard output at all: the raster file gets descriptor 1, and the
    // filter must fail on it rather than write into it.
    run = run_file(path("big.ras"), EV_STDOUT_CLOSED);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 1);
    lines = status_lines(run.err);
    EXPECT_EQ(lines.back(), "ERROR: Unable to write print data: Bad file descriptor");
    EXPECT_EQ(read_bytes(path("big.ras")), input);
}

TEST_F(JobRobustness, CancelAtRandomMomentsEndsOnACommandBoundary)
{
    // Noise lines go out plain (about 76 bytes a line), far more than a pipe
    // holds; some pages have copies, which repeat the kept first copy.
    std::vector<TS_RASTER_PAGE> pages;
    for (unsigned p = 0; p < 3; ++p)
    {
        TS_RASTER_PAGE page = pattern_page(72, 3000, p);
        for (size_t i = 0; i < page.image.size(); ++i)
        {
            page.image[i] = static_cast<unsigned char>(((i + p) * 2654435761u) >> 13);
        }
        page.header.NumCopies = 1 + p % 2;
        set_header_value(page.header.CutMedia, 1);
        set_header_value(page.header.AdvanceMedia, p % 2);
        pages.push_back(page);
    }
    write_raster(path("cancel.ras"), pages);

    std::mt19937 rng(30);
    int cut_short = 0;
    for (int trial = 0; trial < 30; ++trial)
    {
        const auto delay = std::chrono::microseconds(rng() % 60000);
        TS_FILTER_OPTIONS options;
        options.args = job_args(path("cancel.ras"));
        options.stdout_mode = EV_STDOUT_SLOW_PIPE;
        // A slow backend: 4 kB at a time with a short pause.  The signal
        // comes a random time after the first byte (the handler is in place
        // by then, as it is long before CUPS could cancel).
        options.on_stdout = [delay](int pid, int fd, Bytes& out)
        {
            unsigned char chunk[4096];
            std::chrono::steady_clock::time_point signal_at{};
            bool f_signalled = false;
            for (;;)
            {
                if (!out.empty() && !f_signalled && std::chrono::steady_clock::now() >= signal_at)
                {
                    kill(pid, SIGTERM);
                    f_signalled = true;
                }
                const ssize_t got = read(fd, chunk, sizeof chunk);
                if (got <= 0)
                {
                    return;
                }
                if (out.empty())
                {
                    signal_at = std::chrono::steady_clock::now() + delay;
                }
                out.insert(out.end(), chunk, chunk + got);
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            }
        };
        const TS_FILTER_RUN run = run_filter(options);
        SCOPED_TRACE("trial " + std::to_string(trial) + " delay " + std::to_string(delay.count()) +
                     " us, " + std::to_string(run.out.size()) + " bytes");
        EXPECT_EQ(run.signal, 0);
        EXPECT_EQ(run.status, 0);
        // The virtual printer's decoder: no command cut, and no copy that
        // sent a dot line is left without its page end.  A cancel before the
        // first line of a page leaves only that page's settings, which are
        // whole commands.
        auto vp = qel_vp::decode_page_stream(run.out);
        if (!vp.ok())
        {
            ASSERT_FALSE(vp.pages.empty());
            const auto& open = vp.pages.back();
            ASSERT_TRUE(!open.complete && open.lines.empty())
                << vp.errors.front().message << " at " << vp.errors.front().offset;
            ASSERT_EQ(vp.errors.front().offset, run.out.size()) << vp.errors.front().message;
            vp.pages.pop_back();
        }
        for (const auto& printed : vp.pages)
        {
            EXPECT_TRUE(printed.complete);
            EXPECT_EQ(printed.cut, 2);
        }
        // Each printed copy holds the first lines of its page, in the job's
        // order of pages and copies; all but the last one hold all of them.
        std::vector<size_t> copy_pages;
        for (size_t p = 0; p < pages.size(); ++p)
        {
            copy_pages.insert(copy_pages.end(), pages[p].header.NumCopies, p);
        }
        ASSERT_LE(vp.pages.size(), copy_pages.size());
        if (vp.pages.size() < copy_pages.size() ||
            vp.pages.back().lines.size() < pages.back().header.cupsHeight)
        {
            ++cut_short;
        }
        for (size_t k = 0; k < vp.pages.size(); ++k)
        {
            const TS_RASTER_PAGE& page = pages[copy_pages[k]];
            const auto& lines = vp.pages[k].lines;
            ASSERT_LE(lines.size(), page.header.cupsHeight);
            if (k + 1 < vp.pages.size())
            {
                EXPECT_EQ(lines.size(), page.header.cupsHeight) << "copy " << k;
            }
            for (size_t y = 0; y < lines.size(); ++y)
            {
                ASSERT_TRUE(std::equal(lines[y].begin(), lines[y].end(),
                                       page.image.begin() + static_cast<ptrdiff_t>(y * 72)))
                    << "copy " << k << " line " << y;
            }
        }
    }
    // The signal really came in the middle of most jobs.
    EXPECT_GE(cut_short, 20);
}
