// receipt_driver.cpp - driver data and the raster path: PAPPL's lines through the shared page
// encoder, straight to the device.
#include "receipt_driver.h"

#include "job_output.h"
#include "models.h"
#include "page_commands.h"
#include "page_streamer.h"
#include "printer_state.h"
#include "raw_stream.h"
#include "receipt_settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace qel_app
{
namespace
{

// Vendor attributes of the drivers (IPP names; the web page lists them under these names).
constexpr const char* lo_vendor_attrs[] = {"cut-media", "blank-trim",        "bottom-margin",
                                           "form-feed", "print-speed-level", "paper-path"};

std::vector<std::string>& lo_media_names()
{
    static std::vector<std::string> names = []
    {
        std::vector<std::string> list;
        for (const Roll& roll : rolls())
            for (int length : roll_lengths_mm())
                list.push_back(media_name(roll, length));
        list.push_back("roll_max_82.5x" + std::to_string(ROLL_MAX_LENGTH_MM) + "mm");
        list.push_back("roll_min_58x" + std::to_string(ROLL_MIN_LENGTH_MM) + "mm");
        return list;
    }();
    return names;
}

// One job's encoder state.
struct ReceiptJob
{
    ReceiptChoices choices;
    bool cut_allowed = true; // finishings ask for a cut (trim)
    std::unique_ptr<JobOutput> output;
    TS_QEL_PAGE_STREAMER streamer;
    TS_QEL_PAGE_STREAM commands;
    std::vector<unsigned char> line;
    uint32_t src_bits = 0, offset = 0, printable = 576;
    bool page_end_pending = false; // the last page end waits for the cut at the job's end
    uint32_t page_lines = 0, lines_received = 0; // the page's height and the lines come so far
    bool damaged = false;                        // the document's data ended inside a page

    // Copies this driver makes itself: PAPPL repeats the pages of images, but streams PWG and
    // Apple raster once whatever the copies, and the PDF filter renders each page once. The
    // pages of the first copy are kept and sent again, copy after copy, before the job ends.
    struct Page
    {
        cups_page_header2_t header;
        int media_width;
        std::vector<unsigned char> lines; // cupsBytesPerLine bytes a line, as they came
    };
    int extra_copies = 0;
    bool replaying = false;
    std::vector<Page> pages;
};

bool lo_driver_repeats_copies(pappl_job_t* job)
{
    const char* format = papplJobGetFormat(job);
    return format && (!std::strcmp(format, "image/pwg-raster") ||
                      !std::strcmp(format, "image/urf") || !std::strcmp(format, "application/pdf"));
}

const char* lo_vendor(const pappl_pr_options_t* options, const char* name)
{
    return cupsGetOption(name, options->num_vendor, options->vendor);
}

// The job's choices. The cut follows cut-media (after the job unless asked otherwise); a job
// that names its finishings is cut only when they hold "trim" (and never with "none").
ReceiptChoices lo_choices(pappl_job_t* job, const pappl_pr_options_t* options)
{
    ReceiptChoices choices;
    choices.darkness_percent = options->darkness_configured + options->print_darkness;
    if (const char* value = lo_vendor(options, "cut-media"))
        choices.cut = parse_cut_mode(value, choices.cut);
    if (const char* value = lo_vendor(options, "blank-trim"))
        choices.trim = parse_blank_trim(value, choices.trim);
    if (const char* value = lo_vendor(options, "bottom-margin"))
        choices.bottom_margin_mm = std::atoi(value);
    if (const char* value = lo_vendor(options, "form-feed"))
        choices.form_feed = !std::strcmp(value, "true");
    if (const char* value = lo_vendor(options, "print-speed-level"))
        choices.speed_level = std::atoi(value);
    if (const char* value = lo_vendor(options, "paper-path"))
        choices.paper_path = parse_paper_path(value);
    if (papplJobGetAttribute(job, "finishings") && !(options->finishings & PAPPL_FINISHINGS_TRIM))
        choices.cut = CutMode::Never;
    else if (options->finishings & PAPPL_FINISHINGS_TRIM && choices.cut == CutMode::Never)
        choices.cut = CutMode::AfterJob;
    return choices;
}

void lo_send(ReceiptJob& rj)
{
    if (!rj.commands.empty())
    {
        rj.output->add(rj.commands);
        rj.commands.clear();
    }
}

std::vector<unsigned char> lo_page_end(const ReceiptChoices& choices, bool cut)
{
    unsigned char end[QEL_PAGE_END_MAX];
    const uint32_t size = write_page_end(choices.form_feed, cut, end);
    return std::vector<unsigned char>(end, end + size);
}

bool lo_raw_print(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device)
{
    std::ifstream in(papplJobGetFilename(job), std::ios::binary);
    const std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    const std::string error = raw_stream_problem(data.data(), data.size());
    if (!error.empty())
    {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Not a whole printer command stream: %s",
                    error.c_str());
        papplJobSetMessage(job, "Not a whole printer command stream (%s).", error.c_str());
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        return false;
    }
    (void)options;
    JobOutput output(job, device);
    output.add(data);
    if (output.flush())
        return true;
    if (output.cancelled())
        output.finish_cancelled();
    return !output.failed();
}

// Identify-Printer: the printer has no display, lamp or sound; its message is shown on the
// application's "Printer data" page and in the log, the display of this printer.
void lo_identify(pappl_printer_t* printer, pappl_identify_actions_t /*actions*/,
                 const char* message)
{
    const std::string text = message && *message ? message : "Identify-Printer";
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify: %s", text.c_str());
    set_printer_identify(papplPrinterGetID(printer), text);
}

} // namespace

void set_paper_supply(pappl_printer_t* printer)
{
    pappl_supply_t paper{};
    paper.color = PAPPL_SUPPLY_COLOR_NO_COLOR;
    std::snprintf(paper.description, sizeof paper.description, "Paper roll");
    paper.is_consumed = true;
    paper.level = -1; // the printer reports no paper level
    paper.type = PAPPL_SUPPLY_TYPE_OTHER;
    papplPrinterSetSupplies(printer, 1, &paper);
}

int driver_list(pappl_pr_driver_t** drivers)
{
    static std::vector<pappl_pr_driver_t> list;
    static std::vector<std::string> descriptions;
    if (list.empty())
    {
        for (const Model& model : models())
            descriptions.push_back(make_and_model(model));
        size_t i = 0;
        for (const Model& model : models())
            list.push_back({model.driver_name, descriptions[i++].c_str(), nullptr, nullptr});
    }
    *drivers = list.data();
    return static_cast<int>(list.size());
}

const char* driver_autoadd(const char* /*device_info*/, const char* /*device_uri*/,
                           const char* device_id, void* /*data*/)
{
    const Model* model = device_id ? model_for_device_id(device_id) : nullptr;
    return model ? model->driver_name : nullptr;
}

bool driver_setup(pappl_system_t* /*system*/, const char* driver_name, const char* /*device_uri*/,
                  const char* /*device_id*/, pappl_pr_driver_data_t* data, ipp_t** attrs,
                  void* /*cb_data*/)
{
    const Model* model = model_for_driver(driver_name ? driver_name : "");
    if (!model)
        return false;

    data->printfile_cb = lo_raw_print;
    data->identify_cb = lo_identify;
    data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
    data->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
    data->rstartjob_cb = receipt_start_job;
    data->rstartpage_cb = receipt_start_page;
    data->rwriteline_cb = receipt_write_line;
    data->rendpage_cb = receipt_end_page;
    data->rendjob_cb = receipt_end_job;
    data->format = QEL_COMMAND_FORMAT;

    std::snprintf(data->make_and_model, sizeof data->make_and_model, "%s",
                  make_and_model(*model).c_str());
    data->ppm = 10;
    data->kind = static_cast<pappl_kind_t>(PAPPL_KIND_RECEIPT | PAPPL_KIND_ROLL);
    data->color_supported =
        static_cast<pappl_color_mode_t>(PAPPL_COLOR_MODE_MONOCHROME | PAPPL_COLOR_MODE_BI_LEVEL);
    data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
    data->raster_types = static_cast<pappl_raster_type_t>(PAPPL_PWG_RASTER_TYPE_BLACK_1 |
                                                          PAPPL_PWG_RASTER_TYPE_SGRAY_8);
    data->force_raster_type = PAPPL_PWG_RASTER_TYPE_BLACK_1;
    // Images print upright as they come: a wide, short image is a receipt line, not a page
    // to turn (PAPPL turns images wider than tall when no orientation is asked for).
    data->orient_default = IPP_ORIENT_PORTRAIT;
    data->duplex = PAPPL_DUPLEX_NONE;
    data->sides_supported = PAPPL_SIDES_ONE_SIDED;
    data->sides_default = PAPPL_SIDES_ONE_SIDED;
    data->finishings = PAPPL_FINISHINGS_TRIM;
    data->num_resolution = 1;
    data->x_resolution[0] = data->y_resolution[0] = QEL_RESOLUTION_DPI;
    data->x_default = data->y_default = QEL_RESOLUTION_DPI;
    data->borderless = true;
    data->left_right = 0;
    data->bottom_top = 0;

    const std::vector<std::string>& media = lo_media_names();
    data->num_media = static_cast<int>(media.size());
    for (size_t i = 0; i < media.size(); i++)
        data->media[i] = media[i].c_str();
    data->num_source = 1;
    data->source[0] = "main-roll";
    pwg_media_t* pwg = pwgMediaForPWG(default_media_name().c_str());
    std::snprintf(data->media_default.size_name, sizeof data->media_default.size_name, "%s",
                  default_media_name().c_str());
    data->media_default.size_width = pwg ? pwg->width : 8000;
    data->media_default.size_length = pwg ? pwg->length : 29700;
    std::snprintf(data->media_default.source, sizeof data->media_default.source, "main-roll");
    std::snprintf(data->media_default.type, sizeof data->media_default.type, "continuous");
    data->media_ready[0] = data->media_default;
    data->num_type = 1;
    data->type[0] = "continuous";
    data->tracking_supported = PAPPL_MEDIA_TRACKING_CONTINUOUS;

    data->darkness_supported = 21; // the density steps 0, 5, ..., 100
    data->darkness_configured = 50;
    data->darkness_default = 0;

    data->num_vendor = static_cast<int>(std::size(lo_vendor_attrs));
    for (size_t i = 0; i < std::size(lo_vendor_attrs); i++)
        data->vendor[i] = lo_vendor_attrs[i];

    ipp_t* extra = ippNew();
    static const char* const cut_values[] = {"after-job", "after-page", "never"};
    ippAddString(extra, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "cut-media-default",
                 nullptr, "after-job");
    ippAddStrings(extra, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "cut-media-supported", 3,
                  nullptr, cut_values);
    static const char* const trim_values[] = {"top-and-bottom", "bottom", "none"};
    ippAddString(extra, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "blank-trim-default",
                 nullptr, "top-and-bottom");
    ippAddStrings(extra, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "blank-trim-supported", 3,
                  nullptr, trim_values);
    ippAddInteger(extra, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "bottom-margin-default", 4);
    ippAddRange(extra, IPP_TAG_PRINTER, "bottom-margin-supported", 0, 50);
    ippAddBoolean(extra, IPP_TAG_PRINTER, "form-feed-default", 0);
    ippAddBoolean(extra, IPP_TAG_PRINTER, "form-feed-supported", 1);
    ippAddInteger(extra, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "print-speed-level-default", 0);
    ippAddRange(extra, IPP_TAG_PRINTER, "print-speed-level-supported", 0, 10);
    static const char* const path_values[] = {"printer-default", "path-0", "path-1", "path-2"};
    ippAddString(extra, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "paper-path-default",
                 nullptr, "printer-default");
    ippAddStrings(extra, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "paper-path-supported", 4,
                  nullptr, path_values);
    // What IPP Everywhere clients look for. Overrides: a selection of pages may be named, but
    // no attribute may be changed for it (a receipt is printed with one set of choices).
    static const char* const overrides[] = {"document-number", "pages"};
    ippAddStrings(extra, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "overrides-supported", 2,
                  nullptr, overrides);
    ippAddBoolean(extra, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
    ippAddString(extra, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
                 "print-rendering-intent-default", nullptr, "auto");
    ippAddString(extra, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
                 "print-rendering-intent-supported", nullptr, "auto");
    ippAddString(extra, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
                 "pwg-raster-document-sheet-back", nullptr, "normal");
    *attrs = extra;
    return true;
}

bool receipt_start_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device)
{
    auto* rj = new ReceiptJob;
    rj->choices = lo_choices(job, options);
    rj->output = std::make_unique<JobOutput>(job, device);
    if (lo_driver_repeats_copies(job) && options->copies > 1)
        rj->extra_copies = options->copies - 1;
    papplJobSetData(job, rj);
    return true;
}

bool receipt_start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* /*device*/,
                        unsigned /*page*/)
{
    auto* rj = static_cast<ReceiptJob*>(papplJobGetData(job));
    if (!rj)
        return false;
    if (rj->page_end_pending)
    {
        rj->page_end_pending = false;
        rj->output->add(lo_page_end(rj->choices, false));
    }
    rj->choices = lo_choices(job, options);
    const Roll* roll = roll_for_width(options->media.size_width);
    rj->printable = roll ? static_cast<uint32_t>(roll->printable_dots) : 576;
    rj->src_bits = options->header.cupsWidth;
    rj->offset = rj->src_bits > rj->printable ? (rj->src_bits - rj->printable) / 2 : 0;
    const uint32_t width_bytes = rj->printable / 8;
    rj->line.assign(width_bytes, 0);
    rj->page_lines = options->header.cupsHeight;
    rj->lines_received = 0;
    if (rj->extra_copies > 0 && !rj->replaying)
        rj->pages.push_back({options->header, options->media.size_width, {}});
    streamer_begin(rj->streamer, page_layout(rj->choices, width_bytes, options->header.cupsHeight));
    append_page_start(page_settings(rj->choices), rj->commands);
    lo_send(*rj);
    return !rj->output->failed();
}

bool receipt_write_line(pappl_job_t* job, pappl_pr_options_t* /*options*/,
                        pappl_device_t* /*device*/, unsigned /*y*/, const unsigned char* line)
{
    auto* rj = static_cast<ReceiptJob*>(papplJobGetData(job));
    if (!rj || rj->output->failed() || rj->output->cancelled())
        return false;
    rj->lines_received++;
    if (rj->extra_copies > 0 && !rj->replaying && !rj->pages.empty())
    {
        std::vector<unsigned char>& kept = rj->pages.back().lines;
        kept.insert(kept.end(), line, line + rj->pages.back().header.cupsBytesPerLine);
    }
    crop_line(line, rj->src_bits, rj->offset, rj->line.data(), rj->printable);
    streamer_add_line(rj->streamer, rj->line.data(), rj->commands);
    lo_send(*rj);
    return true;
}

bool receipt_end_page(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/,
                      unsigned page)
{
    auto* rj = static_cast<ReceiptJob*>(papplJobGetData(job));
    if (!rj)
        return false;
    if (rj->output->failed())
        return false;
    const bool cut_now = rj->choices.cut == CutMode::AfterPage;
    if (rj->output->cancelled() || papplJobIsCanceled(job))
    {
        rj->output->flush();
        rj->output->finish_cancelled();
        return true;
    }
    if (rj->lines_received < rj->page_lines)
    {
        // The document's data stopped inside the page (PAPPL's raster reader then skips the
        // missing lines and goes on as if the page were whole; Ghostscript may stop inside a
        // page of a damaged PDF). The job ends here, aborted: what the printer has is finished
        // with harmless bytes and the page ended without a cut.
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR,
                    "The data of page %u stops after %u lines (the page has %u).", page,
                    rj->lines_received, rj->page_lines);
        papplJobSetMessage(job,
                           "The document is damaged: the data of page %u stops after %u lines.",
                           page, rj->lines_received);
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        rj->damaged = true;
        rj->output->flush();
        rj->output->finish_cancelled();
        return false;
    }
    streamer_finish_lines(rj->streamer, rj->commands);
    const uint32_t margin = bottom_margin_lines(rj->choices);
    if (streamer_sent_line(rj->streamer) && margin > 0)
    {
        // The blank paper below the content: one blank line, repeated.
        const std::vector<unsigned char> blank(rj->line.size(), 0);
        const size_t at = rj->commands.size();
        rj->commands.resize(at + dot_line_room(blank.size()));
        const uint32_t size = encode_dot_line(rj->commands.data() + at, blank.data(),
                                              static_cast<uint32_t>(blank.size()));
        rj->commands.resize(at + size);
        append_repeat_lines(margin - 1, rj->commands);
    }
    if (rj->choices.cut == CutMode::AfterJob)
        rj->page_end_pending = true;
    else
    {
        const std::vector<unsigned char> end = lo_page_end(rj->choices, cut_now);
        rj->commands.insert(rj->commands.end(), end.begin(), end.end());
    }
    lo_send(*rj);
    return rj->output->flush() || rj->output->cancelled();
}

namespace
{

// The kept pages again, once for each further copy, through the same page callbacks.
bool lo_replay_copies(ReceiptJob& rj, pappl_job_t* job, pappl_pr_options_t* options,
                      pappl_device_t* device)
{
    if (rj.extra_copies <= 0 || rj.pages.empty())
        return true;
    const cups_page_header2_t header = options->header;
    const int media_width = options->media.size_width;
    rj.replaying = true;
    bool ok = true;
    unsigned page = static_cast<unsigned>(rj.pages.size());
    for (int copy = 0; ok && copy < rj.extra_copies; copy++)
        for (const ReceiptJob::Page& kept : rj.pages)
        {
            if (!ok || papplJobIsCanceled(job) || rj.output->cancelled() || rj.output->failed())
                break;
            options->header = kept.header;
            options->media.size_width = kept.media_width;
            ok = receipt_start_page(job, options, device, ++page);
            const size_t bytes = kept.header.cupsBytesPerLine;
            for (size_t at = 0; ok && bytes && at + bytes <= kept.lines.size(); at += bytes)
                ok = receipt_write_line(job, options, device, static_cast<unsigned>(at / bytes),
                                        kept.lines.data() + at);
            ok = receipt_end_page(job, options, device, page) && ok;
            papplJobSetImpressionsCompleted(job, 1);
        }
    options->header = header;
    options->media.size_width = media_width;
    rj.pages.clear();
    return ok;
}

} // namespace

bool receipt_end_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device)
{
    auto* rj = static_cast<ReceiptJob*>(papplJobGetData(job));
    if (!rj)
        return false;
    if (!rj->output->failed() && !rj->output->cancelled() && !papplJobIsCanceled(job) &&
        !rj->damaged)
        lo_replay_copies(*rj, job, options, device);
    bool ok = !rj->output->failed() && !rj->damaged;
    if (ok && (rj->output->cancelled() || papplJobIsCanceled(job)))
        rj->output->finish_cancelled(); // a page left open for the cut at the end is ended
    else if (ok && rj->page_end_pending)
    {
        rj->output->add(lo_page_end(rj->choices, true));
        ok = rj->output->flush();
    }
    papplJobSetData(job, nullptr);
    delete rj;
    return ok;
}

} // namespace qel_app
