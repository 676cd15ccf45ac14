// side_channel.h - answers to the filters' side-channel requests (CUPS_SC_FD).
#pragma once

#include <string>

namespace qel_backend
{

// What the backend knows when a request comes.
struct SideChannelFacts
{
    std::string device_id;  // from the information record
    bool online = false;    // the last status inquiry was answered
    bool warning = false;   // ... with a non-zero error code (CUPS_SC_STATE_ERROR)
    bool connected = false; // the port is open
};

// True when the side channel exists (a backend started by the scheduler);
// to be asked before the backend opens any file of its own.
bool side_channel_present();

// Answers one pending request, waiting at most timeout_s for it. `drain` is
// called for CUPS_SC_CMD_DRAIN_OUTPUT and returns whether everything read so
// far reached the printer. Returns false when no request came or the channel
// is gone.
bool side_channel_answer(const SideChannelFacts& facts, double timeout_s, bool (*drain)(void*),
                         void* drain_context);

} // namespace qel_backend
