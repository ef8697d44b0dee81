// SPDX-License-Identifier: MIT
// option_table.h - getopt_long's tables made from a program's own table of
// options, so that each option is written once.
//
// A row has `name`, `letter` (0: long only) and `id`, and a field, named by
// the caller, that is nullptr for an option without a value.
#ifndef TAVIK_OPTION_TABLE_H
#define TAVIK_OPTION_TABLE_H

#include <cstddef>
#include <getopt.h>
#include <string>
#include <vector>

namespace tavik::cli {

struct GetoptTables {
    std::vector<option> longs;  // ends with the zero row getopt_long needs
    std::string shorts;
};

// `shorts` starts with `prefix` (":" reports a missing value apart from an
// unknown option; "+" stops at the first argument that is no option).
template <class Row, std::size_t N>
GetoptTables getopt_tables(const Row (&rows)[N], const char *prefix, const char *Row::*value) {
    GetoptTables t{{}, prefix};
    for (const Row &r : rows) {
        const bool has_value = r.*value != nullptr;
        t.longs.push_back({r.name, has_value ? required_argument : no_argument, nullptr,
                           r.letter != 0 ? r.letter : r.id});
        if (r.letter != 0) {
            t.shorts += r.letter;
            if (has_value) t.shorts += ':';
        }
    }
    t.longs.push_back({nullptr, 0, nullptr, 0});
    return t;
}

// The row getopt_long answered `id` for (its id or its letter), or nullptr.
template <class Row, std::size_t N>
const Row *option_of(const Row (&rows)[N], int id) {
    for (const Row &r : rows)
        if (r.id == id || (r.letter != 0 && r.letter == id)) return &r;
    return nullptr;
}

}  // namespace tavik::cli

#endif  // TAVIK_OPTION_TABLE_H
