// Fuzz target: the upload tool's file loader and validator.  The loader hands
// back exactly the bytes of the file, the validator gives the same verdict on
// them as on the caller's copy, and a file that passes is consistent with its
// header and can be listed.
#include "fuzz_check.h"

#include "Qel_Tb.h"
#include "upload_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    static const std::string path = fuzz_scratch_path("upload");
    if (!fuzz_write_file(path, data, size))
    {
        return 0;
    }
    size_t n_file = 12345;
    unsigned char* file = upload_file_load(path.c_str(), &n_file);
    std::remove(path.c_str());
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(n_file == size);
    FUZZ_CHECK(size == 0 || std::memcmp(file, data, size) == 0);

    const ET_UPLOAD_FILE verdict = upload_file_validate(file, n_file);
    FUZZ_CHECK(verdict == upload_file_validate(data, size));
    if (verdict == EV_UPLOAD_FILE_VALID)
    {
        FUZZ_CHECK(size >= UPLOAD_FRAME_SIZE);
        FUZZ_CHECK(upload_get_u16(file + UPLOAD_OFFSET_SIZE_HDR) == UPLOAD_HEADER_SIZE);
        FUZZ_CHECK(upload_get_u32(file + UPLOAD_OFFSET_SIZE) == size - UPLOAD_FRAME_SIZE);
        FUZZ_CHECK(upload_get_u32(file + size - UPLOAD_FOOTER_SIZE) ==
                   qel_tb_calc_crc32(file, static_cast<unsigned>(size - UPLOAD_FOOTER_SIZE)));
        std::FILE* sink = std::fopen("/dev/null", "w");
        if (sink != nullptr)
        {
            upload_file_list(sink, file, n_file);
            std::fclose(sink);
        }
    }
    else if (size < UPLOAD_FRAME_SIZE)
    {
        FUZZ_CHECK(verdict == EV_UPLOAD_FILE_TOO_SHORT);
    }
    std::free(file);
    return 0;
}
