// receipt_settings.h - how a job's choices become the printer's page commands (pure).
//
// The choices are IPP values (print-darkness, the vendor attributes of the drivers, the
// finishings and the medium); the results are the page encoder's plain settings and layout.
#pragma once

#include "page_commands.h"
#include "page_streamer.h"

#include <cstdint>
#include <string_view>

namespace qel_app
{

// When the paper is cut.
enum class CutMode
{
    Never,
    AfterPage, // after every page copy
    AfterJob,  // once, at the end of the job
};

// Which blank dot lines a receipt loses.
enum class BlankTrim
{
    None,
    Bottom,
    TopAndBottom, // zero-waste: a receipt is as long as its content
};

struct ReceiptChoices
{
    int darkness_percent = 50; // printer-darkness-configured + print-darkness, 0..100
    int speed_level = 0;       // print-speed-level: 0 the printer's own, 1..10
    int paper_path = -1;       // paper-path: -1 the printer's own, 0..2
    CutMode cut = CutMode::AfterJob;
    bool form_feed = false; // form-feed after every page
    BlankTrim trim = BlankTrim::TopAndBottom;
    int bottom_margin_mm = 4; // blank paper after the content (only with a bottom trim)
};

// Vendor attribute values (keywords and numbers as IPP carries them).
CutMode parse_cut_mode(std::string_view keyword, CutMode fallback);
BlankTrim parse_blank_trim(std::string_view keyword, BlankTrim fallback);
int parse_paper_path(std::string_view keyword); // "printer-default" -1, "path-0".."path-2"

// The density step of a darkness in percent: the nearest multiple of 5; 50 % (the middle)
// leaves the printer's own density (step 255, no command).
unsigned density_step_for_darkness(int darkness_percent);

// Page-start settings of the choices.
TS_QEL_PAGE_SETTINGS page_settings(const ReceiptChoices& choices);

// Layout of one page: `width_bytes` bytes per printed line, `height` lines.
TS_QEL_PAGE_LAYOUT page_layout(const ReceiptChoices& choices, uint32_t width_bytes,
                               uint32_t height);

// Blank dot lines fed after the content.
uint32_t bottom_margin_lines(const ReceiptChoices& choices);

// Copies `dst_bits` dots of a 1-bit line, starting at dot `offset` of `src` (src_bits dots),
// into `dst` (dst_bits rounded up to bytes); dots outside the source are blank.
void crop_line(const unsigned char* src, uint32_t src_bits, uint32_t offset, unsigned char* dst,
               uint32_t dst_bits);

} // namespace qel_app
