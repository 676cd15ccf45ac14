// Fuzz target: the configuration tool's block line reader.  A rejected line
// leaves the block untouched; an accepted block, printed again as a block
// line, is read back as the same block.  The stream reader over the whole
// input obeys the same rules.
#include "fuzz_check.h"

#include "config_block.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

using Block = std::array<unsigned char, QEL_PD_CONFIG_BLOCK_SIZE>;

void lo_check_printed_again(const Block& block)
{
    char* text = nullptr;
    size_t n = 0;
    std::FILE* out = open_memstream(&text, &n);
    FUZZ_CHECK(out != nullptr);
    qel_pd_config_line_print(out, block.data());
    std::fclose(out);
    Block again{};
    FUZZ_CHECK(qel_pd_config_line_parse(text, n, again.data()) == EV_QEL_PD_CONFIG_LINE_ACCEPTED);
    FUZZ_CHECK(again == block);
    std::free(text);

    // The listing of an accepted block must not trip over any field value.
    std::FILE* sink = std::fopen("/dev/null", "w");
    if (sink != nullptr)
    {
        qel_pd_config_list(sink, block.data());
        std::fclose(sink);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    const char* line = reinterpret_cast<const char*>(data);
    Block block;
    block.fill(0xA5);
    const ET_QEL_PD_CONFIG_LINE result = qel_pd_config_line_parse(line, size, block.data());
    if (result == EV_QEL_PD_CONFIG_LINE_ACCEPTED)
    {
        lo_check_printed_again(block);
    }
    else
    {
        Block untouched;
        untouched.fill(0xA5);
        FUZZ_CHECK(block == untouched);
    }

    if (size == 0)
    {
        return 0;
    }
    std::FILE* in = fmemopen(const_cast<unsigned char*>(data), size, "rb");
    if (in == nullptr)
    {
        return 0;
    }
    Block streamed;
    streamed.fill(0x5A);
    const int found = qel_pd_config_input_read(in, streamed.data());
    std::fclose(in);
    if (found == 1)
    {
        lo_check_printed_again(streamed);
    }
    else
    {
        FUZZ_CHECK(found == 0);
        Block untouched;
        untouched.fill(0x5A);
        FUZZ_CHECK(streamed == untouched);
        // A single line that is accepted on its own is found by the stream reader too.
        FUZZ_CHECK(result != EV_QEL_PD_CONFIG_LINE_ACCEPTED ||
                   std::memchr(data, '\n', size) != nullptr);
    }
    return 0;
}
