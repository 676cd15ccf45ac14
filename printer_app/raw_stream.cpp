// raw_stream.cpp - the pass-through check of raw command streams.
#include "raw_stream.h"

#include "command_boundary.h"

#include <span>

namespace qel_app
{

std::string raw_stream_problem(const unsigned char* data, size_t size)
{
    qel::CommandBoundary state;
    qel::boundary_feed(state, std::span<const unsigned char>(data, size));
    if (state.at == qel::ParserAt::Boundary && state.on_boundary())
        return {};
    if (state.at != qel::ParserAt::Unknown)
        return "the stream ends " + qel::describe_boundary(state);
    // Find the first byte the printer would not take as part of a command.
    qel::CommandBoundary again;
    size_t offset = 0;
    while (offset < size && again.at != qel::ParserAt::Unknown)
        qel::boundary_feed(again, std::span<const unsigned char>(data + offset++, 1));
    return "offset " + std::to_string(offset - 1) + ": not a command the printer takes";
}

} // namespace qel_app
