// Figures of the filter benchmark: per-round samples, medians, the table, the
// CSV file and the check of the performance goals.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace qel_bench
{

// Names the report treats specially.
inline constexpr const char* qel_filter_name = "rastertoqel";
inline constexpr const char* floor_filter_name = "floor";

// One round of one filter on one input: a batch of back-to-back runs,
// reduced to per-run figures.
struct RoundSample
{
    double wall_s = 0;        // batch wall time / runs
    double first_byte_s = -1; // median over the batch; -1 when nothing came out
    double cpu_s = 0;         // user + system over the batch / runs
    long max_rss_kib = 0;     // largest peak of the batch
    uint64_t out_bytes = 0;   // output of one run
};

// Median of the values; the mean of the two middle ones for an even count,
// 0 for none.
double median(std::vector<double> values);

// The figures of one filter on one input.
struct Summary
{
    std::string input;
    std::string detail; // what the input holds (pages, lines)
    std::string filter;
    std::string note; // e.g. the input form the filter was given
    unsigned rounds = 0;
    unsigned runs_per_round = 0;
    double wall_s = 0; // medians over the rounds
    double first_byte_s = -1;
    double cpu_s = 0;
    double max_rss_kib = 0;
    uint64_t out_bytes = 0;
    std::string problem; // non-empty: the figures are not valid (why)
};

Summary summarize(const std::string& input, const std::string& filter, const std::string& note,
                  unsigned runs_per_round, const std::vector<RoundSample>& rounds);

// rastertoqel's figure divided by another filter's on the same input; the
// comparison is meaningless (NaN) when either side is missing or invalid.
struct Ratios
{
    double wall, cpu, rss, bytes;
};
Ratios qel_ratios(const Summary& qel, const Summary& other);

// The table on standard output (one block per input) and the CSV file.
void print_table(std::ostream& out, const std::vector<Summary>& rows);
void write_csv(std::ostream& out, const std::vector<Summary>& rows);

// One goal of the filter, measured.
struct GoalResult
{
    std::string goal;
    std::string measured;
    enum State
    {
        met,
        not_met,
        unknown, // a needed figure is missing
    } state;
};

// Names of the inputs the goals refer to.
struct GoalInputs
{
    std::string receipt = "receipt";    // single-copy receipt: first byte, bytes
    std::string long_page = "long";     // memory against the floor
    std::string short_page = "receipt"; // memory independent of length: short ...
    std::string huge_page = "long500k"; // ... and very long page
};

std::vector<GoalResult> check_goals(const std::vector<Summary>& rows, const GoalInputs& names);
void print_goals(std::ostream& out, const std::vector<GoalResult>& goals);

} // namespace qel_bench
