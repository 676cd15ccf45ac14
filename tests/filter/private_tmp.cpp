// A private /tmp for the job tests, or a lock when there can be none.
#include "private_tmp.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sched.h>
#include <string>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qel_filter_test
{

namespace
{

std::string ub_private_dir;
int i_lock_fd = -1;

} // namespace

bool private_tmp_setup()
{
    const char* base = std::getenv("TMPDIR");
    // The private directory must not itself lie under the /tmp it hides.
    if (base == nullptr || std::strncmp(base, "/tmp", 4) == 0)
    {
        return false;
    }
    std::string pattern = std::string(base) + "/private-tmp.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
    {
        return false;
    }
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(pattern.c_str(), "/tmp", nullptr, MS_BIND, nullptr) != 0)
    {
        std::fprintf(stderr, "note: no private /tmp (%s); serialising on a lock file\n",
                     std::strerror(errno));
        rmdir(pattern.c_str());
        return false;
    }
    chmod("/tmp", 01777);
    ub_private_dir = pattern;
    return true;
}

void private_tmp_teardown()
{
    if (ub_private_dir.empty())
    {
        return;
    }
    umount2("/tmp", MNT_DETACH);
    std::error_code ignored;
    std::filesystem::remove_all(ub_private_dir, ignored);
    ub_private_dir.clear();
}

void shared_tmp_lock()
{
    if (!ub_private_dir.empty() || i_lock_fd >= 0)
    {
        return;
    }
    i_lock_fd =
        open("/tmp/qel_monitor_fifos.lock", O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (i_lock_fd >= 0)
    {
        flock(i_lock_fd, LOCK_EX);
    }
}

void shared_tmp_unlock()
{
    if (i_lock_fd >= 0)
    {
        flock(i_lock_fd, LOCK_UN);
        close(i_lock_fd);
        i_lock_fd = -1;
    }
}

} // namespace qel_filter_test
