// What the builds of the fast loop-line reading for each instruction set
// share: none of it depends on the instructions.
#pragma once

#include <cstddef>
#include <cstdint>

#include "atom_site_rows.hpp"
#include "cif_loop_lines.hpp"
#include "cif_tokenizer.hpp"

namespace record_scan::loop_lines {

// Windows of 64 bytes advance by 56, so that a token starting in a window
// has its 5th and 7th bytes in view for the reserved-word test.
inline constexpr std::size_t window_step = 56;

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

// Whether the rows the line can finish fit in `out`: a row has at least one
// value, and a value takes at least a byte and a blank.
inline bool has_room_for_line(const LoopLinePosition& at, const AtomSiteLoop& rows, const OutcomeQueue& out) {
    std::size_t values = (static_cast<std::size_t>(at.line_feed - at.next) + 1) / 2;
    return values / rows.names() + 1 <= out.room();
}

}  // namespace record_scan::loop_lines
