// Replays fuzz inputs without libFuzzer: every file named on the command line,
// or found (not recursively) in a directory named there, is fed once to the
// target.  Each input gets a heap copy of exactly its size so that
// AddressSanitizer sees any read past its end.
#include "fuzz_check.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace
{

bool lo_replay_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
    {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    auto copy = std::make_unique<unsigned char[]>(bytes.size() + (bytes.empty() ? 1 : 0));
    std::copy(bytes.begin(), bytes.end(), copy.get());
    LLVMFuzzerTestOneInput(copy.get(), bytes.size());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i)
    {
        const std::filesystem::path arg(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(arg, ec))
        {
            for (const auto& entry : std::filesystem::directory_iterator(arg))
            {
                if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                {
                    files.push_back(entry.path());
                }
            }
        }
        else if (std::filesystem::exists(arg, ec))
        {
            files.push_back(arg);
        }
    }
    std::sort(files.begin(), files.end());
    if (files.empty())
    {
        std::fprintf(stderr, "no inputs to replay\n");
        return 1;
    }
    for (const auto& file : files)
    {
        if (!lo_replay_file(file))
        {
            return 1;
        }
    }
    std::printf("replayed %zu inputs\n", files.size());
    return 0;
}
