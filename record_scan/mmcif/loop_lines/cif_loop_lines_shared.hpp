// What the builds of the fast loop-line reading for each instruction set
// share: none of it depends on the instructions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "mmcif/atom_site_rows.hpp"
#include "mmcif/loop_lines/cif_loop_lines.hpp"
#include "mmcif/cif_tokenizer.hpp"

namespace record_scan::loop_lines {

// Windows of 64 bytes advance by 56, so that a token starting in a window
// has its 5th and 7th bytes in view for the reserved-word test.
inline constexpr std::size_t window_step = 56;

// What the reading of a row's line needs of a 64-byte window: bit i of
// each mask tells about byte i (CifByteMasks without quotes and underscores).
struct CifLineMasks {
    std::uint64_t blank;
    std::uint64_t special;
    std::uint64_t line_feed;
};

// The length of a token, found byte by byte; the line feed ends every token.
inline std::size_t token_length_from(const char* token) {
    const char* stop = token + 1;
    while (!is_cif_blank(*stop)) ++stop;
    return static_cast<std::size_t>(stop - token);
}

// Of the tokens starting at the bits of `starts`, those that are reserved
// words (data_, loop_, ...): each has a '_' at its 5th or 7th byte.
inline std::uint64_t reserved_words(const char* window, std::uint64_t starts, std::uint64_t underscores) {
    std::uint64_t reserved = 0;
    for (std::uint64_t maybe = starts & ((underscores >> 4) | (underscores >> 6)); maybe != 0;
         maybe &= maybe - 1) {
        int bit = __builtin_ctzll(maybe);
        const char* token = window + bit;
        if (bare_token_kind({token, token_length_from(token)}) != CifTokenKind::value)
            reserved |= std::uint64_t{1} << bit;
    }
    return reserved;
}

// A table for a byte-shuffle class test: `members` at the places of their
// low four bits, 0xff elsewhere. Each byte is compared with the member its
// low bits name: no byte below 0x80 equals 0xff, and a byte of 0x80 or more
// looks up 0, which it is not.
constexpr std::array<char, 16> by_low_bits(std::initializer_list<char> members) {
    std::array<char, 16> table{};
    for (char& entry : table) entry = static_cast<char>(0xff);
    for (char member : members) {
        char& entry = table[static_cast<unsigned char>(member) & 15];
        if (entry != static_cast<char>(0xff)) throw "two members share their low four bits";
        entry = member;
    }
    return table;
}

// White space and the special bytes each differ in their low four bits.
inline constexpr std::array<char, 16> blank_table = by_low_bits({' ', '\t', '\n', '\r'});
inline constexpr std::array<char, 16> special_table = by_low_bits({'\'', '"', '#', '_'});

// What the reading of rows by their layout needs of a line's 128 bytes:
// bit i of each pair of words tells about byte i.
struct RowClasses {
    std::uint64_t blank[2];
    std::uint64_t stop[2];  // a special byte, ';' or the line feed
};

// The line feed's and ';''s low bits differ from those of the special bytes.
inline constexpr std::array<char, 16> row_stop_table = by_low_bits({'\'', '"', '#', '_', ';', '\n'});

constexpr bool is_quote(char c) { return c == '\'' || c == '"'; }

// Of the tokens starting with a quote at the bits of `starts`, those that
// do not end with the same quote: their values span white space.
inline std::uint64_t unclosed_quotes(const char* window, std::uint64_t starts) {
    std::uint64_t unclosed = 0;
    for (; starts != 0; starts &= starts - 1) {
        int bit = __builtin_ctzll(starts);
        const char* token = window + bit;
        std::size_t length = token_length_from(token);
        if (length < 2 || token[length - 1] != token[0]) unclosed |= std::uint64_t{1} << bit;
    }
    return unclosed;
}

// A value read in place: a quoted one without its quotes.
inline CifValue plain_value(const char* token, std::size_t length) {
    if (is_quote(token[0])) return {token + 1, length - 2, CifQuoting::quoted};
    return {token, length, CifQuoting::bare};
}

}  // namespace record_scan::loop_lines
