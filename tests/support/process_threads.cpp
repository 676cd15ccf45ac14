// process_threads.cpp - counts /proc/self/task once it holds still.
#include "process_threads.h"

#include <chrono>
#include <dirent.h>
#include <thread>

namespace test_support
{
namespace
{
int count_entries(const char* path)
{
    int count = 0;
    if (DIR* dir = opendir(path))
    {
        while (const dirent* entry = readdir(dir))
        {
            if (entry->d_name[0] != '.')
                ++count;
        }
        closedir(dir);
    }
    return count;
}
} // namespace

int thread_count()
{
    // Counted once the number has stayed the same for 50 ms (at most about 2 s).
    int last = count_entries("/proc/self/task");
    for (int tries = 0; tries < 40; ++tries)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const int now = count_entries("/proc/self/task");
        if (now == last)
            break;
        last = now;
    }
    return last;
}

} // namespace test_support
