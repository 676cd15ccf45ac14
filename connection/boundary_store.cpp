// boundary_store.cpp - one fixed-size line per printer, rewritten in place.
#include "boundary_store.h"

#include "device_uri.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace qel
{

namespace
{
// Every save writes this many bytes at offset 0: the line, padded with spaces.
constexpr size_t kRecordSize = 256;
} // namespace

std::string BoundaryStore::default_dir()
{
    const char* cache = std::getenv("CUPS_CACHEDIR");
    return std::string(cache && *cache ? cache : "/var/cache/cups") + "/qel-backend";
}

std::string BoundaryStore::serial_key(const std::string& serial_number)
{
    return "serial-" + qel::uri_percent_encode(serial_number);
}

std::string BoundaryStore::port_key(const std::string& path)
{
    return "port-" + qel::uri_percent_encode(path);
}

BoundaryStore::BoundaryStore(const std::string& key, std::string dir)
    : dir_(dir.empty() ? default_dir() : std::move(dir)), path_(dir_ + "/" + key)
{
}

BoundaryStore::~BoundaryStore()
{
    if (fd_ >= 0)
        ::close(fd_);
}

qel::CommandBoundary BoundaryStore::load(std::string* note)
{
    if (::mkdir(dir_.c_str(), 0700) != 0 && errno != EEXIST && note)
        *note = dir_ + ": " + std::strerror(errno);
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0)
    {
        if (note)
            *note = path_ + ": " + std::strerror(errno);
        return {};
    }
    char text[kRecordSize + 1] = {};
    const ssize_t n = ::pread(fd_, text, kRecordSize, 0);
    if (n <= 0)
        return {};
    const auto state = qel::boundary_from_text(std::string(text, size_t(n)));
    if (!state && note)
        *note = path_ + ": not a state line; taken as a command boundary";
    return state ? *state : qel::CommandBoundary{};
}

bool BoundaryStore::save(const qel::CommandBoundary& state)
{
    if (fd_ < 0)
        return false;
    std::string line = qel::boundary_to_text(state);
    line.resize(kRecordSize - 1, ' ');
    line += '\n';
    return ::pwrite(fd_, line.data(), line.size(), 0) == ssize_t(line.size());
}

} // namespace qel
