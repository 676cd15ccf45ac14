// spool_documents.cpp - picking PAPPL's spooled documents out of a directory listing.
#include "spool_documents.h"

#include <algorithm>

namespace qel_app
{
namespace
{
struct FormatOfExtension
{
    const char* ext;
    const char* format;
};
// The extensions PAPPL 1.3.1 gives the formats the application takes ("prn": any other).
constexpr FormatOfExtension lo_formats[] = {
    {"pdf", "application/pdf"},  {"png", "image/png"}, {"jpg", "image/jpeg"},
    {"pwg", "image/pwg-raster"}, {"urf", "image/urf"}, {"prn", ""},
};

bool lo_digits(const std::string& text, size_t from, size_t count, int& value)
{
    if (from + count > text.size())
        return false;
    value = 0;
    for (size_t i = from; i < from + count; i++)
    {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

} // namespace

std::optional<SpooledDocument> parse_spooled_document(const std::string& dir,
                                                      const std::string& file_name)
{
    SpooledDocument doc;
    // p00001j000000012-name.ext
    if (file_name.size() < 18 || file_name[0] != 'p' || file_name[6] != 'j' ||
        file_name[16] != '-' || !lo_digits(file_name, 1, 5, doc.printer_id) ||
        !lo_digits(file_name, 7, 9, doc.job_id) || doc.job_id <= 0)
        return std::nullopt;
    const size_t dot = file_name.rfind('.');
    if (dot == std::string::npos || dot < 17)
        return std::nullopt;
    const std::string ext = file_name.substr(dot + 1);
    bool taken = false;
    for (const FormatOfExtension& known : lo_formats)
        if (ext == known.ext)
        {
            doc.format = known.format;
            taken = true;
        }
    if (!taken)
        return std::nullopt;
    doc.name = file_name.substr(17, dot - 17);
    doc.path = dir + "/" + file_name;
    return doc;
}

std::vector<SpooledDocument> leftover_documents(const std::string& dir,
                                                const std::vector<std::string>& file_names,
                                                const std::set<std::string>& known)
{
    std::vector<SpooledDocument> found;
    for (const std::string& name : file_names)
        if (auto doc = parse_spooled_document(dir, name); doc && !known.count(doc->path))
            found.push_back(*doc);
    std::sort(found.begin(), found.end(),
              [](const SpooledDocument& a, const SpooledDocument& b) {
                  return a.printer_id != b.printer_id ? a.printer_id < b.printer_id
                                                      : a.job_id < b.job_id;
              });
    return found;
}

} // namespace qel_app
