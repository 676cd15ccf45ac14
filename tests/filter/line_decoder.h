// A strict decoder of the printer's page command stream for tests that know
// the line width: it checks the piece structure of every graphics command and
// expands repeat commands, so an encoder fault shows up as a decoding error or
// as a wrong line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qel_filter_test
{

struct TS_DECODED_COPY
{
    std::vector<std::vector<unsigned char>> lines;
    bool form_feed = false;
    int cut = -1; // operand of the page end, -1 when the copy was not ended
};

struct TS_DECODED_STREAM
{
    int speed = -1;   // last speed operand, -1 when none was sent
    int density = -1; // last density operand as a byte, -1 when none
    int path = -1;    // last path operand, -1 when none
    int settings_commands = 0;
    std::vector<TS_DECODED_COPY> copies;
    std::string error; // empty when the stream decoded cleanly
};

// Decodes `stream` whose dot lines are `width` bytes wide.
TS_DECODED_STREAM decode_stream(const std::vector<unsigned char>& stream, size_t width);

// RLE8 groups to bytes; false on a malformed group.
bool decode_rle8(const unsigned char* data, size_t size, std::vector<unsigned char>& out);

} // namespace qel_filter_test
