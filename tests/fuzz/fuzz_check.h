// Checks inside fuzz targets: a failed property aborts, so that libFuzzer (or
// the replay program) reports the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#define FUZZ_CHECK(cond)                                                                           \
    do                                                                                             \
    {                                                                                              \
        if (!(cond))                                                                               \
        {                                                                                          \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);    \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size);

// A scratch file of this process under $TMPDIR: qel_fuzz_<stem>_<pid>.
inline std::string fuzz_scratch_path(const std::string& stem)
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr && *dir != 0 ? dir : "/tmp") + "/qel_fuzz_" + stem + "_" +
           std::to_string(getpid());
}

// Writes the input to `path`; false when the file could not be written whole.
inline bool fuzz_write_file(const std::string& path, const unsigned char* data, std::size_t size)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
    {
        return false;
    }
    const bool written = std::fwrite(data, 1, size, f) == size;
    std::fclose(f);
    return written;
}
