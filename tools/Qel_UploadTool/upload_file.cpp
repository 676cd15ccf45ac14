// Upload file: loading, validation and the header listing.
#include "upload_file.h"

#include "Qel_Tb.h"
#include "printer_text.h"

#include <array>
#include <cstdlib>
#include <string_view>
#include <sys/stat.h>

namespace
{

// Longest file whose size field can describe its data.
constexpr unsigned long kMaxFileLength = 0xFFFFFFFFul + UPLOAD_FRAME_SIZE;

// Names of the type mask bits 0 to 6; bit 4 has none.
constexpr std::array<std::string_view, 7> kTypeNames = {"FIRMWARE", "FONT-#1",   "LOGO",  "FONT-#2",
                                                        "",         "WIDE-FONT", "IMAGES"};

void lo_print_hex_group(std::FILE* out, const unsigned char* p, std::size_t n)
{
    std::fputc('[', out);
    for (std::size_t i = 0; i < n; ++i)
        std::fprintf(out, "%2.2X", p[i]);
    std::fputc(']', out);
}

} // namespace

uint16_t upload_get_u16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t upload_get_u32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

unsigned char* upload_file_load(const char* path, std::size_t* pnFile)
{
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return nullptr;

    /* Only a regular file has a length to read in full; a directory "opens" but
       reports a meaningless length. No valid file is longer than its 32-bit size
       field allows, so anything longer is refused before it is allocated. */
    struct stat sStat;
    unsigned char* pubFile = nullptr;
    long nLength = -1;
    if (fstat(fileno(file), &sStat) == 0 && S_ISREG(sStat.st_mode) &&
        std::fseek(file, 0, SEEK_END) == 0)
        nLength = std::ftell(file);
    if (nLength >= 0 && static_cast<unsigned long>(nLength) <= kMaxFileLength &&
        std::fseek(file, 0, SEEK_SET) == 0)
    {
        /* One byte more than the file so that an empty file still gets a buffer. */
        const auto nBytes = static_cast<std::size_t>(nLength);
        pubFile = static_cast<unsigned char*>(std::malloc(nBytes + 1));
        if (pubFile != nullptr && std::fread(pubFile, 1, nBytes, file) != nBytes)
        {
            std::free(pubFile);
            pubFile = nullptr;
        }
        if (pubFile != nullptr)
            *pnFile = nBytes;
    }
    std::fclose(file);
    return pubFile;
}

ET_UPLOAD_FILE upload_file_validate(const unsigned char* file, std::size_t nFile)
{
    if (file == nullptr || nFile < UPLOAD_FRAME_SIZE)
        return EV_UPLOAD_FILE_TOO_SHORT;
    if (upload_get_u16(file + UPLOAD_OFFSET_REVISION_NR) != 1)
        return EV_UPLOAD_FILE_BAD_REVISION;
    if (upload_get_u16(file + UPLOAD_OFFSET_SIZE_HDR) != UPLOAD_HEADER_SIZE)
        return EV_UPLOAD_FILE_BAD_HDR_SIZE;
    if (upload_get_u32(file + UPLOAD_OFFSET_SIZE) != nFile - UPLOAD_FRAME_SIZE)
        return EV_UPLOAD_FILE_BAD_SIZE;
    /* The size field is 32 bits, so the checksummed part always fits the CRC's
       32-bit length once the size matched; larger lengths cannot pass. */
    const std::size_t nChecked = nFile - UPLOAD_FOOTER_SIZE;
    if (nChecked > UINT32_MAX)
        return EV_UPLOAD_FILE_BAD_SIZE;
    const uint32_t dwCrc = qel_tb_calc_crc32(file, static_cast<uint32_t>(nChecked));
    if (dwCrc != upload_get_u32(file + nChecked))
        return EV_UPLOAD_FILE_BAD_CHECKSUM;
    return EV_UPLOAD_FILE_VALID;
}

void upload_file_list(std::FILE* out, const unsigned char* file, std::size_t nFile)
{
    std::fprintf(out, "%-50.50s = ", "file_hdr");
    lo_print_hex_group(out, file, UPLOAD_HEADER_SIZE);
    std::fputc('\n', out);
    std::fflush(out);

    std::fprintf(out, "%-50.50s = %d\n", "file_hdr.size_hdr",
                 upload_get_u16(file + UPLOAD_OFFSET_SIZE_HDR));
    std::fflush(out);
    std::fprintf(out, "%-50.50s = %d\n", "file_hdr.revision_nr",
                 upload_get_u16(file + UPLOAD_OFFSET_REVISION_NR));
    std::fflush(out);

    /* Type mask: its two bytes in file order, then the names of bits 0 to 6. */
    const uint16_t wMask = upload_get_u16(file + UPLOAD_OFFSET_TYPE_MASK);
    std::fprintf(out, "%-50.50s = ", "file_hdr.type_mask");
    lo_print_hex_group(out, file + UPLOAD_OFFSET_TYPE_MASK, 2);
    std::fputs(" (", out);
    int fFirst = 1;
    for (std::size_t bit = 0; bit < kTypeNames.size(); ++bit)
    {
        if ((wMask & (1u << bit)) == 0 || kTypeNames[bit].empty())
            continue;
        std::fprintf(out, "%s%.*s", fFirst ? "" : ",", static_cast<int>(kTypeNames[bit].size()),
                     kTypeNames[bit].data());
        fFirst = 0;
    }
    std::fputs(")\n", out);
    std::fflush(out);

    std::fprintf(out, "%-50.50s = %d\n", "file_hdr.size",
                 static_cast<int>(upload_get_u32(file + UPLOAD_OFFSET_SIZE)));
    std::fflush(out);

    const uint32_t dwDate = upload_get_u32(file + UPLOAD_OFFSET_DATE);
    std::fprintf(out, "%-50.50s = %8.8d (%4.4d-%2.2d-%2.2d UTC)\n", "file_hdr.date",
                 static_cast<int>(dwDate), static_cast<int>((dwDate / 10000) % 10000),
                 static_cast<int>((dwDate / 100) % 100), static_cast<int>(dwDate % 100));
    std::fflush(out);
    const uint32_t dwTime = upload_get_u32(file + UPLOAD_OFFSET_TIME);
    std::fprintf(out, "%-50.50s = %8.8d (%2.2d:%2.2d:%2.2d UTC)\n", "file_hdr.time",
                 static_cast<int>(dwTime), static_cast<int>((dwTime / 10000) % 100),
                 static_cast<int>((dwTime / 100) % 100), static_cast<int>(dwTime % 100));
    std::fflush(out);

    /* Info text: up to its first 0x00 or the end of the field, one line per piece
       between line feeds; a final line feed leaves no empty last line. */
    const char* info = reinterpret_cast<const char*>(file + UPLOAD_OFFSET_INFO);
    std::size_t nInfo = 0;
    while (nInfo < UPLOAD_INFO_SIZE && info[nInfo] != '\0')
        ++nInfo;
    std::size_t start = 0;
    while (start < nInfo)
    {
        std::size_t end = start;
        while (end < nInfo && info[end] != '\n')
            ++end;
        std::fprintf(out, "%-50.50s = ", "file_hdr.info");
        qel_pd_put_text(out, reinterpret_cast<const unsigned char*>(info + start), end - start);
        std::fputc('\n', out);
        std::fflush(out);
        start = end + 1;
    }

    const unsigned char* footer = file + nFile - UPLOAD_FOOTER_SIZE;
    std::fprintf(out, "%-50.50s = ", "file_ftr");
    lo_print_hex_group(out, footer, UPLOAD_FOOTER_SIZE);
    std::fputc('\n', out);
    std::fflush(out);
    std::fprintf(out, "%-50.50s = ", "file_ftr.checksum");
    lo_print_hex_group(out, footer, UPLOAD_FOOTER_SIZE);
    std::fputc('\n', out);
    std::fflush(out);
}
