// The printer application's pure parts: job choices as IPP carries them, dot line cropping and
// the spooled documents found again at start-up.
#include "receipt_settings.h"
#include "spool_documents.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
using namespace qel_app;

TEST(AppChoices, KeywordsAndDarknessSteps)
{
    EXPECT_EQ(parse_cut_mode("after-page", CutMode::Never), CutMode::AfterPage);
    EXPECT_EQ(parse_cut_mode("after-Page", CutMode::Never), CutMode::Never);
    EXPECT_EQ(parse_blank_trim("bottom", BlankTrim::None), BlankTrim::Bottom);
    EXPECT_EQ(parse_blank_trim("", BlankTrim::TopAndBottom), BlankTrim::TopAndBottom);
    EXPECT_EQ(parse_paper_path("path-2"), 2);
    EXPECT_EQ(parse_paper_path("path-3"), -1);
    EXPECT_EQ(parse_paper_path("path-10"), -1);
    // Nearest multiple of 5, clamped; the middle leaves the printer's own density.
    EXPECT_EQ(density_step_for_darkness(-20), 0u);
    EXPECT_EQ(density_step_for_darkness(12), 10u);
    EXPECT_EQ(density_step_for_darkness(13), 15u);
    EXPECT_EQ(density_step_for_darkness(49), 255u);
    EXPECT_EQ(density_step_for_darkness(130), 100u);
}

TEST(AppChoices, CropTakesTheMiddleDotsAndBlanksWhatIsOutside)
{
    // 20 source dots, every third one black; crop 16 dots from dot 7 (off byte boundaries)
    // and from dot 12 (running past the source's end).
    const uint32_t src_bits = 20;
    unsigned char src[3] = {};
    for (uint32_t x = 0; x < src_bits; x += 3)
        src[x / 8] |= static_cast<unsigned char>(0x80u >> (x % 8));
    for (uint32_t offset : {7u, 12u})
    {
        unsigned char dst[2] = {0xFF, 0xFF};
        crop_line(src, src_bits, offset, dst, 16);
        for (uint32_t x = 0; x < 16; x++)
        {
            const bool black = offset + x < src_bits && (offset + x) % 3 == 0;
            EXPECT_EQ(bool(dst[x / 8] & (0x80u >> (x % 8))), black) << offset << "+" << x;
        }
    }
}

TEST(SpooledDocuments, OnlyUnknownDocumentsByPrinterThenAcceptanceOrder)
{
    const std::vector<std::string> listing = {
        ".",
        "..",
        "p00002j000000003-b.pdf",
        "p00001j000000010-a-b.c.png", // a name with '-' and '.'
        "p00001j000000002-raw.prn",
        "p00001j000000004-known.pwg",
        "p00001j000000005-x.ipp", // not a document (the job's attributes)
        "p0000Xj000000006-x.pdf", // not PAPPL's number form
        "p00001j000000000-x.pdf", // no job 0
        "p00001j000000007-.jpg",
    };
    const std::vector<SpooledDocument> found =
        leftover_documents("/spool", listing, {"/spool/p00001j000000004-known.pwg"});
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ(found[0].job_id, 2);
    EXPECT_STREQ(found[0].format, "");
    EXPECT_EQ(found[1].job_id, 7);
    EXPECT_STREQ(found[1].format, "image/jpeg");
    EXPECT_EQ(found[1].name, "");
    EXPECT_EQ(found[2].job_id, 10);
    EXPECT_EQ(found[2].name, "a-b.c");
    EXPECT_STREQ(found[2].format, "image/png");
    EXPECT_EQ(found[2].path, "/spool/p00001j000000010-a-b.c.png");
    EXPECT_EQ(found[3].printer_id, 2);
    EXPECT_STREQ(found[3].format, "application/pdf");
}

} // namespace
