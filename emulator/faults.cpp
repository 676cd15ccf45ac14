// Fault selection of the virtual printer: names and the text form used on the command line.
#include "enum_names.h"
#include "virtual_printer.h"

#include <charconv>

namespace qel_vp
{

namespace
{

constexpr Named<FaultKind> kKindNames[] = {
    {FaultKind::Silent, "silent"},
    {FaultKind::Late, "late"},
    {FaultKind::WrongType, "wrong-type"},
    {FaultKind::WrongSize, "wrong-size"},
    {FaultKind::WrongFirstByte, "wrong-first"},
    {FaultKind::WrongSecondByte, "wrong-second"},
    {FaultKind::ShortData, "short"},
    {FaultKind::CancelStatus, "cancel"},
    {FaultKind::StrayBytes, "stray"},
    {FaultKind::Split, "split"},
    {FaultKind::Merge, "merge"},
    {FaultKind::Disconnect, "disconnect"},
};

constexpr Named<Exchange> kExchangeNames[] = {
    {Exchange::Any, "any"},
    {Exchange::Inquiry, "inquiry"},
    {Exchange::ConfigDownload, "config-download"},
    {Exchange::ConfigUpload, "config-upload"},
    {Exchange::UploadStart, "upload-start"},
    {Exchange::UploadBlock, "upload-block"},
    {Exchange::UploadEnd, "upload-end"},
    {Exchange::HardReset, "reset"},
};

bool to_unsigned(std::string_view text, unsigned& value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

} // namespace

const char* fault_kind_name(FaultKind kind)
{
    return name_in(kKindNames, kind);
}

const char* exchange_name(Exchange exchange)
{
    return name_in(kExchangeNames, exchange);
}

bool parse_fault(std::string_view text, Fault& fault, std::string* error)
{
    auto bad = [&](const std::string& why)
    {
        if (error)
            *error = "fault \"" + std::string(text) + "\": " + why;
        return false;
    };
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (true)
    {
        const std::size_t colon = text.find(':', start);
        fields.push_back(
            text.substr(start, colon == std::string_view::npos ? colon : colon - start));
        if (colon == std::string_view::npos)
            break;
        start = colon + 1;
    }
    if (fields.size() > 4)
        return bad("too many fields (KIND[:EXCHANGE[:NTH[:PARAM]]])");

    Fault f;
    const Named<FaultKind>* kind = row_named(kKindNames, fields[0]);
    if (!kind)
        return bad("unknown kind \"" + std::string(fields[0]) + "\"");
    f.kind = kind->value;
    if (fields.size() > 1)
    {
        const Named<Exchange>* on = row_named(kExchangeNames, fields[1]);
        if (!on)
            return bad("unknown exchange \"" + std::string(fields[1]) + "\"");
        f.on = on->value;
    }
    if (fields.size() > 2 && !to_unsigned(fields[2], f.nth))
        return bad("NTH must be a number (0 = every exchange)");
    if (fields.size() > 3)
    {
        unsigned param = 0;
        if (!to_unsigned(fields[3], param))
            return bad("PARAM must be a number");
        if (f.kind == FaultKind::Late)
            f.delay_ms = param;
        else if (f.kind == FaultKind::ShortData || f.kind == FaultKind::StrayBytes ||
                 f.kind == FaultKind::Split)
            f.count = param;
        else
            return bad(std::string("kind \"") + fault_kind_name(f.kind) + "\" takes no PARAM");
    }
    if (f.kind == FaultKind::Late && f.delay_ms == 0)
        f.delay_ms = 1500;
    if (f.kind == FaultKind::Split && fields.size() > 3 && f.count == 0)
        return bad("split needs a piece size of at least 1");
    fault = f;
    return true;
}

bool parse_stall(std::string_view text, Stall& stall, std::string* error)
{
    auto bad = [&](const char* why)
    {
        if (error)
            *error = "stall \"" + std::string(text) + "\": " + why;
        return false;
    };
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return bad("expected BYTES:SECONDS");
    const std::string_view bytes = text.substr(0, colon);
    std::string_view seconds = text.substr(colon + 1);
    std::size_t after = 0;
    const auto [end, ec] = std::from_chars(bytes.data(), bytes.data() + bytes.size(), after);
    if (ec != std::errc() || end != bytes.data() + bytes.size() || bytes.empty())
        return bad("BYTES must be a number");
    // Seconds with up to three decimals, kept as milliseconds.
    const std::size_t dot = seconds.find('.');
    const std::string_view whole = seconds.substr(0, dot);
    std::string_view fraction =
        dot == std::string_view::npos ? std::string_view() : seconds.substr(dot + 1);
    unsigned s = 0, f = 0;
    if ((whole.empty() && fraction.empty()) || (!whole.empty() && !to_unsigned(whole, s)) ||
        fraction.size() > 3 || (!fraction.empty() && !to_unsigned(fraction, f)) ||
        (dot != std::string_view::npos && fraction.empty()) || s > 3600)
        return bad("SECONDS must be a number of seconds up to 3600, at most three decimals");
    for (std::size_t i = fraction.size(); i < 3; ++i)
        f *= 10;
    stall = Stall{after, s * 1000 + f};
    return true;
}

} // namespace qel_vp
