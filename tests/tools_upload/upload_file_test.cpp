// Upload file loading, validation order and header listing.
#include "upload_file.h"
#include "upload_file_maker.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

using Bytes = std::vector<uint8_t>;
using upload_maker::Header;
using upload_maker::make_file;

ET_UPLOAD_FILE validate(const Bytes& f)
{
    return upload_file_validate(f.data(), f.size());
}

std::string listing(const Bytes& f)
{
    char* buf = nullptr;
    std::size_t len = 0;
    std::FILE* out = open_memstream(&buf, &len);
    upload_file_list(out, f.data(), f.size());
    std::fclose(out);
    std::string s(buf, len);
    std::free(buf);
    return s;
}

// Lines of the listing whose key is `key` exactly.
std::vector<std::string> lines_of(const std::string& text, const std::string& key)
{
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size())
    {
        std::size_t end = text.find('\n', at);
        std::string line = text.substr(at, end - at);
        char padded[64];
        std::snprintf(padded, sizeof padded, "%-50.50s = ", key.c_str());
        if (line.rfind(padded, 0) == 0)
            out.push_back(line.substr(53));
        at = end + 1;
    }
    return out;
}

} // namespace

TEST(UploadFileValidation, AcceptsWellFormedFilesOfAnySize)
{
    for (std::size_t n : {0u, 1u, 255u, 256u, 510u, 70000u})
        EXPECT_EQ(validate(make_file(upload_maker::pattern(n))), EV_UPLOAD_FILE_VALID) << n;
}

TEST(UploadFileValidation, ChecksInTheirOrder)
{
    const Bytes good = make_file(upload_maker::pattern(300));

    EXPECT_EQ(upload_file_validate(good.data(), 0), EV_UPLOAD_FILE_TOO_SHORT);
    EXPECT_EQ(upload_file_validate(good.data(), 310), EV_UPLOAD_FILE_TOO_SHORT);

    Header h;
    h.revision_nr = 2;
    h.size_hdr = 306; // also wrong, but the revision is tested first
    EXPECT_EQ(validate(make_file({1, 2, 3}, h)), EV_UPLOAD_FILE_BAD_REVISION);
    h.revision_nr = 0x0101;
    EXPECT_EQ(validate(make_file({1, 2, 3}, h)), EV_UPLOAD_FILE_BAD_REVISION);
    h.revision_nr = 1;
    EXPECT_EQ(validate(make_file({1, 2, 3}, h)), EV_UPLOAD_FILE_BAD_HDR_SIZE);

    // Size field one less than the data, and one more; a wrong size wins over a bad CRC.
    Bytes f = make_file(upload_maker::pattern(300));
    upload_maker::put_le(f, 6, 299, 4);
    upload_maker::reseal(f);
    EXPECT_EQ(validate(f), EV_UPLOAD_FILE_BAD_SIZE);
    upload_maker::put_le(f, 6, 301, 4);
    EXPECT_EQ(validate(f), EV_UPLOAD_FILE_BAD_SIZE);
    upload_maker::put_le(f, 6, 0x10000000u + 300, 4); // only the low bits would match
    upload_maker::reseal(f);
    EXPECT_EQ(validate(f), EV_UPLOAD_FILE_BAD_SIZE);

    // One changed data byte, header byte or footer byte.
    for (std::size_t at : {std::size_t{20}, std::size_t{307}, good.size() - 5, good.size() - 1})
    {
        Bytes bad = good;
        bad[at] ^= 0x40;
        EXPECT_EQ(validate(bad), EV_UPLOAD_FILE_BAD_CHECKSUM) << at;
    }
}

TEST(UploadFileLoading, LoadsWholeFilesAndRefusesWhatCannotBeRead)
{
    char dir[] = "/tmp/qel_upload_load_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/file.QelBin";
    const Bytes content = make_file(upload_maker::pattern(1000));
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);

    std::size_t n = 0;
    unsigned char* buf = upload_file_load(path.c_str(), &n);
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(Bytes(buf, buf + n), content);
    std::free(buf);

    const std::string empty = std::string(dir) + "/empty";
    std::fclose(std::fopen(empty.c_str(), "wb"));
    n = 99;
    buf = upload_file_load(empty.c_str(), &n);
    ASSERT_NE(buf, nullptr); // loads; validation then refuses it
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(upload_file_validate(buf, n), EV_UPLOAD_FILE_TOO_SHORT);
    std::free(buf);

    EXPECT_EQ(upload_file_load((std::string(dir) + "/missing").c_str(), &n), nullptr);
    EXPECT_EQ(upload_file_load(dir, &n), nullptr); // a directory cannot be read

    std::remove(path.c_str());
    std::remove(empty.c_str());
    rmdir(dir);
}

TEST(UploadFileListing, PrintsHeaderAndFooter)
{
    Header h;
    h.type_mask = 0x0061;
    h.date = 20210216;
    h.time = 93005;
    h.info = "A\nB\n";
    const Bytes f = make_file({0x10, 0x20}, h);

    std::string hdr_hex;
    char two[3];
    for (std::size_t i = 0; i < 307; ++i)
    {
        std::snprintf(two, sizeof two, "%2.2X", f[i]);
        hdr_hex += two;
    }
    std::string ftr_hex;
    for (std::size_t i = f.size() - 4; i < f.size(); ++i)
    {
        std::snprintf(two, sizeof two, "%2.2X", f[i]);
        ftr_hex += two;
    }

    const std::string expected =
        "file_hdr                                           = [" + hdr_hex +
        "]\n"
        "file_hdr.size_hdr                                  = 307\n"
        "file_hdr.revision_nr                               = 1\n"
        "file_hdr.type_mask                                 = [6100] (FIRMWARE,WIDE-FONT,IMAGES)\n"
        "file_hdr.size                                      = 2\n"
        "file_hdr.date                                      = 20210216 (2021-02-16 UTC)\n"
        "file_hdr.time                                      = 00093005 (09:30:05 UTC)\n"
        "file_hdr.info                                      = A\n"
        "file_hdr.info                                      = B\n"
        "file_ftr                                           = [" +
        ftr_hex +
        "]\n"
        "file_ftr.checksum                                  = [" +
        ftr_hex + "]\n";
    EXPECT_EQ(listing(f), expected);
}

TEST(UploadFileListing, TypeMaskNames)
{
    struct Case
    {
        uint16_t mask;
        const char* text;
    } cases[] = {
        {0x0003, "[0300] (FIRMWARE,FONT-#1)"},
        {0x0010, "[1000] ()"},
        {0x0000, "[0000] ()"},
        {0x000C, "[0C00] (LOGO,FONT-#2)"},
        {0xFF80, "[80FF] ()"}, // bits 7 to 15 are not looked at
        {0xFFFF, "[FFFF] (FIRMWARE,FONT-#1,LOGO,FONT-#2,WIDE-FONT,IMAGES)"},
    };
    for (const Case& k : cases)
    {
        Header h;
        h.type_mask = k.mask;
        EXPECT_EQ(lines_of(listing(make_file({}, h)), "file_hdr.type_mask"),
                  std::vector<std::string>{k.text});
    }
}

TEST(UploadFileListing, InfoTextLinesAndDateParts)
{
    Header h;
    h.info = "A\n\nB";
    EXPECT_EQ(lines_of(listing(make_file({}, h)), "file_hdr.info"),
              (std::vector<std::string>{"A", "", "B"}));
    h.info = "";
    EXPECT_TRUE(lines_of(listing(make_file({}, h)), "file_hdr.info").empty());
    h.info = "\n";
    EXPECT_EQ(lines_of(listing(make_file({}, h)), "file_hdr.info"), std::vector<std::string>{""});
    h.info = "A\x1B]0;t\x07\n\tB\xFF";
    EXPECT_EQ(lines_of(listing(make_file({}, h)), "file_hdr.info"),
              (std::vector<std::string>{"A\\x1B]0;t\\x07", "\\x09B\\xFF"}));

    // An info field without a 0x00 ends at the field end, not in the data.
    h.info = std::string(289, 'i');
    Bytes f = make_file({'D', 'A', 'T', 'A'}, h);
    EXPECT_EQ(lines_of(listing(f), "file_hdr.info"),
              std::vector<std::string>{std::string(289, 'i')});

    h.info = "x";
    h.date = 123456789; // the year keeps four places: (value / 10000) mod 10000
    h.time = 1234567;
    const std::string text = listing(make_file({}, h));
    EXPECT_EQ(lines_of(text, "file_hdr.date"),
              std::vector<std::string>{"123456789 (2345-67-89 UTC)"});
    EXPECT_EQ(lines_of(text, "file_hdr.time"), std::vector<std::string>{"01234567 (23:45:67 UTC)"});
}
