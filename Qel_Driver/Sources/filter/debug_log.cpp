// The filter's debug log under /tmp.
#include "debug_log.h"

#include "Qel_Tb.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

char ub_log_file[QEL_LOG_PATH_SIZE] = "";

} // namespace

bool debug_log_create(const char* path)
{
    if (path == nullptr || *path == '\0')
    {
        return false;
    }
    // /tmp is shared: never follow a link planted at the log's name, and
    // take over an existing file only when it is our own plain file.
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
    {
        fd = open(path, O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
        {
            return false;
        }
        struct stat st;
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
            st.st_nlink != 1)
        {
            close(fd);
            return false;
        }
    }
    // Readable by the filter's group (the print system's own users), written
    // only by the filter; the mode is set on the descriptor, not through the
    // name.
    const bool f_ok = fchmod(fd, 0640) == 0;
    close(fd);
    return f_ok;
}

void debug_log_start()
{
    if (f_log_file != 1)
    {
        return;
    }
    const time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) == nullptr)
    {
        return;
    }
    char path[QEL_LOG_PATH_SIZE];
    std::snprintf(path, sizeof path, "/tmp/Qel_Raster-%2.2d-%2.2d-%d_%2.2d:%2.2d:%2.2d.log",
                  local.tm_mday, local.tm_mon + 1, local.tm_year + 1900, local.tm_hour,
                  local.tm_min, local.tm_sec);
    if (!debug_log_create(path))
    {
        return;
    }
    std::snprintf(ub_log_file, sizeof ub_log_file, "%s", path);

    const std::string rule(113, '=');
    qel_tb_write_log_file(ub_log_file, rule.c_str(), nullptr);
    qel_tb_write_log_file(
        ub_log_file, "                                    QEL NEW DRIVER RASTER LOG FILE", nullptr);
    qel_tb_write_log_file(ub_log_file, rule.c_str(), nullptr);
}

const char* debug_log_path()
{
    return ub_log_file;
}

void debug_log(const char* text, const char* status)
{
    if (f_log_file == 1 && ub_log_file[0] != '\0')
    {
        qel_tb_write_log_file(ub_log_file, text, status);
    }
}

void debug_logf(const char* status, const char* format, ...)
{
    if (f_log_file != 1 || ub_log_file[0] == '\0')
    {
        return;
    }
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    qel_tb_write_log_file(ub_log_file, text, status);
}
