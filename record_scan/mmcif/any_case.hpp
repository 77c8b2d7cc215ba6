// Comparing text with a lower-case keyword in any letter case, as CIF
// compares its reserved words and data names. ASCII only, and no locale.
#pragma once

#include <cstddef>
#include <string_view>

namespace record_scan {

constexpr char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

constexpr bool starts_with_any_case(std::string_view text, std::string_view lower_prefix) {
    if (text.size() < lower_prefix.size()) return false;
    for (std::size_t i = 0; i < lower_prefix.size(); ++i)
        if (ascii_lower(text[i]) != lower_prefix[i]) return false;
    return true;
}

constexpr bool equals_any_case(std::string_view text, std::string_view lower_word) {
    return text.size() == lower_word.size() && starts_with_any_case(text, lower_word);
}

}  // namespace record_scan
