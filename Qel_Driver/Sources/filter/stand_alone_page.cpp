// One page of the stand-alone path.
#include "stand_alone_page.h"

#include "debug_log.h"
#include "job_cancel.h"
#include "output_stream.h"
#include "page_encoder.h"
#include "page_image.h"
#include "page_streamer.h"

#include <cstdio>
#include <vector>

namespace
{

// Widest dot line the stand-alone path encodes: far beyond any head of the
// family (72 bytes), and the line buffers stay a few MiB however hostile the
// page header.
constexpr uint32_t k_line_bytes_limit = 1u << 20;

// Encoded commands go to the output in pieces of about this size: large
// writes, and a cancelled job stops within a piece.
constexpr size_t k_output_piece = 16384;

// Every head of the family prints 576 dots, which the printer takes as 72
// bytes per dot line.
constexpr uint32_t k_head_bytes = 72;

// Kept for the whole job, so that pages of one size allocate nothing.
TS_QEL_PAGE_STREAMER s_streamer;
TS_QEL_PAGE_STREAM ub_encoded; // encoded, not yet written
std::vector<unsigned char> ub_line;
// The encoded first copy of a page with several copies, and the offsets at
// which it was written out (each the end of a dot line's commands).
std::vector<unsigned char> ub_copy_bytes;
std::vector<size_t> n_copy_piece_ends;

// The page end of the last copy so far when the job is cut at its end: it
// goes out without the cut once another page follows, with it at the end.
bool f_end_pending = false;
cups_page_header2_t s_pending_end_header;

// Width of the last page reported as wider than the head (0: none).
uint32_t n_reported_width = 0;

// Writes what the streamer has encoded; keeps it when further copies follow.
bool lo_drain(bool f_keep)
{
    const unsigned char* data = ub_encoded.data();
    const size_t size = ub_encoded.size();
    if (size == 0)
    {
        return true;
    }
    if (f_keep)
    {
        ub_copy_bytes.insert(ub_copy_bytes.end(), data, data + size);
        n_copy_piece_ends.push_back(ub_copy_bytes.size());
    }
    const bool f_written = output_write(data, size);
    ub_encoded.clear();
    return f_written;
}

bool lo_write_page_end(const cups_page_header2_t& header)
{
    unsigned char bytes[QEL_PAGE_END_MAX];
    return output_write(bytes, write_page_end(header, bytes));
}

bool lo_write_pending_end(bool f_cut)
{
    if (!f_end_pending)
    {
        return true;
    }
    f_end_pending = false;
    unsigned char bytes[QEL_PAGE_END_MAX];
    return output_write(bytes, write_page_end_cut(s_pending_end_header, f_cut, bytes));
}

// The page end of a copy that printed whole.  With the cut at the end of the
// job only the last copy of the page may be the job's last: its end waits.
bool lo_end_copy(const cups_page_header2_t& header, bool f_last_copy)
{
    if (!header_cuts_after_job(header))
    {
        return lo_write_page_end(header);
    }
    if (!f_last_copy)
    {
        unsigned char bytes[QEL_PAGE_END_MAX];
        return output_write(bytes, write_page_end_cut(header, false, bytes));
    }
    s_pending_end_header = header;
    f_end_pending = true;
    return true;
}

// A page wider than the head prints its middle 72 bytes: the head sits in
// the middle of the roll, so what a page as wide as the paper holds lands
// where it would on the paper, only its margins are lost.  Scaling would
// change the size of text and barcodes instead.
cups_page_header2_t lo_head_header(const TS_QEL_JOB& job, size_t* offset)
{
    cups_page_header2_t line_header = job.header;
    const uint32_t width = job.header.cupsBytesPerLine;
    *offset = 0;
    if (width <= k_head_bytes)
    {
        return line_header;
    }
    const uint32_t left = (width - k_head_bytes) / 2;
    *offset = left;
    line_header.cupsBytesPerLine = k_head_bytes;
    line_header.cupsWidth = k_head_bytes * 8;
    if (n_reported_width != width)
    {
        n_reported_width = width;
        std::fprintf(stderr,
                     "WARNING: Page %d is %u dots wide, the print head %u: its middle %u dots "
                     "are printed, %u dots on the left and %u on the right are cut off. Choose a "
                     "page size at most 72 mm wide (Custom.72x200mm for 80 mm paper).\n",
                     job.page + 1, width * 8, k_head_bytes * 8, k_head_bytes * 8, left * 8,
                     (width - k_head_bytes - left) * 8);
    }
    return line_header;
}

// Page-start settings, written and flushed at once.
bool lo_start_page(const cups_page_header2_t& header)
{
    static TS_QEL_PAGE_STREAM stream;
    stream.clear();
    start_page(header, stream);
    return output_write(stream.data(), stream.size()) && output_flush();
}

// Reads the page's lines into the streamer (progress line before lines 0,
// 128, 256, ...), writing the dot lines of the first copy as it goes; the
// page end is the caller's.  Lines after the first failed read print blank.
ET_QEL_JOB_RESULT lo_stream_first_copy(TS_QEL_JOB& job, bool f_keep)
{
    const cups_page_header2_t& header = job.header;
    const uint32_t width = header.cupsBytesPerLine;
    const uint32_t height = header.cupsHeight;
    size_t offset = 0;
    streamer_begin(s_streamer, page_layout_from_header(lo_head_header(job, &offset)));
    ub_encoded.clear();
    ub_line.resize(width);
    uint32_t lines = 0;
    while (lines < height && !cancel_requested())
    {
        if (lines % 128 == 0)
        {
            std::fprintf(stderr, "INFO: Printing page %d, %ld%% complete...\n", job.page,
                         static_cast<long>(static_cast<uint64_t>(lines) * 100 / height));
        }
        if (job.ras == nullptr || cupsRasterReadPixels(job.ras, ub_line.data(), width) != width)
        {
            break;
        }
        ++lines;
        streamer_add_line(s_streamer, ub_line.data() + offset, ub_encoded);
        if (ub_encoded.size() >= k_output_piece && !lo_drain(f_keep))
        {
            return EV_QEL_JOB_WRITE_FAILED;
        }
    }
    debug_logf("DONE", "RASTERTOQEL -> READING PAGE (%d), %ld PRINTING LINES READ",
               job.i_total_page_counter, static_cast<long>(lines));
    if (cancel_requested())
    {
        // A copy that has begun printing gets its page end; one that has
        // not sent a dot line yet is left as it is.
        if (!streamer_sent_line(s_streamer))
        {
            return EV_QEL_JOB_CANCELLED;
        }
        streamer_abandon(s_streamer, ub_encoded);
        return lo_drain(false) ? EV_QEL_JOB_CANCELLED : EV_QEL_JOB_WRITE_FAILED;
    }
    streamer_add_blank_lines(s_streamer, height - lines, ub_encoded);
    streamer_finish_lines(s_streamer, ub_encoded);
    return lo_drain(f_keep) ? EV_QEL_JOB_END : EV_QEL_JOB_WRITE_FAILED;
}

// A further copy: the kept dot lines of the first one, piece by piece.
ET_QEL_JOB_RESULT lo_repeat_copy(const cups_page_header2_t& header)
{
    size_t start = 0;
    for (const size_t end : n_copy_piece_ends)
    {
        if (cancel_requested())
        {
            return lo_write_page_end(header) ? EV_QEL_JOB_CANCELLED : EV_QEL_JOB_WRITE_FAILED;
        }
        if (!output_write(ub_copy_bytes.data() + start, end - start))
        {
            return EV_QEL_JOB_WRITE_FAILED;
        }
        start = end;
    }
    return EV_QEL_JOB_END;
}

// Reads a page that prints no copy: its lines are only consumed.
ET_QEL_JOB_RESULT lo_skip_page(TS_QEL_JOB& job)
{
    const cups_page_header2_t& header = job.header;
    ub_line.resize(header.cupsBytesPerLine);
    uint32_t lines = 0;
    while (lines < header.cupsHeight && !cancel_requested())
    {
        if (lines % 128 == 0)
        {
            std::fprintf(stderr, "INFO: Printing page %d, %ld%% complete...\n", job.page,
                         static_cast<long>(static_cast<uint64_t>(lines) * 100 / header.cupsHeight));
        }
        if (job.ras == nullptr ||
            cupsRasterReadPixels(job.ras, ub_line.data(), header.cupsBytesPerLine) !=
                header.cupsBytesPerLine)
        {
            break;
        }
        ++lines;
    }
    debug_logf("DONE", "RASTERTOQEL -> READING PAGE (%d), %ld PRINTING LINES READ",
               job.i_total_page_counter, static_cast<long>(lines));
    return cancel_requested() ? EV_QEL_JOB_CANCELLED : EV_QEL_JOB_END;
}

} // namespace

ET_QEL_JOB_RESULT stand_alone_print_page(TS_QEL_JOB& job)
{
    const cups_page_header2_t& header = job.header;
    // The page is streamed, yet a page the filter could not hold as an image
    // is refused as before: its copies would need it.
    ET_QEL_PAGE_SIZE check = page_image_size(header, nullptr);
    if (check == EV_QEL_PAGE_SIZE_OK && header.cupsBytesPerLine > k_line_bytes_limit)
    {
        check = EV_QEL_PAGE_SIZE_TOO_LARGE;
    }
    if (check != EV_QEL_PAGE_SIZE_OK)
    {
        page_image_report_unusable(job.page + 1, header, check);
        return EV_QEL_JOB_BAD_PAGE;
    }
    std::fprintf(stderr, "PAGE: %d %d\n", job.page + 1, static_cast<int>(header.NumCopies));
    debug_logf("SUCCESS", "RASTERTOQEL -> STARTING READING PAGE (%d)", job.i_total_page_counter);
    const int copies = static_cast<int>(header.NumCopies);
    // Another page prints: the page before it was not the job's last.  A
    // page without copies prints nothing and leaves the cut where it is.
    if ((copies > 0 && !lo_write_pending_end(false)) || !lo_start_page(header))
    {
        return EV_QEL_JOB_WRITE_FAILED;
    }

    if (copies <= 0)
    {
        const ET_QEL_JOB_RESULT result = lo_skip_page(job);
        if (result == EV_QEL_JOB_END)
        {
            job.page += 1;
        }
        return result;
    }

    const bool f_keep = copies > 1;
    ub_copy_bytes.clear();
    n_copy_piece_ends.clear();
    for (int copy = 1; copy <= copies; ++copy)
    {
        debug_logf("STARTING", "RASTERTOQEL -> PRINTING PAGE (%d), COPY %d/%d",
                   job.i_total_page_counter, copy, copies);
        const ET_QEL_JOB_RESULT result =
            (copy == 1) ? lo_stream_first_copy(job, f_keep) : lo_repeat_copy(header);
        if (result != EV_QEL_JOB_END)
        {
            return result;
        }
        if (!lo_end_copy(header, copy == copies))
        {
            return EV_QEL_JOB_WRITE_FAILED;
        }
        debug_logf("DONE", "RASTERTOQEL -> ALLOCATION OF BUFFERS OK, %ld",
                   static_cast<long>(s_streamer.nr_printing_lines));
        debug_logf("DONE", "RASTERTOQEL -> PRINTING PAGE (%d), COPY %d/%d",
                   job.i_total_page_counter, copy, copies);
        // No pause between copies: the page end is still in the output
        // buffer at this point, so a pause would space nothing on the wire.
        job.i_total_page_counter += 1;
    }
    // The kept copy is given back: a long page does not hold its memory
    // through the rest of the job.
    if (ub_copy_bytes.capacity() > 4 * k_output_piece)
    {
        std::vector<unsigned char>().swap(ub_copy_bytes);
    }
    job.page += 1;
    return EV_QEL_JOB_END;
}

bool stand_alone_end_job()
{
    return lo_write_pending_end(true);
}
