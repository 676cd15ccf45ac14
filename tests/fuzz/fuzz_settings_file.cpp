// Fuzz target: the settings file reader of libQelTb on arbitrary file
// contents.  Every value read is a terminated, trimmed text of at most 254
// characters, the keys stay the fourteen fixed ones, and writing the set and
// reading it again gives the same set.
#include "fuzz_check.h"

#include "Qel_Tb.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace
{

bool lo_is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void lo_check_set(const TS_QEL_TB_CONFIG_FILE& set, const TS_QEL_TB_CONFIG_FILE& defaults)
{
    for (int i = 0; i < EN_QEL_TB_CONFIG_FILE_ATTRIBUTES; ++i)
    {
        const TS_QEL_TB_CONFIG_ATTRIBUTE& pair = set.attributes[i];
        FUZZ_CHECK(std::strcmp(pair.key, defaults.attributes[i].key) == 0);
        const void* end = std::memchr(pair.value, 0, sizeof pair.value);
        FUZZ_CHECK(end != nullptr);
        const size_t n = std::strlen(pair.value);
        if (n > 0)
        {
            FUZZ_CHECK(!lo_is_space(pair.value[0]) && !lo_is_space(pair.value[n - 1]));
            FUZZ_CHECK(std::strchr(pair.value, '=') == nullptr);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    static const std::string path = fuzz_scratch_path("settings_in");
    static const std::string again = fuzz_scratch_path("settings_out");
    if (!fuzz_write_file(path, data, size))
    {
        return 0;
    }

    TS_QEL_TB_CONFIG_FILE defaults;
    qel_tb_config_file_init(&defaults);
    TS_QEL_TB_CONFIG_FILE set;
    std::memset(&set, 0x5A, sizeof set);
    qel_tb_config_file_read(path.c_str(), &set);
    lo_check_set(set, defaults);

    // One key looked up on its own agrees with the whole-set reader.
    const int handle = qel_tb_config_file_open(path.c_str(), EV_QEL_TB_CONFIG_ACCESS_READ);
    FUZZ_CHECK(handle != 0);
    const int index = size > 0 ? data[0] % EN_QEL_TB_CONFIG_FILE_ATTRIBUTES : 0;
    char value[QEL_TB_CONFIG_FIELD_SIZE];
    qel_tb_config_file_readPair(handle, defaults.attributes[index].key, value,
                                defaults.attributes[index].value);
    qel_tb_config_file_close(handle);
    FUZZ_CHECK(std::strcmp(value, set.attributes[index].value) == 0);

    qel_tb_config_file_write(again.c_str(), &set);
    TS_QEL_TB_CONFIG_FILE reread;
    qel_tb_config_file_read(again.c_str(), &reread);
    for (int i = 0; i < EN_QEL_TB_CONFIG_FILE_ATTRIBUTES; ++i)
    {
        FUZZ_CHECK(std::strcmp(reread.attributes[i].value, set.attributes[i].value) == 0);
    }
    std::remove(path.c_str());
    std::remove(again.c_str());
    return 0;
}
