// tb_temp_dir.h - a private scratch directory per test, removed afterwards.
#ifndef TB_TEMP_DIR_H
#define TB_TEMP_DIR_H

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

class TbTempDir
{
  public:
    TbTempDir()
    {
        const char* base = std::getenv("TMPDIR");
        std::string templ = std::string(base != nullptr ? base : "/tmp") + "/qeltb.XXXXXX";
        std::filesystem::create_directories(std::filesystem::path(templ).parent_path());
        if (mkdtemp(templ.data()) != nullptr)
            path_ = templ;
    }
    ~TbTempDir()
    {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    TbTempDir(const TbTempDir&) = delete;
    TbTempDir& operator=(const TbTempDir&) = delete;

    bool ok() const { return !path_.empty(); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline std::string TbReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void TbWriteFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

#endif
