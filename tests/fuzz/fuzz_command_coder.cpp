// Fuzz target: the command coder of libQelTb both ways.  Coded text gives at
// most as many raw bytes as it has characters; raw bytes give the bracketed
// hex text, which codes back to the same bytes.
#include "fuzz_check.h"

#include "Qel_Tb.h"

#include <cstring>
#include <vector>

namespace
{

using Bytes = std::vector<unsigned char>;

Bytes lo_raw_of(int cmd)
{
    unsigned char* raw = nullptr;
    unsigned int n = 0;
    FUZZ_CHECK(qel_tb_cmd_get_raw(cmd, &raw, &n) == 1);
    return n == 0 ? Bytes{} : Bytes(raw, raw + n);
}

// Raw bytes -> coded text -> raw bytes, with the form of the text checked.
void lo_check_raw_round_trip(const Bytes& raw)
{
    const int cmd = qel_tb_cmd_init_raw(raw.data(), static_cast<unsigned>(raw.size()));
    FUZZ_CHECK(cmd != 0);
    unsigned char* coded = nullptr;
    unsigned int n_coded = 0;
    FUZZ_CHECK(qel_tb_cmd_get_coded(cmd, &coded, &n_coded) == 1);
    FUZZ_CHECK(n_coded == 3 * raw.size() + 2);
    FUZZ_CHECK(coded[0] == '[' && coded[n_coded - 2] == ']' && coded[n_coded - 1] == 0);
    static const char k_hex[] = "0123456789ABCDEF";
    for (size_t i = 0; i < raw.size(); ++i)
    {
        FUZZ_CHECK(coded[1 + 3 * i] == k_hex[raw[i] >> 4]);
        FUZZ_CHECK(coded[2 + 3 * i] == k_hex[raw[i] & 0x0F]);
        FUZZ_CHECK(coded[3 + 3 * i] == (i + 1 == raw.size() ? ']' : ' '));
    }
    char* str = nullptr;
    FUZZ_CHECK(qel_tb_cmd_get_coded_str(cmd, &str) == 1);
    FUZZ_CHECK(std::strlen(str) == n_coded - 1);

    const int back = qel_tb_cmd_init_coded(coded, n_coded - 1);
    FUZZ_CHECK(back != 0);
    FUZZ_CHECK(lo_raw_of(back) == raw);
    qel_tb_cmd_exit(back);
    qel_tb_cmd_exit(cmd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    const int cmd = qel_tb_cmd_init_coded(data, static_cast<unsigned>(size));
    if (size == 0)
    {
        FUZZ_CHECK(cmd == 0);
        FUZZ_CHECK(qel_tb_cmd_init_raw(data, 0) == 0);
        return 0;
    }
    FUZZ_CHECK(cmd != 0);
    unsigned char* coded = nullptr;
    unsigned int n_coded = 0;
    FUZZ_CHECK(qel_tb_cmd_get_coded(cmd, &coded, &n_coded) == 1);
    FUZZ_CHECK(n_coded == size);
    FUZZ_CHECK(std::memcmp(coded, data, size) == 0 && coded[size] == 0);
    const Bytes raw = lo_raw_of(cmd);
    FUZZ_CHECK(raw.size() <= size);
    qel_tb_cmd_exit(cmd);

    if (!raw.empty())
    {
        lo_check_raw_round_trip(raw);
    }
    lo_check_raw_round_trip(Bytes(data, data + size));
    return 0;
}
