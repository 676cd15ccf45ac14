// side_channel.cpp - device ID, state, connection and drain over the side channel.
#include "side_channel.h"

#include <cups/sidechannel.h>

#include <sys/stat.h>

#include <cstring>

namespace qel_backend
{

bool side_channel_present()
{
    // The scheduler hands the backend one end of a socket pair as CUPS_SC_FD.
    struct stat st;
    return ::fstat(CUPS_SC_FD, &st) == 0 && S_ISSOCK(st.st_mode);
}

bool side_channel_answer(const SideChannelFacts& facts, double timeout_s, bool (*drain)(void*),
                         void* drain_context)
{
    cups_sc_command_t command;
    cups_sc_status_t status;
    char data[2048];
    int datalen = sizeof data;
    if (cupsSideChannelRead(&command, &status, data, &datalen, timeout_s) != 0)
        return false;

    switch (command)
    {
    case CUPS_SC_CMD_GET_DEVICE_ID:
        if (facts.device_id.empty())
        {
            cupsSideChannelWrite(command, CUPS_SC_STATUS_IO_ERROR, nullptr, 0, 1.0);
            break;
        }
        datalen = int(std::min(facts.device_id.size(), sizeof data));
        std::memcpy(data, facts.device_id.data(), size_t(datalen));
        cupsSideChannelWrite(command, CUPS_SC_STATUS_OK, data, datalen, 1.0);
        break;
    case CUPS_SC_CMD_GET_STATE:
        data[0] = char(facts.online ? CUPS_SC_STATE_ONLINE : CUPS_SC_STATE_OFFLINE);
        if (facts.warning)
            data[0] = char(data[0] | CUPS_SC_STATE_ERROR);
        cupsSideChannelWrite(command, CUPS_SC_STATUS_OK, data, 1, 1.0);
        break;
    case CUPS_SC_CMD_GET_CONNECTED:
        data[0] = facts.connected ? 1 : 0;
        cupsSideChannelWrite(command, CUPS_SC_STATUS_OK, data, 1, 1.0);
        break;
    case CUPS_SC_CMD_DRAIN_OUTPUT:
        cupsSideChannelWrite(command,
                             drain(drain_context) ? CUPS_SC_STATUS_OK : CUPS_SC_STATUS_IO_ERROR,
                             nullptr, 0, 1.0);
        break;
    default:
        cupsSideChannelWrite(command, CUPS_SC_STATUS_NOT_IMPLEMENTED, nullptr, 0, 1.0);
        break;
    }
    return true;
}

} // namespace qel_backend
