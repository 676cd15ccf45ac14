// printer_data_page.cpp - the "Printer data" page and the configuration block download.
#include "printer_data_page.h"

#include "config_block.h"
#include "device_scheme.h"
#include "device_uri.h"
#include "discovery.h"
#include "inquiry_records.h"
#include "port.h"
#include "printer_boundary.h"
#include "printer_state.h"
#include "status_poller.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace qel_app
{
namespace
{

struct RecordResult
{
    const TS_QEL_PD_INQ_KIND* kind;
    const char* failure;
    std::vector<TS_QEL_PD_FIELD_VALUE> fields;
};

// The value of one field of the request's query ("printer=1&download=config").
std::string lo_query_value(pappl_client_t* client, const std::string& name)
{
    const char* text = papplClientGetOptions(client);
    const std::string key = name + "=";
    for (const std::string_view field : qel::uri_pieces(text ? text : "", '&'))
        if (field.substr(0, key.size()) == key)
            return std::string(field.substr(key.size()));
    return "";
}

pappl_printer_t* lo_printer_of(pappl_client_t* client)
{
    const std::string id = lo_query_value(client, "printer");
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos)
        return nullptr;
    return papplSystemFindPrinter(papplClientGetSystem(client), nullptr, atoi(id.c_str()), nullptr);
}

// Runs `exchange` on the printer's port while no job holds it, after finishing a command that a
// job cut short left open (else the printer would take the exchange as that command's rest);
// false when it cannot.
template <typename F> bool lo_with_port(pappl_printer_t* printer, F exchange)
{
    pappl_device_t* device = papplPrinterOpenDevice(printer);
    if (!device)
        return false;
    qel::Port* port = device_port(device);
    const bool ready = port && PrinterBoundary(printer).finish_open_command(*port, 1000);
    if (ready)
    {
        const TS_QEL_PD_TRANSPORT transport = qel::port_transport(*port);
        exchange(transport);
    }
    papplPrinterCloseDevice(printer);
    return ready;
}

bool lo_download(pappl_client_t* client, pappl_printer_t* printer)
{
    unsigned char block[QEL_PD_CONFIG_BLOCK_SIZE] = {};
    const char* failure = "the printer is busy or not connected";
    lo_with_port(printer,
                 [&](const TS_QEL_PD_TRANSPORT& transport) {
                     failure = qel_pd_config_download(&transport, block, QEL_PD_CONFIG_BLOCK_SIZE);
                 });
    if (failure)
    {
        const std::string text = std::string("Configuration block not read: ") + failure + "\n";
        papplClientRespond(client, HTTP_STATUS_SERVICE_UNAVAILABLE, nullptr, "text/plain", 0,
                           text.size());
        httpWrite2(papplClientGetHTTP(client), text.data(), text.size());
        return true;
    }
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    qel_pd_config_line_print(out, block);
    fclose(out);
    http_t* http = papplClientGetHTTP(client);
    papplClientRespond(client, HTTP_STATUS_OK, nullptr, "text/plain", 0, size);
    httpWrite2(http, text, size);
    free(text);
    return true;
}

// A change on the printer: only for an authenticated administrator with the page's own form.
bool lo_post(pappl_client_t* client, pappl_printer_t* printer, std::string* message)
{
    if (!papplClientHTMLAuthorize(client))
        return false; // answered (401/403) by PAPPL
    cups_option_t* form = nullptr;
    const int num_form = papplClientGetForm(client, &form);
    const bool valid = num_form > 0 && papplClientIsValidForm(client, num_form, form);
    const char* action = cupsGetOption("action", num_form, form);
    if (!valid)
    {
        cupsFreeOptions(num_form, form);
        papplClientRespond(client, HTTP_STATUS_FORBIDDEN, nullptr, nullptr, 0, 0);
        return false;
    }
    if (action && !std::strcmp(action, "reset"))
    {
        const char* failure = "the printer is busy or not connected";
        lo_with_port(printer, [&](const TS_QEL_PD_TRANSPORT& transport)
                     { failure = qel_pd_reset_printer(&transport); });
        *message = failure ? std::string("Reset failed: ") + failure : "The printer was reset.";
        papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Web: %s (by %s)", message->c_str(),
                        papplClientGetUsername(client));
    }
    cupsFreeOptions(num_form, form);
    return true;
}

bool lo_page(pappl_client_t* client, void* /*data*/)
{
    pappl_printer_t* printer = lo_printer_of(client);
    if (!printer)
    {
        papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
        return true;
    }
    if (lo_query_value(client, "download") == "config")
        return lo_download(client, printer);

    std::string message;
    if (papplClientGetMethod(client) == HTTP_STATE_POST && !lo_post(client, printer, &message))
        return true;

    std::vector<RecordResult> records;
    const bool opened = lo_with_port(
        printer,
        [&](const TS_QEL_PD_TRANSPORT& transport)
        {
            for (const TS_QEL_PD_INQ_KIND& kind : qel_pd_inq_kinds())
            {
                unsigned char record[QEL_PD_INQ_MAX_RECORD] = {};
                RecordResult result{&kind, qel_pd_inquire(&transport, &kind, record), {}};
                if (!result.failure)
                    result.fields = qel_pd_inq_decode(
                        &kind, std::span<const unsigned char>(record, kind.nSize));
                records.push_back(std::move(result));
            }
        });

    papplClientHTMLPrinterHeader(client, printer, "Printer data", 0, nullptr, nullptr);
    if (!message.empty())
    {
        papplClientHTMLPuts(client, "<div class=\"banner\">");
        papplClientHTMLEscape(client, message.c_str(), 0);
        papplClientHTMLPuts(client, "</div>\n");
    }
    const PrinterNotes notes = printer_notes(papplPrinterGetID(printer));
    papplClientHTMLPuts(client, "<div class=\"row\"><div class=\"col-12\">\n<p>Status: ");
    papplClientHTMLEscape(client, notes.polled ? notes.status_message.c_str() : "not asked yet", 0);
    if (notes.stalled)
        papplClientHTMLPuts(client, " The printer is not taking data.");
    if (!notes.identify.empty())
    {
        papplClientHTMLPuts(client, "</p>\n<p>Identify: ");
        papplClientHTMLEscape(client, notes.identify.c_str(), 0);
    }
    papplClientHTMLPrintf(client,
                          "</p>\n<p><a class=\"btn\" href=\"%s?printer=%d\">Refresh</a> "
                          "<a class=\"btn\" href=\"%s?printer=%d&amp;download=config\">"
                          "Download configuration block</a></p>\n",
                          PRINTER_DATA_PATH, papplPrinterGetID(printer), PRINTER_DATA_PATH,
                          papplPrinterGetID(printer));
    if (!opened)
        papplClientHTMLPuts(client, "<p>The printer is busy or not connected: its data could not "
                                    "be read now.</p>\n");
    for (const RecordResult& record : records)
    {
        papplClientHTMLPrintf(client, "<h2 class=\"title\">%s</h2>\n", record.kind->pszRecord);
        if (record.failure)
        {
            papplClientHTMLPuts(client, "<p>");
            papplClientHTMLEscape(client, record.failure, 0);
            papplClientHTMLPuts(client, "</p>\n");
            continue;
        }
        papplClientHTMLPuts(client, "<table class=\"form\"><tbody>\n");
        for (const TS_QEL_PD_FIELD_VALUE& field : record.fields)
        {
            papplClientHTMLPuts(client, "<tr><th>");
            papplClientHTMLEscape(client, field.sName.c_str(), 0);
            papplClientHTMLPuts(client, "</th><td>");
            papplClientHTMLEscape(client, field.sValue.c_str(), 0);
            papplClientHTMLPuts(client, "</td></tr>\n");
        }
        papplClientHTMLPuts(client, "</tbody></table>\n");
    }
    char action[256];
    std::snprintf(action, sizeof action, "%s?printer=%d", PRINTER_DATA_PATH,
                  papplPrinterGetID(printer));
    papplClientHTMLStartForm(client, action, false);
    papplClientHTMLPuts(client, "<input type=\"hidden\" name=\"action\" value=\"reset\">"
                                "<input type=\"submit\" value=\"Reset printer\"></form>\n");
    papplClientHTMLPuts(client, "</div></div>\n");
    papplClientHTMLPrinterFooter(client);
    return true;
}

} // namespace

void register_printer_data_page(pappl_system_t* system)
{
    papplSystemAddResourceCallback(system, PRINTER_DATA_PATH, "text/html", lo_page, nullptr);
}

void add_printer_data_link(pappl_printer_t* printer)
{
    char path[256];
    std::snprintf(path, sizeof path, "%s?printer=%d", PRINTER_DATA_PATH,
                  papplPrinterGetID(printer));
    papplPrinterAddLink(
        printer, "Printer data", path,
        static_cast<pappl_loptions_t>(PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_STATUS));
}

} // namespace qel_app
