// qel_bench_rastergen: writes the benchmark's raster inputs into a directory,
// once. Usage: qel_bench_rastergen OUTDIR [--smoke]
#include "bench_inputs.h"
#include "raster_job_writer.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

using namespace qel_bench;

namespace
{

bool lo_file_exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string lo_read_file(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3 || (argc == 3 && std::strcmp(argv[2], "--smoke") != 0))
    {
        std::fprintf(stderr, "Usage: %s OUTDIR [--smoke]\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const bool smoke = argc == 3;
    mkdir(dir.c_str(), 0755);

    // The stamp names the generator's version and mode: inputs that match it
    // are kept, so the streams are written once per build tree.
    const std::string stamp_path = dir + "/inputs.stamp";
    const std::string stamp = std::string(input_set_version) + (smoke ? " smoke\n" : " full\n");
    bool complete = lo_read_file(stamp_path) == stamp;
    for (const auto& input : benchmark_inputs(smoke))
        for (const auto& form : input_forms())
            if (input.with_peers || form.suffix == own_form_suffix)
                complete = complete && lo_file_exists(input_path(dir, input.name, form));
    if (complete)
    {
        std::printf("raster inputs in %s are up to date\n", dir.c_str());
        return 0;
    }
    std::remove(stamp_path.c_str());
    for (const auto& input : benchmark_inputs(smoke))
        for (const auto& form : input_forms())
        {
            if (!input.with_peers && form.suffix != own_form_suffix)
                continue; // only the receipt printer's own form
            const std::string path = input_path(dir, input.name, form);
            const std::string failure = write_raster_job(path, input, form.form);
            if (!failure.empty())
            {
                std::fprintf(stderr, "qel_bench_rastergen: %s\n", failure.c_str());
                return 1;
            }
            std::printf("wrote %s\n", path.c_str());
        }
    std::ofstream(stamp_path) << stamp;
    return 0;
}
