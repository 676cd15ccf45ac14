// load_jobs: the jobs of the CUPS load test, and the check of what the
// virtual printers received.
//
//   load_jobs make DIR COUNT PS_EVERY
//       DIR/jobs/job-NNN.ras  CUPS raster jobs (1-3 receipt pages, some with
//                             two copies, some trimmed, some not)
//       DIR/jobs/job-NNN.ps   every PS_EVERY-th job instead: a PostScript
//                             receipt that the test turns into a PDF, so that
//                             it goes through CUPS's own Ghostscript chain
//       DIR/expect/job-NNN-P.pbm  the image of page P of a raster job
//                             (PostScript jobs: made by the test with
//                             Ghostscript)
//       DIR/manifest.txt      "NNN raster|ps PAGES COPIES" per job
//
//   load_jobs check DIR ASSIGNMENT PRINTER_DIR...
//       ASSIGNMENT: lines "NNN Q": job NNN was sent to the queue of the
//       Q-th PRINTER_DIR (0-based).  Each PRINTER_DIR holds the page copies
//       one virtual printer completed (page-N.pbm and page-N.txt, in order).
//       Every job must appear exactly once, on its own printer, as one
//       unbroken run of its pages (each page COPIES times, then the next),
//       every page equal to its expected image and ended by a page end.
//       Pages are compared without their trailing blank lines: the driver
//       trims those when the job asks for it.
//
// Every job's pages differ (a bar code of job and page number at the top
// and pseudo-random receipt text below), so a page printed for the wrong job
// or twice cannot pass for another.
#include "pbm_image.h"
#include "raster_file.h"

#include <cups/raster.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

constexpr unsigned kDots = 576;
constexpr unsigned kStride = kDots / 8;
constexpr unsigned kDpi = 203;

using test_support::PbmImage;

// Black dots [x0, x1) of line y.
void lo_dots(PbmImage& img, unsigned y, unsigned x0, unsigned x1)
{
    for (unsigned x = x0; x < x1 && x < img.width; ++x)
        img.row(y)[x / 8] |= std::uint8_t(0x80u >> (x % 8));
}

// The same picture without its trailing blank lines.
void lo_trim(PbmImage& img)
{
    while (img.height > 0)
    {
        const std::uint8_t* r = img.row(img.height - 1);
        if (std::any_of(r, r + img.stride(), [](std::uint8_t b) { return b != 0; }))
            break;
        --img.height;
    }
    img.bits.resize(std::size_t(img.height) * img.stride());
}

std::string lo_key(const PbmImage& img)
{
    return std::to_string(img.width) + "x" + std::to_string(img.height) + ":" +
           std::string(img.bits.begin(), img.bits.end());
}

struct Job
{
    unsigned number = 0;
    bool postscript = false;
    unsigned pages = 1;
    unsigned copies = 1;
};

std::string job_name(unsigned n)
{
    char b[32];
    std::snprintf(b, sizeof b, "job-%03u", n);
    return b;
}

// A receipt page: a bar code of job and page number, rows of "text" (dark
// runs of glyph width) with gaps, a rule, and for some jobs blank paper at
// the end.
PbmImage make_page(unsigned job, unsigned page, unsigned trailing_blank)
{
    std::mt19937 rng(job * 977u + page * 131u + 7u);
    auto pick = [&](unsigned lo, unsigned hi)
    { return std::uniform_int_distribution<unsigned>(lo, hi)(rng); };
    const unsigned body = pick(160, 900);
    PbmImage img;
    img.width = kDots;
    img.height = 40 + body + 8 + trailing_blank;
    img.bits.assign(std::size_t(img.height) * kStride, 0);

    // Bar code: 24 bits (job 16, page 8), 20 dots a bit, wide bar = 1.
    const unsigned code = (job << 8) | page;
    for (unsigned bit = 0; bit < 24; ++bit)
    {
        const unsigned x = 48 + bit * 20;
        const unsigned w = (code >> (23 - bit)) & 1u ? 12 : 4;
        for (unsigned y = 4; y < 36; ++y)
            lo_dots(img, y, x, x + w);
    }
    for (unsigned y = 40; y < 40 + body;)
    {
        const unsigned glyph_h = pick(12, 28);
        unsigned x = pick(8, 60);
        const unsigned end = pick(200, kDots - 8);
        while (x < end && y + glyph_h <= 40 + body)
        {
            const unsigned w = pick(4, 14);
            const unsigned top = pick(0, glyph_h / 3);
            for (unsigned gy = top; gy < glyph_h; ++gy)
                if (pick(0, 9) != 0) // glyphs have holes
                    lo_dots(img, y + gy, x, x + w);
            x += w + pick(2, 18);
        }
        y += glyph_h + pick(4, 16);
    }
    for (unsigned y = 40 + body; y < 40 + body + 4; ++y)
        lo_dots(img, y, 8, kDots - 8);
    return img;
}

cups_page_header2_t page_header(const PbmImage& img, unsigned copies, bool trim, bool cut)
{
    cups_page_header2_t h = test_support::k1_page_header(kDots, img.height, kDpi);
    h.NumCopies = copies;
    h.cupsRowFeed = 255;     // printer's own speed
    h.cupsCompression = 255; // and density
    h.Duplex = trim ? CUPS_TRUE : CUPS_FALSE;
    h.CutMedia = cut ? CUPS_CUT_PAGE : CUPS_CUT_NONE;
    return h;
}

// Returns "" or what failed.
std::string write_raster_job(const std::string& path, const std::vector<PbmImage>& pages,
                             unsigned copies, bool trim)
{
    test_support::RasterWriter raster(path);
    for (std::size_t p = 0; raster.failure().empty() && p < pages.size(); ++p)
    {
        raster.page(page_header(pages[p], copies, trim, p + 1 == pages.size()));
        // CUPS raster is 0 = white for the K colour space, as PBM.
        for (unsigned y = 0; raster.failure().empty() && y < pages[p].height; ++y)
            raster.pixels(pages[p].row(y), kStride);
    }
    return raster.close();
}

// A PostScript receipt for an 80 mm roll, 200 mm long, carrying its job
// number in large type.
std::string postscript_job(unsigned job)
{
    std::ostringstream s;
    s << "%!PS-Adobe-3.0\n%%BoundingBox: 0 0 204 567\n%%Pages: 1\n%%EndComments\n"
      << "<< /PageSize [204.3 566.93] >> setpagedevice\n"
      << "/Helvetica-Bold findfont 28 scalefont setfont 12 520 moveto (JOB " << job << ") show\n"
      << "/Courier findfont 9 scalefont setfont\n";
    std::mt19937 rng(job);
    for (int line = 0; line < 24; ++line)
    {
        s << "12 " << 490 - line * 13 << " moveto (";
        for (int c = 0; c < 28; ++c)
            s << char('A' + rng() % 26);
        s << ") show\n";
    }
    s << "0.8 setlinewidth 12 170 moveto 192 170 lineto stroke\n"
      << "/Helvetica findfont 11 scalefont setfont 12 150 moveto (Total " << job * 7 % 1000
      << ".00) show\nshowpage\n%%EOF\n";
    return s.str();
}

int make(const std::string& dir, unsigned count, unsigned ps_every)
{
    ::mkdir(dir.c_str(), 0755);
    ::mkdir((dir + "/jobs").c_str(), 0755);
    ::mkdir((dir + "/expect").c_str(), 0755);
    std::ofstream manifest(dir + "/manifest.txt");
    for (unsigned n = 1; n <= count; ++n)
    {
        const std::string name = job_name(n);
        if (ps_every && n % ps_every == 0)
        {
            std::ofstream(dir + "/jobs/" + name + ".ps") << postscript_job(n);
            manifest << n << " ps 1 1\n";
            continue;
        }
        const unsigned pages = 1 + n % 3;
        const unsigned copies = n % 7 == 0 ? 2 : 1;
        const bool trim = n % 5 != 0;
        std::vector<PbmImage> images;
        for (unsigned p = 1; p <= pages; ++p)
        {
            images.push_back(make_page(n, p, n % 4 == 0 ? 60 : 0));
            if (!test_support::write_pbm(dir + "/expect/" + name + "-" + std::to_string(p) + ".pbm",
                                         images.back()))
            {
                std::fprintf(stderr, "cannot write the expected image of %s\n", name.c_str());
                return 1;
            }
        }
        const std::string failure =
            write_raster_job(dir + "/jobs/" + name + ".ras", images, copies, trim);
        if (!failure.empty())
        {
            std::fprintf(stderr, "%s\n", failure.c_str());
            return 1;
        }
        manifest << n << " raster " << pages << " " << copies << "\n";
    }
    manifest.close();
    return manifest ? 0 : 1;
}

// The page files one printer wrote, in the order it completed them.
std::vector<std::string> page_stems(const std::string& dir)
{
    std::vector<std::pair<unsigned long, std::string>> found;
    if (DIR* d = ::opendir(dir.c_str()))
    {
        while (const dirent* e = ::readdir(d))
        {
            unsigned long n = 0;
            char tail[16] = "";
            if (std::sscanf(e->d_name, "page-%lu.%15s", &n, tail) == 2 &&
                std::strcmp(tail, "pbm") == 0)
                found.emplace_back(n,
                                   dir + "/" + std::string(e->d_name, std::strlen(e->d_name) - 4));
        }
        ::closedir(d);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> stems;
    for (auto& f : found)
        stems.push_back(f.second);
    return stems;
}

bool page_ended(const std::string& stem)
{
    std::ifstream f(stem + ".txt");
    std::string line;
    while (std::getline(f, line))
        if (line == "complete=1")
            return true;
    return false;
}

int check(const std::string& dir, const std::string& assignment,
          const std::vector<std::string>& printers)
{
    std::map<unsigned, Job> jobs;
    {
        std::ifstream m(dir + "/manifest.txt");
        Job j;
        std::string kind;
        while (m >> j.number >> kind >> j.pages >> j.copies)
        {
            j.postscript = kind == "ps";
            jobs[j.number] = j;
        }
    }
    std::map<unsigned, unsigned> queue_of;
    {
        std::ifstream a(assignment);
        unsigned n = 0, q = 0;
        while (a >> n >> q)
            queue_of[n] = q;
    }
    if (jobs.empty())
    {
        std::fprintf(stderr, "no jobs in %s/manifest.txt\n", dir.c_str());
        return 2;
    }

    // Every expected page, by its picture.
    struct PageId
    {
        unsigned job, page;
    };
    std::map<std::string, PageId> by_picture;
    std::string why;
    for (const auto& [n, j] : jobs)
        for (unsigned p = 1; p <= j.pages; ++p)
        {
            auto img = test_support::read_pbm(
                dir + "/expect/" + job_name(n) + "-" + std::to_string(p) + ".pbm", why);
            if (!img)
            {
                std::fprintf(stderr, "%s\n", why.c_str());
                return 2;
            }
            lo_trim(*img);
            if (!by_picture.emplace(lo_key(*img), PageId{n, p}).second)
            {
                std::fprintf(stderr, "%s page %u looks like another job's page\n",
                             job_name(n).c_str(), p);
                return 2;
            }
        }

    unsigned problems = 0, pages_checked = 0;
    auto problem = [&](const std::string& text)
    {
        if (++problems <= 20)
            std::printf("FAIL: %s\n", text.c_str());
    };
    std::map<unsigned, unsigned> printed_on; // job -> printer
    for (unsigned q = 0; q < printers.size(); ++q)
    {
        const std::vector<std::string> stems = page_stems(printers[q]);
        // What each page received is, read once: a page of a job, or why not.
        std::vector<std::optional<PageId>> ids(stems.size());
        std::vector<std::string> unknown(stems.size());
        for (std::size_t k = 0; k < stems.size(); ++k)
        {
            auto img = test_support::read_pbm(stems[k] + ".pbm", why);
            if (!img)
            {
                unknown[k] = why;
                continue;
            }
            lo_trim(*img);
            const auto hit = by_picture.find(lo_key(*img));
            if (hit == by_picture.end())
                unknown[k] = stems[k] + ": matches no page of any job";
            else
                ids[k] = hit->second;
        }
        std::size_t i = 0;
        while (i < stems.size())
        {
            if (!ids[i])
            {
                problem(unknown[i]);
                ++i;
                continue;
            }
            const PageId first = *ids[i];
            const Job& j = jobs[first.job];
            const std::string name = job_name(j.number);
            if (first.page != 1)
            {
                problem(stems[i] + ": " + name + " starts with page " + std::to_string(first.page));
                ++i;
                continue;
            }
            if (printed_on.count(j.number))
                problem(name + " printed twice (" + stems[i] + ")");
            printed_on[j.number] = q;
            if (queue_of.count(j.number) && queue_of[j.number] != q)
                problem(name + " was sent to printer " + std::to_string(queue_of[j.number]) +
                        " but printed on printer " + std::to_string(q));
            // The job's whole run: page 1 x copies, page 2 x copies, ...
            for (unsigned p = 1; p <= j.pages; ++p)
                for (unsigned c = 1; c <= j.copies; ++c, ++i)
                {
                    const std::string where =
                        name + " page " + std::to_string(p) + " copy " + std::to_string(c);
                    if (i >= stems.size())
                    {
                        problem(where + " missing at the end of printer " + std::to_string(q));
                        continue;
                    }
                    const std::optional<PageId>& at = ids[i];
                    if (!at || at->job != j.number || at->page != p)
                        problem(where + " expected at " + stems[i] + ", found " +
                                (!at ? unknown[i]
                                     : job_name(at->job) + " page " + std::to_string(at->page)));
                    else if (!page_ended(stems[i]))
                        problem(where + " (" + stems[i] + ") has no page end");
                    else
                        ++pages_checked;
                }
        }
    }
    for (const auto& [n, j] : jobs)
        if (!printed_on.count(n))
            problem(job_name(n) + " never printed");
    std::printf("jobs=%zu printed=%zu pages_checked=%u problems=%u\n", jobs.size(),
                printed_on.size(), pages_checked, problems);
    return problems ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "make" && argc == 5)
        return make(argv[2], unsigned(std::strtoul(argv[3], nullptr, 10)),
                    unsigned(std::strtoul(argv[4], nullptr, 10)));
    if (cmd == "check" && argc >= 5)
        return check(argv[2], argv[3], std::vector<std::string>(argv + 4, argv + argc));
    std::fprintf(stderr,
                 "usage: %s make DIR COUNT PS_EVERY\n"
                 "       %s check DIR ASSIGNMENT PRINTER_DIR...\n",
                 argv[0], argv[0]);
    return 2;
}
