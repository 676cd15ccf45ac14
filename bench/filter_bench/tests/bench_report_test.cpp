// Medians, ratios, the CSV file and the goal check of the filter benchmark.
#include "bench_report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using namespace qel_bench;

namespace
{

Summary row(const std::string& input, const std::string& filter, double wall_ms, double first_ms,
            double rss_kib, uint64_t bytes)
{
    Summary s;
    s.input = input;
    s.filter = filter;
    s.rounds = 5;
    s.runs_per_round = 1;
    s.wall_s = wall_ms / 1e3;
    s.cpu_s = wall_ms / 2e3;
    s.first_byte_s = first_ms < 0 ? -1 : first_ms / 1e3;
    s.max_rss_kib = rss_kib;
    s.out_bytes = bytes;
    return s;
}

// A run in which rastertoqel meets every goal.
std::vector<Summary> good_run()
{
    return {
        row("receipt", "floor", 4.0, -1, 7000, 0),
        row("receipt", "rastertoqel", 5.0, 1.0, 7100, 40000),
        row("receipt", "rastertolabel", 12.0, 8.0, 7500, 77820),
        row("long", "floor", 24.0, -1, 7000, 0),
        row("long", "rastertoqel", 30.0, 1.0, 7600, 500000),
        row("long", "rastertolabel", 60.0, 8.0, 7500, 893421),
        row("long500k", "floor", 160.0, -1, 6900, 0),
        row("long500k", "rastertoqel", 200.0, 1.0, 7150, 5000000),
    };
}

GoalResult::State state_of(const std::vector<GoalResult>& goals, const std::string& start)
{
    for (const GoalResult& g : goals)
        if (g.goal.rfind(start, 0) == 0)
            return g.state;
    ADD_FAILURE() << "no goal " << start;
    return GoalResult::unknown;
}

Summary& find(std::vector<Summary>& rows, const std::string& input, const std::string& filter)
{
    for (Summary& s : rows)
        if (s.input == input && s.filter == filter)
            return s;
    throw std::runtime_error("no row");
}

} // namespace

TEST(BenchReport, Median)
{
    EXPECT_EQ(median({}), 0.0);
    EXPECT_EQ(median({7.0}), 7.0);
    EXPECT_EQ(median({9.0, 1.0, 5.0}), 5.0);
    EXPECT_EQ(median({4.0, 1.0, 3.0, 100.0}), 3.5);
}

TEST(BenchReport, SummaryTakesMediansOfRounds)
{
    const std::vector<RoundSample> rounds{{0.030, 0.002, 0.020, 7000, 10},
                                          {0.010, 0.004, 0.010, 9000, 10},
                                          {0.020, 0.003, 0.050, 8000, 10}};
    const Summary s = summarize("receipt", "rastertoqel", "1-bit K", 4, rounds);
    EXPECT_TRUE(s.problem.empty());
    EXPECT_EQ(s.rounds, 3u);
    EXPECT_DOUBLE_EQ(s.wall_s, 0.020);
    EXPECT_DOUBLE_EQ(s.first_byte_s, 0.003);
    EXPECT_DOUBLE_EQ(s.cpu_s, 0.020);
    EXPECT_DOUBLE_EQ(s.max_rss_kib, 8000);
    EXPECT_EQ(s.out_bytes, 10u);
}

TEST(BenchReport, SummaryFlagsMissingOrUnsteadyData)
{
    EXPECT_FALSE(summarize("r", "f", "", 1, {}).problem.empty());
    const Summary unsteady =
        summarize("r", "f", "", 1, {{0.01, 0.001, 0.01, 1, 10}, {0.01, 0.001, 0.01, 1, 11}});
    EXPECT_FALSE(unsteady.problem.empty());
    // One round without output: no first-byte figure at all.
    const Summary silent =
        summarize("r", "f", "", 1, {{0.01, 0.001, 0.01, 1, 0}, {0.01, -1, 0.01, 1, 0}});
    EXPECT_EQ(silent.first_byte_s, -1.0);
}

TEST(BenchReport, RatiosAreQelOverTheOther)
{
    const Summary q = row("r", "rastertoqel", 5.0, 1, 7000, 300);
    const Summary p = row("r", "peer", 20.0, 1, 14000, 600);
    const Ratios r = qel_ratios(q, p);
    EXPECT_DOUBLE_EQ(r.wall, 0.25);
    EXPECT_DOUBLE_EQ(r.cpu, 0.25);
    EXPECT_DOUBLE_EQ(r.rss, 0.5);
    EXPECT_DOUBLE_EQ(r.bytes, 0.5);
    Summary broken = p;
    broken.problem = "exit status 1";
    EXPECT_TRUE(std::isnan(qel_ratios(q, broken).wall));
    // The floor writes nothing: no byte ratio against it.
    EXPECT_TRUE(std::isnan(qel_ratios(q, row("r", "floor", 4, -1, 7000, 0)).bytes));
}

TEST(BenchReport, AllGoalsMet)
{
    const auto goals = check_goals(good_run(), {});
    ASSERT_EQ(goals.size(), 6u);
    for (const GoalResult& g : goals)
        EXPECT_EQ(g.state, GoalResult::met) << g.goal << ": " << g.measured;
}

TEST(BenchReport, EachGoalFailsOnItsOwnFigure)
{
    struct Case
    {
        const char* goal;
        void (*spoil)(std::vector<Summary>&);
    };
    const Case cases[] = {
        {"wall time", [](auto& r) { find(r, "long", "rastertoqel").wall_s = 0.0313; }},
        {"first byte", [](auto& r) { find(r, "receipt", "rastertoqel").first_byte_s = 0.0201; }},
        {"faster", [](auto& r) { find(r, "receipt", "rastertolabel").wall_s = 0.005; }},
        {"fewer", [](auto& r) { find(r, "receipt", "rastertoqel").out_bytes = 77820; }},
        {"peak RSS on the long",
         [](auto& r) { find(r, "long", "rastertoqel").max_rss_kib = 8025; }},
        {"peak RSS of a very",
         [](auto& r) { find(r, "long500k", "rastertoqel").max_rss_kib = 7165; }},
    };
    for (const Case& c : cases)
    {
        auto rows = good_run();
        c.spoil(rows);
        const auto goals = check_goals(rows, {});
        for (const GoalResult& g : goals)
            EXPECT_EQ(g.state, g.goal.rfind(c.goal, 0) == 0 ? GoalResult::not_met : GoalResult::met)
                << "spoiling '" << c.goal << "', goal " << g.goal << ": " << g.measured;
    }
}

TEST(BenchReport, GoalsWithoutTheFilterAreUnknown)
{
    std::vector<Summary> rows;
    for (const Summary& s : good_run())
        if (s.filter != "rastertoqel")
            rows.push_back(s);
    for (const GoalResult& g : check_goals(rows, {}))
        EXPECT_EQ(g.state, GoalResult::unknown) << g.goal;
    // An invalid rastertoqel row counts as missing, not as a result.
    auto broken = good_run();
    find(broken, "receipt", "rastertoqel").problem = "killed by signal 11";
    EXPECT_EQ(state_of(check_goals(broken, {}), "first byte"), GoalResult::unknown);
}

TEST(BenchReport, CsvHasOneLinePerRowAndQuotesFields)
{
    auto rows = good_run();
    rows[2].note = "8-bit RGB, \"as asked\"";
    rows[3].problem = "exit status 1";
    std::ostringstream out;
    write_csv(out, rows);
    std::istringstream in(out.str());
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    ASSERT_EQ(lines.size(), rows.size() + 1);
    EXPECT_EQ(lines[0].rfind("input,detail,filter,", 0), 0u);
    // The floor row of the receipt: qel/floor wall 5/4.
    EXPECT_NE(lines[1].find(",4.000,-,2.000,7000,0,1.2500,"), std::string::npos) << lines[1];
    EXPECT_NE(lines[3].find("\"8-bit RGB, \"\"as asked\"\"\""), std::string::npos) << lines[3];
    EXPECT_NE(lines[4].find("exit status 1"), std::string::npos) << lines[4];
    EXPECT_EQ(lines[4].find("24.000"), std::string::npos) << lines[4];
}

TEST(BenchReport, TableShowsWhyARowWasNotMeasured)
{
    auto rows = good_run();
    rows[2].problem = "/usr/lib/cups/filter/rastertolabel not found";
    std::ostringstream out;
    print_table(out, rows);
    EXPECT_NE(out.str().find("not measured: /usr/lib/cups/filter/rastertolabel not found"),
              std::string::npos);
    EXPECT_NE(out.str().find("== long500k"), std::string::npos);
}
