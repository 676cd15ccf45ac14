// Figures of the filter benchmark: medians, table, CSV and goal check.
#include "bench_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <ostream>
#include <sstream>

namespace qel_bench
{
namespace
{

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

bool lo_valid(const Summary& s)
{
    return s.problem.empty() && s.rounds > 0;
}

double lo_ratio(double a, double b)
{
    return b > 0 ? a / b : nan;
}

std::string lo_fixed(double v, int decimals)
{
    if (std::isnan(v))
        return "-";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

// The rows of one input, in the order they were measured, and its qel row.
struct InputBlock
{
    std::vector<const Summary*> rows;
    const Summary* qel = nullptr;
    const Summary* floor = nullptr;
};

std::vector<std::pair<std::string, InputBlock>> lo_blocks(const std::vector<Summary>& rows)
{
    std::vector<std::pair<std::string, InputBlock>> blocks;
    for (const Summary& s : rows)
    {
        auto it = std::find_if(blocks.begin(), blocks.end(),
                               [&](const auto& b) { return b.first == s.input; });
        if (it == blocks.end())
        {
            blocks.push_back({s.input, {}});
            it = blocks.end() - 1;
        }
        it->second.rows.push_back(&s);
        if (s.filter == qel_filter_name)
            it->second.qel = &s;
        if (s.filter == floor_filter_name)
            it->second.floor = &s;
    }
    return blocks;
}

bool lo_is_peer(const Summary& s)
{
    return s.filter != qel_filter_name && s.filter != floor_filter_name;
}

std::string lo_csv_field(const std::string& v)
{
    if (v.find_first_of(",\"\n") == std::string::npos)
        return v;
    std::string q = "\"";
    for (char c : v)
        q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

} // namespace

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

Summary summarize(const std::string& input, const std::string& filter, const std::string& note,
                  unsigned runs_per_round, const std::vector<RoundSample>& rounds)
{
    Summary s;
    s.input = input;
    s.filter = filter;
    s.note = note;
    s.rounds = unsigned(rounds.size());
    s.runs_per_round = runs_per_round;
    if (rounds.empty())
    {
        s.problem = "no valid round";
        return s;
    }
    std::vector<double> wall, first, cpu, rss;
    bool all_first = true;
    for (const RoundSample& r : rounds)
    {
        wall.push_back(r.wall_s);
        cpu.push_back(r.cpu_s);
        rss.push_back(double(r.max_rss_kib));
        if (r.first_byte_s < 0)
            all_first = false;
        else
            first.push_back(r.first_byte_s);
        if (r.out_bytes != rounds.front().out_bytes)
            s.problem = "output size differs between rounds";
    }
    s.wall_s = median(wall);
    s.cpu_s = median(cpu);
    s.max_rss_kib = median(rss);
    s.first_byte_s = all_first ? median(first) : -1;
    s.out_bytes = rounds.front().out_bytes;
    return s;
}

Ratios qel_ratios(const Summary& qel, const Summary& other)
{
    if (!lo_valid(qel) || !lo_valid(other))
        return {nan, nan, nan, nan};
    return {lo_ratio(qel.wall_s, other.wall_s), lo_ratio(qel.cpu_s, other.cpu_s),
            lo_ratio(qel.max_rss_kib, other.max_rss_kib),
            lo_ratio(double(qel.out_bytes), double(other.out_bytes))};
}

void print_table(std::ostream& out, const std::vector<Summary>& rows)
{
    char line[320];
    for (const auto& [input, block] : lo_blocks(rows))
    {
        const Summary& first = *block.rows.front();
        out << "\n== " << input;
        if (!first.detail.empty())
            out << ", " << first.detail;
        out << "  (per run: medians over rounds of " << first.runs_per_round
            << " runs; ratios are rastertoqel / that row)\n";
        std::snprintf(line, sizeof line, "%-14s %-22s %6s %9s %9s %9s %9s %11s | %6s %6s %6s %6s\n",
                      "filter", "input form", "rounds", "wall ms", "1st B ms", "CPU ms", "RSS KiB",
                      "out bytes", "wall", "CPU", "RSS", "bytes");
        out << line;
        for (const Summary* s : block.rows)
        {
            if (!lo_valid(*s))
            {
                std::snprintf(line, sizeof line, "%-14s %-22s %s\n", s->filter.c_str(),
                              s->note.c_str(), ("not measured: " + s->problem).c_str());
                out << line;
                continue;
            }
            const Ratios r = block.qel ? qel_ratios(*block.qel, *s) : Ratios{nan, nan, nan, nan};
            const bool self = s == block.qel;
            std::snprintf(
                line, sizeof line, "%-14s %-22s %6u %9s %9s %9s %9.0f %11llu | %6s %6s %6s %6s\n",
                s->filter.c_str(), s->note.c_str(), s->rounds, lo_fixed(s->wall_s * 1e3, 2).c_str(),
                s->first_byte_s < 0 ? "-" : lo_fixed(s->first_byte_s * 1e3, 2).c_str(),
                lo_fixed(s->cpu_s * 1e3, 2).c_str(), s->max_rss_kib,
                static_cast<unsigned long long>(s->out_bytes),
                self ? "" : lo_fixed(r.wall, 2).c_str(), self ? "" : lo_fixed(r.cpu, 2).c_str(),
                self ? "" : lo_fixed(r.rss, 2).c_str(),
                self || !s->out_bytes ? "" : lo_fixed(r.bytes, 2).c_str());
            out << line;
        }
    }
}

void write_csv(std::ostream& out, const std::vector<Summary>& rows)
{
    out << "input,detail,filter,input_form,rounds,runs_per_round,wall_ms,first_byte_ms,cpu_ms,"
           "max_rss_kib,out_bytes,qel_wall_ratio,qel_cpu_ratio,qel_rss_ratio,qel_bytes_ratio,"
           "problem\n";
    for (const auto& [input, block] : lo_blocks(rows))
        for (const Summary* s : block.rows)
        {
            const bool ok = lo_valid(*s);
            const Ratios r = block.qel && block.qel != s ? qel_ratios(*block.qel, *s)
                                                         : Ratios{nan, nan, nan, nan};
            auto num = [&](double v, int d) { return ok ? lo_fixed(v, d) : std::string("-"); };
            auto ratio = [](double v) { return std::isnan(v) ? std::string() : lo_fixed(v, 4); };
            out << lo_csv_field(s->input) << ',' << lo_csv_field(s->detail) << ','
                << lo_csv_field(s->filter) << ',' << lo_csv_field(s->note) << ',' << s->rounds
                << ',' << s->runs_per_round << ',' << num(s->wall_s * 1e3, 3) << ','
                << (ok && s->first_byte_s >= 0 ? lo_fixed(s->first_byte_s * 1e3, 3) : "-") << ','
                << num(s->cpu_s * 1e3, 3) << ',' << num(s->max_rss_kib, 0) << ','
                << (ok ? std::to_string(s->out_bytes) : "-") << ',' << ratio(r.wall) << ','
                << ratio(r.cpu) << ',' << ratio(r.rss) << ',' << ratio(r.bytes) << ','
                << lo_csv_field(s->problem) << '\n';
        }
}

std::vector<GoalResult> check_goals(const std::vector<Summary>& rows, const GoalInputs& names)
{
    const auto blocks = lo_blocks(rows);
    auto find = [&](const std::string& input, const std::string& filter) -> const Summary*
    {
        for (const Summary& s : rows)
            if (s.input == input && s.filter == filter && lo_valid(s))
                return &s;
        return nullptr;
    };
    std::vector<GoalResult> goals;

    // Wall time against the libcups read floor, every input.
    {
        GoalResult g{"wall time <= 1.3 x floor on every input", "", GoalResult::unknown};
        bool any = false, all = true;
        for (const auto& [input, block] : blocks)
        {
            const Summary* q = find(input, qel_filter_name);
            const Summary* f = find(input, floor_filter_name);
            if (!q || !f)
                continue;
            const double r = lo_ratio(q->wall_s, f->wall_s);
            any = true;
            all = all && r <= 1.3;
            g.measured += (g.measured.empty() ? "" : ", ") + input + " " + lo_fixed(r, 2);
        }
        if (any)
            g.state = all ? GoalResult::met : GoalResult::not_met;
        goals.push_back(g);
    }
    // First printer byte of the single-copy receipt.
    {
        GoalResult g{"first byte of the receipt within 20 ms", "", GoalResult::unknown};
        if (const Summary* q = find(names.receipt, qel_filter_name); q && q->first_byte_s >= 0)
        {
            g.measured = lo_fixed(q->first_byte_s * 1e3, 2) + " ms";
            g.state = q->first_byte_s <= 0.020 ? GoalResult::met : GoalResult::not_met;
        }
        goals.push_back(g);
    }
    // Faster than every peer, every input.
    {
        GoalResult g{"faster than every peer on every input", "", GoalResult::unknown};
        bool any = false, all = true;
        for (const Summary& s : rows)
        {
            if (!lo_is_peer(s) || !lo_valid(s))
                continue;
            const Summary* q = find(s.input, qel_filter_name);
            if (!q)
                continue;
            any = true;
            const double r = lo_ratio(q->wall_s, s.wall_s);
            if (!(r < 1.0))
            {
                all = false;
                g.measured += (g.measured.empty() ? "slower: " : ", ") + s.input + "/" + s.filter +
                              " " + lo_fixed(r, 2);
            }
        }
        if (any)
        {
            g.state = all ? GoalResult::met : GoalResult::not_met;
            if (all)
                g.measured = "all wall ratios < 1";
        }
        goals.push_back(g);
    }
    // Fewer bytes than every peer on the typical receipt.
    {
        GoalResult g{"fewer output bytes than every peer on the receipt", "", GoalResult::unknown};
        const Summary* q = find(names.receipt, qel_filter_name);
        bool any = false, all = true;
        for (const Summary& s : rows)
        {
            if (!q || s.input != names.receipt || !lo_is_peer(s) || !lo_valid(s))
                continue;
            any = true;
            all = all && q->out_bytes < s.out_bytes;
            g.measured += (g.measured.empty() ? "" : ", ") + s.filter + " " +
                          lo_fixed(lo_ratio(double(q->out_bytes), double(s.out_bytes)), 3);
        }
        if (any)
            g.state = all ? GoalResult::met : GoalResult::not_met;
        goals.push_back(g);
    }
    // Peak memory of the long receipt against the floor.
    {
        GoalResult g{"peak RSS on the long receipt <= floor + 1 MiB", "", GoalResult::unknown};
        const Summary* q = find(names.long_page, qel_filter_name);
        const Summary* f = find(names.long_page, floor_filter_name);
        if (q && f)
        {
            const double extra = q->max_rss_kib - f->max_rss_kib;
            g.measured = lo_fixed(q->max_rss_kib, 0) + " KiB vs floor " +
                         lo_fixed(f->max_rss_kib, 0) + " KiB (" + lo_fixed(extra, 0) + " KiB more)";
            g.state = extra <= 1024 ? GoalResult::met : GoalResult::not_met;
        }
        goals.push_back(g);
    }
    // Peak memory independent of page length. RSS of the same program moves by
    // a few pages from run to run, so 64 KiB are allowed for that.
    {
        GoalResult g{"peak RSS of a very long page <= a short page's (within 64 KiB)", "",
                     GoalResult::unknown};
        const Summary* s = find(names.short_page, qel_filter_name);
        const Summary* h = find(names.huge_page, qel_filter_name);
        if (s && h)
        {
            g.measured = names.huge_page + " " + lo_fixed(h->max_rss_kib, 0) + " KiB vs " +
                         names.short_page + " " + lo_fixed(s->max_rss_kib, 0) + " KiB";
            g.state = h->max_rss_kib <= s->max_rss_kib + 64 ? GoalResult::met : GoalResult::not_met;
        }
        goals.push_back(g);
    }
    return goals;
}

void print_goals(std::ostream& out, const std::vector<GoalResult>& goals)
{
    out << "\nGoals of rastertoqel:\n";
    for (const GoalResult& g : goals)
    {
        const char* state = g.state == GoalResult::met       ? "MET    "
                            : g.state == GoalResult::not_met ? "NOT MET"
                                                             : "UNKNOWN";
        out << "  " << state << "  " << g.goal;
        if (!g.measured.empty())
            out << ": " << g.measured;
        out << '\n';
    }
}

} // namespace qel_bench
