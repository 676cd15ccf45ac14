// log_file.cpp - one time-stamped, column-aligned line appended per call.
#include "Qel_Tb.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace
{
constexpr std::size_t lo_line_size = 1024;
constexpr std::size_t lo_stamp_size = 50;
constexpr int lo_text_columns = 100;
} // namespace

extern "C" void qel_tb_write_log_file(const char* file, const char* text, const char* status)
{
    if (file == nullptr)
        return;

    std::time_t now = std::time(nullptr);
    struct tm local;
    tzset();
    if (localtime_r(&now, &local) == nullptr)
        return;

    char stamp[lo_stamp_size];
    std::snprintf(stamp, sizeof stamp, "[%2.2d.%2.2d.%d_%2.2d:%2.2d:%2.2d] : ", local.tm_mday,
                  local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min,
                  local.tm_sec);

    // The line must fit its buffer with its line feed; an over-long status
    // word is cut rather than letting the line lose its end.
    const char* word = status != nullptr ? status : " ";
    const std::size_t fixed = std::strlen(stamp) + lo_text_columns + 1 + 1 + 1;
    const int room = fixed < lo_line_size ? static_cast<int>(lo_line_size - fixed - 1) : 0;

    char line[lo_line_size];
    const int length = std::snprintf(line, sizeof line, "%s%-100.100s %.*s\n", stamp,
                                     text != nullptr ? text : "", room, word);
    if (length < 0)
        return;

    std::FILE* stream = std::fopen(file, "a+");
    if (stream == nullptr)
        return;
    std::fputs(line, stream);
    std::fclose(stream);
}
