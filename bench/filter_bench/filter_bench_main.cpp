// qel_filter_bench: times rastertoqel, the libcups read floor and the peer
// label printer filters side by side on the generated raster inputs.
//
// Usage: qel_filter_bench --inputs DIR --out DIR [--rounds N] [--target-ms MS]
//            [--smoke] [--strict] --floor PROGRAM
//            {--filter NAME --program PROGRAM [--ppd PPD] [--form SUFFIX]
//             [--args cups|options] [--peer]}...
//
// Every filter runs as CUPS runs it: argv job-id user title copies options
// (or only the options for a filter called that way), PPD in the
// environment, the raster on standard input, printer data on a pipe.
// Rounds alternate the filters; a round runs each filter a batch of times so
// that a batch lasts well above the 10 ms resolution of process timers.
#include "bench_inputs.h"
#include "bench_report.h"
#include "process_probe.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

using namespace qel_bench;

namespace
{

// The print monitor's request pipe: while it exists rastertoqel would hand
// its pages to the monitor instead of writing printer data.
constexpr const char* monitor_request_fifo = "/tmp/Qel_PrintMonitor_ClientServer.fifo";

struct FilterSpec
{
    std::string name;
    std::string program;
    std::string ppd;
    std::string form = std::string(own_form_suffix);
    bool options_only = false; // argv is just the job options
    bool peer = false;         // runs only on inputs shared with the peers
};

struct Options
{
    std::string inputs, out;
    unsigned rounds = 5;
    double target_s = 0.1;
    bool smoke = false;
    bool strict = false;             // fail when any filter could not be measured
    std::vector<FilterSpec> filters; // the floor first
};

void lo_usage(const char* prog)
{
    std::fprintf(
        stderr,
        "Usage: %s --inputs DIR --out DIR [--rounds N] [--target-ms MS] [--smoke] [--strict]\n"
        "         --floor PROGRAM {--filter NAME --program PROGRAM [--ppd PPD]\n"
        "         [--form SUFFIX] [--args cups|options] [--peer]}...\n",
        prog);
}

bool lo_parse(int argc, char** argv, Options& o)
{
    FilterSpec floor;
    floor.name = floor_filter_name;
    std::vector<FilterSpec> others;
    for (int i = 1; i < argc; ++i)
    {
        const std::string a = argv[i];
        if (a == "--smoke" || a == "--strict")
        {
            (a == "--smoke" ? o.smoke : o.strict) = true;
            continue;
        }
        if (a == "--peer")
        {
            if (others.empty())
                return false;
            others.back().peer = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        const std::string v = argv[++i];
        if (a == "--inputs")
            o.inputs = v;
        else if (a == "--out")
            o.out = v;
        else if (a == "--rounds")
            o.rounds = unsigned(std::max(1L, std::strtol(v.c_str(), nullptr, 10)));
        else if (a == "--target-ms")
            o.target_s = std::max(1.0, std::strtod(v.c_str(), nullptr)) / 1e3;
        else if (a == "--floor")
            floor.program = v;
        else if (a == "--filter")
        {
            others.push_back({});
            others.back().name = v;
        }
        else if (others.empty())
            return false;
        else if (a == "--program")
            others.back().program = v;
        else if (a == "--ppd")
            others.back().ppd = v;
        else if (a == "--form")
            others.back().form = v;
        else if (a == "--args" && (v == "options" || v == "cups"))
            others.back().options_only = v == "options";
        else
            return false;
    }
    o.filters.push_back(floor);
    o.filters.insert(o.filters.end(), others.begin(), others.end());
    return !o.inputs.empty() && !o.out.empty() && !floor.program.empty();
}

bool lo_exists(const char* path)
{
    struct stat st;
    return lstat(path, &st) == 0;
}

std::string lo_machine()
{
    std::string cpu;
    std::ifstream info("/proc/cpuinfo");
    for (std::string line; std::getline(info, line);)
        if (line.rfind("model name", 0) == 0)
        {
            cpu = line.substr(line.find(':') + 2);
            break;
        }
    utsname u{};
    uname(&u);
    return cpu + ", " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " CPUs, " + u.sysname +
           " " + u.release;
}

// The 1, 5 and 15 minute load averages: other work on the machine stretches
// wall times (CPU times much less).
std::string lo_load()
{
    std::ifstream in("/proc/loadavg");
    double a = 0, b = 0, c = 0;
    in >> a >> b >> c;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f %.2f %.2f", a, b, c);
    return buf;
}

ProbeRequest lo_request(const Options& o, const FilterSpec& f, const std::string& input,
                        const std::string& raster)
{
    ProbeRequest r;
    r.argv.push_back(f.program);
    if (!f.options_only)
        for (const char* a : {"1", "bench", input.c_str(), "1"})
            r.argv.push_back(a);
    r.argv.push_back("");
    const std::string tmp = o.out + "/tmp";
    r.env = {"PATH=/usr/bin:/bin",
             "LANG=C",
             "CHARSET=utf-8",
             "HOME=" + tmp,
             "TMPDIR=" + tmp,
             "PRINTER=bench",
             "CONTENT_TYPE=application/vnd.cups-raster",
             "DEVICE_URI=file:/dev/null",
             "CUPS_SERVERBIN=/usr/lib/cups",
             "CUPS_DATADIR=/usr/share/cups"};
    if (!f.ppd.empty())
        r.env.push_back("PPD=" + f.ppd);
    r.stdin_path = raster;
    r.stderr_path = o.out + "/stderr/" + input + "-" + f.name + ".txt";
    return r;
}

// Why a run does not count, or "" when it does.
std::string lo_run_problem(const ProbeResult& r)
{
    if (!r.started)
        return r.failure;
    if (r.term_signal)
        return "killed by signal " + std::to_string(r.term_signal);
    if (r.exit_code != 0)
        return "exit status " + std::to_string(r.exit_code);
    return "";
}

// Waits up to max_s seconds for the print monitor's pipe to go away (another
// program on this machine may be playing the monitor for a while).
bool lo_monitor_gone(double max_s)
{
    for (double waited = 0; lo_exists(monitor_request_fifo); waited += 0.05)
    {
        if (waited >= max_s)
            return false;
        usleep(50000);
    }
    return true;
}

// One batch of runs reduced to per-run figures. For rastertoqel, monitor is
// set when the print monitor's pipe showed up around a run: the batch is
// then not a stand-alone measurement and is to be repeated.
std::string lo_batch(const ProbeRequest& req, unsigned runs, bool is_qel, RoundSample& out,
                     bool& monitor)
{
    std::vector<double> first;
    double wall = 0, cpu = 0;
    out = {};
    monitor = false;
    for (unsigned k = 0; k < runs; ++k)
    {
        if (is_qel && !lo_monitor_gone(0))
            monitor = true;
        const ProbeResult r = monitor ? ProbeResult{} : probe_run(req);
        if (is_qel && lo_exists(monitor_request_fifo))
            monitor = true;
        if (monitor)
            return std::string("print monitor pipe ") + monitor_request_fifo + " present";
        if (std::string p = lo_run_problem(r); !p.empty())
            return p;
        if (k > 0 && r.out_bytes != out.out_bytes)
            return "output size differs between runs";
        wall += r.wall_s;
        cpu += r.user_s + r.sys_s;
        out.max_rss_kib = std::max(out.max_rss_kib, r.max_rss_kib);
        out.out_bytes = r.out_bytes;
        if (r.first_byte_s >= 0)
            first.push_back(r.first_byte_s);
    }
    out.wall_s = wall / runs;
    out.cpu_s = cpu / runs;
    out.first_byte_s = first.size() == runs ? median(first) : -1;
    return "";
}

std::string lo_describe(const InputSpec& in)
{
    unsigned long lines = 0;
    for (const auto& p : in.pages)
        lines += p.height_lines;
    std::ostringstream s;
    s << in.pages.size() << (in.pages.size() == 1 ? " page, " : " pages, ") << lines << " lines";
    return s.str();
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!lo_parse(argc, argv, o))
    {
        lo_usage(argv[0]);
        return 2;
    }
    mkdir(o.out.c_str(), 0755);
    mkdir((o.out + "/tmp").c_str(), 0755);
    mkdir((o.out + "/stderr").c_str(), 0755);
    if (o.smoke)
        o.rounds = std::min(o.rounds, 2u);

    std::cout << "Filter benchmark on " << lo_machine() << "; load average " << lo_load() << "\n";
    if (lo_exists(monitor_request_fifo))
        std::cout << "WARNING: " << monitor_request_fifo
                  << " exists; rastertoqel rounds are dropped while it does\n";

    std::vector<Summary> rows;
    std::vector<std::string> notes;
    for (const InputSpec& input : benchmark_inputs(o.smoke))
    {
        const std::string name(input.name);
        // The filters that read this input, and whether each is usable.
        std::vector<const FilterSpec*> filters;
        std::vector<std::string> problems;
        std::vector<std::string> forms;
        for (const FilterSpec& f : o.filters)
        {
            if (f.peer && !input.with_peers)
                continue;
            const InputForm* form = find_input_form(f.form);
            filters.push_back(&f);
            forms.push_back(form ? (form->note.empty() ? "1-bit K" : std::string(form->note))
                                 : f.form);
            if (f.options_only)
                forms.back() += "; argv=options";
            if (!form)
                problems.push_back("unknown input form " + f.form);
            else if (access(f.program.c_str(), X_OK) != 0)
                problems.push_back(f.program + " not found");
            else
                problems.push_back("");
        }
        auto raster = [&](std::size_t i)
        { return input_path(o.inputs, input.name, *find_input_form(filters[i]->form)); };
        // Warm-up: one run of each (page cache, loader), which also shows
        // whether the filter takes this input at all.
        for (std::size_t i = 0; i < filters.size(); ++i)
            if (problems[i].empty())
            {
                if (filters[i]->name == qel_filter_name)
                    lo_monitor_gone(120);
                problems[i] =
                    lo_run_problem(probe_run(lo_request(o, *filters[i], name, raster(i))));
            }

        // Batch size: enough runs of the floor to fill the target time.
        unsigned runs = 1;
        if (!o.smoke && problems[0].empty())
        {
            double best = 1e9;
            for (int k = 0; k < 3; ++k)
                best =
                    std::min(best, probe_run(lo_request(o, *filters[0], name, raster(0))).wall_s);
            runs = unsigned(std::clamp(std::ceil(o.target_s / std::max(best, 1e-4)), 1.0, 200.0));
        }
        std::cerr << "[bench] " << name << " (" << lo_describe(input) << "): " << o.rounds
                  << " rounds x " << runs << " runs\n";

        std::vector<std::vector<RoundSample>> samples(filters.size());
        for (unsigned round = 0; round < o.rounds; ++round)
            for (std::size_t j = 0; j < filters.size(); ++j)
            {
                // Each round starts with another filter, so that none always
                // runs right after the same neighbour.
                const std::size_t i = (j + round) % filters.size();
                if (!problems[i].empty())
                    continue;
                RoundSample s;
                bool monitor = false;
                std::string p;
                // A batch that met the print monitor's pipe is run again
                // once the pipe is gone.
                for (int attempt = 0; attempt < 5; ++attempt)
                {
                    p = lo_batch(lo_request(o, *filters[i], name, raster(i)), runs,
                                 filters[i]->name == qel_filter_name, s, monitor);
                    if (!monitor || !lo_monitor_gone(120))
                        break;
                }
                if (p.empty())
                    samples[i].push_back(s);
                else
                    notes.push_back(name + "/" + filters[i]->name + " round " +
                                    std::to_string(round + 1) + " dropped: " + p);
            }
        for (std::size_t i = 0; i < filters.size(); ++i)
        {
            Summary s = summarize(name, filters[i]->name, forms[i], runs, samples[i]);
            s.detail = lo_describe(input);
            if (!problems[i].empty())
                s.problem = problems[i];
            rows.push_back(s);
        }
    }

    print_table(std::cout, rows);
    std::cout << "\nload average at the end: " << lo_load() << '\n';
    print_goals(std::cout, check_goals(rows, {}));
    for (const std::string& n : notes)
        std::cout << "note: " << n << '\n';
    const std::string csv = o.out + "/filter_bench.csv";
    std::ofstream csv_out(csv);
    write_csv(csv_out, rows);
    csv_out.close();
    std::cout << "\nCSV: " << csv << '\n';
    if (!csv_out)
    {
        std::cerr << "qel_filter_bench: cannot write " << csv << '\n';
        return 1;
    }
    if (o.strict)
        for (const Summary& s : rows)
            if (!s.problem.empty())
            {
                std::cerr << "qel_filter_bench: " << s.filter << " on " << s.input
                          << " not measured: " << s.problem << '\n';
                return 1;
            }
    return 0;
}
