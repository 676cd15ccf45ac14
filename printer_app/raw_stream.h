// raw_stream.h - whether a document in the printer's own command stream may be passed
// through as it stands (pure).
//
// The printer never resynchronises: a raw job that ends inside a command would swallow the
// first bytes of the next job. A raw document is taken only when, read by the command
// boundary tracker from a boundary, it holds nothing but commands the printer takes and
// ends on a command boundary.
#pragma once

#include <cstddef>
#include <string>

namespace qel_app
{

// Empty when the stream may be sent; else why not ("offset 12: not a printer command", ...).
std::string raw_stream_problem(const unsigned char* data, size_t size);

} // namespace qel_app
