// command_stream.h - where the printer's page commands begin and end (pure).
//
// Every page command is 1B F0 c n followed by n operand bytes; the form feed 0C and the
// synchronisation byte 00 stand alone. A stream that is handed to the printer as it stands
// (a raw job) must consist of whole commands of the kinds the kit's own encoder sends, so that
// the next job starts on a command boundary; a job that is cancelled inside a write is
// completed up to the end of the command it was in.
#pragma once

#include <cstddef>
#include <string>

namespace qel_app
{

// Length of the command that starts at data[0]: > 0 a whole command, 0 the bytes end inside
// it, -1 not a command (then *error says why).
long command_length(const unsigned char* data, size_t size, std::string* error);

// Checks a whole raw stream. Returns true when it consists of whole commands; else false
// with the offset and the reason in *error.
bool check_command_stream(const unsigned char* data, size_t size, std::string* error);

// Bytes from `offset` up to the end of the command that holds the byte at `offset`, for a
// buffer that holds whole commands from its start (0 when `offset` is a boundary).
size_t rest_of_command(const unsigned char* data, size_t size, size_t offset);

} // namespace qel_app
