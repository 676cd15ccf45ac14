// Printer exchanges of the configuration block and the hard reset command.
#pragma once

#include "tool_frame.h"

#include <cstdint>

// Downloads the block: request 1B FF 46 00, answer 1B FF 47 FF and 255 bytes.
//   printer  I  open printer handle
//   block    O  filled with the block bytes (only complete on success)
//   size     I  block size, always 255
// Returns null on success, else a fixed message.
const char* lo_download_configuration_data(intptr_t printer, unsigned char* block,
                                           unsigned short size);

// Uploads the block: 1B FF 26 FF and the 255 bytes, answer 1B FF 27 00.
const char* lo_upload_configuration_data(intptr_t printer, unsigned char* block,
                                         unsigned short size);

// Sends the hard reset command 1B F2 03 00; nothing is read back.
const char* lo_reset_printer(intptr_t printer);

// The reset step of a tool run: progress line, lo_reset_printer, outcome, and on
// failure the "reset printer failed" line. Returns 1 on success.
int config_reset_step(TS_QEL_TOOL_RUN* psRun);
