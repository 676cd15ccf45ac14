// command_stream.cpp - command boundaries of the page command stream.
#include "command_stream.h"

#include "page_commands.h"

namespace qel_app
{
namespace
{

bool lo_known_command(unsigned char code)
{
    switch (code)
    {
    case QEL_CMD_PRINT_SPEED:
    case QEL_CMD_UNCOMPRESSED:
    case QEL_CMD_COMPRESSED_RLE8:
    case QEL_CMD_REPEAT_LINE:
    case QEL_CMD_PRINT_DENSITY:
    case QEL_CMD_CUT:
    case QEL_CMD_PATH_SELECTION:
        return true;
    default:
        return false;
    }
}

} // namespace

long command_length(const unsigned char* data, size_t size, std::string* error)
{
    if (size == 0)
        return 0;
    if (data[0] == 0x00 || data[0] == QEL_CMD_FORM_FEED)
        return 1;
    if (data[0] != QEL_CMD_ESC)
    {
        if (error)
            *error = "no command starts with this byte";
        return -1;
    }
    if (size < 2)
        return 0;
    if (data[1] != QEL_CMD_PREFIX)
    {
        if (error)
            *error = "not a page command";
        return -1;
    }
    if (size < 3)
        return 0;
    if (!lo_known_command(data[2]))
    {
        if (error)
            *error = "unknown page command";
        return -1;
    }
    if (size < 4)
        return 0;
    const size_t length = 4 + size_t{data[3]};
    return size < length ? 0 : static_cast<long>(length);
}

bool check_command_stream(const unsigned char* data, size_t size, std::string* error)
{
    size_t offset = 0;
    while (offset < size)
    {
        std::string why;
        const long length = command_length(data + offset, size - offset, &why);
        if (length <= 0)
        {
            if (error)
                *error = "offset " + std::to_string(offset) + ": " +
                         (length == 0 ? std::string("the stream ends inside a command") : why);
            return false;
        }
        offset += static_cast<size_t>(length);
    }
    return true;
}

size_t rest_of_command(const unsigned char* data, size_t size, size_t offset)
{
    size_t start = 0;
    while (start < offset && start < size)
    {
        const long length = command_length(data + start, size - start, nullptr);
        if (length <= 0)
            return 0;
        start += static_cast<size_t>(length);
    }
    return start > offset ? start - offset : 0;
}

} // namespace qel_app
