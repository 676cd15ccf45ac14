// settings_file.cpp - the key=value settings file of the print monitor and its widget.
#include "Qel_Tb.h"
#include "handle_table.h"
#include "settings_parser.h"

#include <cstdio>
#include <cstring>

namespace
{
struct lo_setting
{
    const char* key;
    const char* default_value;
};

// Keys and defaults in index order; the spellings are part of the file format.
constexpr lo_setting lo_settings[EN_QEL_TB_CONFIG_FILE_ATTRIBUTES] = {
    {"ContinueCancelDialogTimeoutMs", "10000"},
    {"NumberOfPagesToContinueCancelDialog", "10"},
    {"LogEnabled", "0"},
    {"MaxNumberOfPages", "100"},
    {"ResetPageCountOnJob", "1"},
    {"AdditionalDialogDisplayTimeMs", "7000"},
    {"Language", "0"},
    {"StatusInquiryIntervalMs", "10000"},
    {"LogDays", "7"},
    {"WidgetAlwaysOnTop", "1"},
    {"WidgetBorderType", "1"},
    {"WidgetBorderWidthPixels", "5"},
    {"ShowDateAndTime", "1"},
    {"MaximumDialogDisplayTimeMm", "60"},
};

LoHandleTable<std::FILE> lo_streams;

// Copies at most 254 characters and the terminating zero into a 255-byte field.
void lo_copy_field(char* field, const char* text)
{
    std::size_t n = std::strlen(text);
    if (n > QEL_TB_CONFIG_FIELD_SIZE - 1)
        n = QEL_TB_CONFIG_FIELD_SIZE - 1;
    std::memmove(field, text, n);
    field[n] = '\0';
}
} // namespace

extern "C" char* qel_tb_trim(char* s)
{
    if (s == nullptr)
        return nullptr;
    return Lo_TrimInPlace(s);
}

extern "C" int qel_tb_config_file_open(const char* config_file,
                                       ET_QEL_TB_CONFIG_ACCESS config_access)
{
    if (config_file == nullptr)
        return 0;
    std::FILE* stream = nullptr;
    if (config_access == EV_QEL_TB_CONFIG_ACCESS_READ)
    {
        stream = std::fopen(config_file, "r");
        if (stream == nullptr)
        {
            // A missing file is created empty, then read.
            std::FILE* created = std::fopen(config_file, "w");
            if (created != nullptr)
            {
                std::fclose(created);
                stream = std::fopen(config_file, "r");
            }
        }
    }
    else if (config_access == EV_QEL_TB_CONFIG_ACCESS_WRITE)
    {
        stream = std::fopen(config_file, "w");
    }
    if (stream == nullptr)
        return 0;

    const int handle = lo_streams.insert(stream);
    if (handle == 0)
        std::fclose(stream);
    return handle;
}

extern "C" void qel_tb_config_file_close(int file)
{
    std::FILE* stream = lo_streams.remove(file);
    if (stream != nullptr)
        std::fclose(stream);
}

extern "C" void qel_tb_config_file_writePair(int file, const char* key, const char* value)
{
    std::FILE* stream = lo_streams.find(file);
    if (stream == nullptr || key == nullptr)
        return;
    if (key[0] == '#')
        std::fprintf(stream, "%s\n", key);
    else
        std::fprintf(stream, "%s=%s\n", key, value != nullptr ? value : "");
}

extern "C" void qel_tb_config_file_readPair(int file, const char* key, char* value,
                                            const char* default_value)
{
    if (value == nullptr)
        return;
    // The result is built apart: default_value may be value itself.
    char result[QEL_TB_CONFIG_FIELD_SIZE];
    lo_copy_field(result, default_value != nullptr ? default_value : "");

    std::FILE* stream = lo_streams.find(file);
    if (stream != nullptr && key != nullptr)
    {
        std::rewind(stream);
        char line[LO_SETTINGS_LINE_SIZE];
        while (std::fgets(line, sizeof line, stream) != nullptr)
        {
            const char* found = Lo_ParseSettingsLine(line, key);
            if (found != nullptr)
            {
                lo_copy_field(result, found);
                break;
            }
        }
    }
    lo_copy_field(value, result);
}

extern "C" void qel_tb_config_file_init(TS_QEL_TB_CONFIG_FILE* config_file)
{
    if (config_file == nullptr)
        return;
    for (int i = 0; i < EN_QEL_TB_CONFIG_FILE_ATTRIBUTES; ++i)
    {
        std::memset(&config_file->attributes[i], 0, sizeof config_file->attributes[i]);
        lo_copy_field(config_file->attributes[i].key, lo_settings[i].key);
        lo_copy_field(config_file->attributes[i].value, lo_settings[i].default_value);
    }
}

extern "C" void qel_tb_config_file_read(const char* config_file,
                                        TS_QEL_TB_CONFIG_FILE* config_attributes)
{
    if (config_attributes == nullptr)
        return;
    qel_tb_config_file_init(config_attributes);
    const int file = qel_tb_config_file_open(config_file, EV_QEL_TB_CONFIG_ACCESS_READ);
    if (file == 0)
        return;
    for (auto& pair : config_attributes->attributes)
        qel_tb_config_file_readPair(file, pair.key, pair.value, pair.value);
    qel_tb_config_file_close(file);
}

extern "C" void qel_tb_config_file_write(const char* config_file,
                                         TS_QEL_TB_CONFIG_FILE* config_attributes)
{
    if (config_attributes == nullptr)
        return;
    const int file = qel_tb_config_file_open(config_file, EV_QEL_TB_CONFIG_ACCESS_WRITE);
    if (file == 0)
        return;
    for (auto& pair : config_attributes->attributes)
    {
        // The fields are fixed arrays; never trust them to be terminated.
        char key[QEL_TB_CONFIG_FIELD_SIZE];
        char value[QEL_TB_CONFIG_FIELD_SIZE];
        std::memcpy(key, pair.key, sizeof key);
        std::memcpy(value, pair.value, sizeof value);
        key[sizeof key - 1] = '\0';
        value[sizeof value - 1] = '\0';
        qel_tb_config_file_writePair(file, key, value);
    }
    qel_tb_config_file_close(file);
}
