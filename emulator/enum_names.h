// enum_names.h - the names the virtual printer gives its fault kinds, exchanges and frame kinds
// on the command line and in transcripts: one table of rows per enumeration, each row with at
// least a `value` and its `name`, looked up both ways here.
#pragma once

#include <cstddef>
#include <string_view>

namespace qel_vp
{

template <typename E> struct Named
{
    E value;
    const char* name;
};

// The name of `value` in `table`; "?" for a value the table does not hold.
template <typename Row, std::size_t N, typename E>
const char* name_in(const Row (&table)[N], E value)
{
    for (const Row& row : table)
        if (row.value == value)
            return row.name;
    return "?";
}

// The row named `name`; nullptr when no row has that name.
template <typename Row, std::size_t N>
const Row* row_named(const Row (&table)[N], std::string_view name)
{
    for (const Row& row : table)
        if (name == row.name)
            return &row;
    return nullptr;
}

} // namespace qel_vp
