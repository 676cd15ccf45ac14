// temp_dir.h - a private scratch directory per test under $TMPDIR (or /tmp), removed afterwards;
// whole files read and written.
#pragma once

#include <string>

namespace test_support
{

class TempDir
{
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// The whole file ("" when it cannot be read).
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);

} // namespace test_support
