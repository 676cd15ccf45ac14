// Raster streams written by the benchmark read back bit-exact through libcups.
#include "raster_job_writer.h"

#include "raster_file.h"

#include <gtest/gtest.h>

#include <cups/raster.h>
#include <unistd.h>

#include <vector>

using namespace qel_bench;

namespace
{

std::string scratch(const std::string& name)
{
    return std::string(QEL_BENCH_TEST_DIR) + "/" + name;
}

const InputSpec two_pages{"two",
                          {{PageContent::text, 576, 300, 11}, {PageContent::logo, 576, 90, 12}}};

} // namespace

TEST(RasterJobWriter, OneBitJobReadsBackBitExact)
{
    const std::string path = scratch("two-k1.ras");
    ASSERT_EQ(write_raster_job(path, two_pages, {RasterForm::k1, 0, 203}), "");
    const auto pages = test_support::read_raster_pages(path);
    ASSERT_EQ(pages.size(), 2u);
    for (std::size_t i = 0; i < pages.size(); ++i)
    {
        const cups_page_header2_t& h = pages[i].header;
        EXPECT_EQ(h.cupsBytesPerLine, 72u);
        EXPECT_EQ(h.cupsWidth, 576u);
        EXPECT_EQ(h.cupsHeight, two_pages.pages[i].height_lines);
        EXPECT_EQ(h.cupsBitsPerPixel, 1u);
        EXPECT_EQ(h.cupsColorSpace, CUPS_CSPACE_K);
        EXPECT_EQ(h.HWResolution[0], 203u);
        EXPECT_EQ(h.NumCopies, 1u);
        // Nothing may be cut off the bottom, or the filters print less.
        EXPECT_EQ(h.AdvanceDistance, 0u);
        EXPECT_EQ(pages[i].image, render_page(two_pages.pages[i]).dots) << "page " << i;
    }
}

TEST(RasterJobWriter, RgbJobHoldsTheSamePage)
{
    const std::string path = scratch("two-rgb.ras");
    ASSERT_EQ(write_raster_job(path, two_pages, {RasterForm::rgb8, 0, 203}), "");
    const auto pages = test_support::read_raster_pages(path);
    ASSERT_EQ(pages.size(), 2u);
    const PageImage img = render_page(two_pages.pages[0]);
    const cups_page_header2_t& h = pages[0].header;
    ASSERT_EQ(h.cupsBytesPerLine, 3u * 576);
    EXPECT_EQ(h.cupsColorSpace, CUPS_CSPACE_RGB);
    EXPECT_EQ(h.cupsBitsPerColor, 8u);
    for (unsigned y = 0; y < img.height_lines; ++y)
        for (unsigned x = 0; x < 576; ++x)
        {
            const bool black = img.line(y)[x / 8] & (0x80 >> (x % 8));
            const uint8_t* px = pages[0].image.data() + y * h.cupsBytesPerLine + 3 * x;
            ASSERT_EQ(px[0], black ? 0 : 255) << "line " << y << " dot " << x;
            ASSERT_EQ(px[0], px[1]);
            ASSERT_EQ(px[0], px[2]);
        }
}

TEST(RasterJobWriter, WiderStreamPadsWithWhite)
{
    const std::string path = scratch("one-wide.ras");
    const InputSpec one{"one", {{PageContent::logo, 576, 40, 4}}};
    ASSERT_EQ(write_raster_job(path, one, {RasterForm::k1, 720, 300}), "");
    const auto pages = test_support::read_raster_pages(path);
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(pages[0].header.cupsBytesPerLine, 90u);
    const PageImage img = render_page(one.pages[0]);
    for (unsigned y = 0; y < 40; ++y)
    {
        const uint8_t* line = pages[0].image.data() + y * 90;
        EXPECT_TRUE(std::equal(img.line(y).begin(), img.line(y).end(), line));
        EXPECT_TRUE(std::all_of(line + 72, line + 90, [](uint8_t b) { return b == 0; }));
    }
}

TEST(RasterJobWriter, UnwritablePathFailsAndLeavesNothing)
{
    const std::string path = scratch("no-such-dir/x.ras");
    const std::string failure = write_raster_job(path, two_pages, {});
    EXPECT_NE(failure.find("cannot create"), std::string::npos) << failure;
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}
