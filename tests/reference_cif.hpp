// The plain, obviously correct mmCIF reading that the streaming reader is
// checked against: the whole text cut into tokens first, then the atom
// rows taken from the _atom_site loops and name-value pairs. Clarity over
// speed: everything is held in memory.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "record_scan.hpp"

namespace reference::cif {

enum class TokenKind { value, name, loop, data, save, global, stop };

struct Token {
    TokenKind kind = TokenKind::value;
    std::string text;   // a quoted value or text field without its delimiters
    bool bare = false;  // a value neither quoted nor a text field
};

inline bool is_white(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

inline std::string lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

inline bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

inline Token bare_token(std::string text) {
    const std::string word = lowered(text);
    TokenKind kind = TokenKind::value;
    if (word[0] == '_') kind = TokenKind::name;
    else if (starts_with(word, "data_")) kind = TokenKind::data;
    else if (starts_with(word, "save_")) kind = TokenKind::save;
    else if (word == "loop_") kind = TokenKind::loop;
    else if (word == "global_") kind = TokenKind::global;
    else if (word == "stop_") kind = TokenKind::stop;
    return {kind, std::move(text), kind == TokenKind::value};
}

// Cuts a whole text into tokens. Lines end at line feeds. A text field or a
// quoted value that is never closed runs to the end of the text.
inline std::vector<Token> tokens(const std::string& text) {
    std::vector<Token> found;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const char c = text[i];
        if (is_white(c)) {
            ++i;
        } else if (c == ';' && (i == 0 || text[i - 1] == '\n')) {
            std::size_t close = text.find("\n;", i + 1);
            std::size_t end = close == std::string::npos ? n : close;
            found.push_back({TokenKind::value, text.substr(i + 1, end - i - 1), false});
            i = close == std::string::npos ? n : close + 2;
        } else if (c == '#') {
            std::size_t line_end = text.find('\n', i);
            i = line_end == std::string::npos ? n : line_end;
        } else if (c == '\'' || c == '"') {
            std::size_t close = i + 1;
            while (close < n && !(text[close] == c && (close + 1 == n || is_white(text[close + 1]))))
                ++close;
            found.push_back({TokenKind::value, text.substr(i + 1, close - i - 1), false});
            i = close + 1;
        } else {
            std::size_t end = i;
            while (end < n && !is_white(text[end])) ++end;
            found.push_back(bare_token(text.substr(i, end - i)));
            i = end;
        }
    }
    return found;
}

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

inline std::size_t digits_from(const std::string& text, std::size_t i) {
    std::size_t end = i;
    while (end < text.size() && is_digit(text[end])) ++end;
    return end - i;
}

// A coordinate as CIF writes one: an unquoted
// [+-]?(digits[.digits]|digits.|.digits)([eE][+-]?digits)? with an optional
// "(digits)" uncertainty that is dropped; nearest float, correctly rounded.
inline std::optional<float> number(const Token& token) {
    if (!token.bare) return std::nullopt;
    const std::string& s = token.text;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    const std::size_t whole = digits_from(s, i);
    i += whole;
    std::size_t fraction = 0;
    if (i < s.size() && s[i] == '.') {
        ++i;
        fraction = digits_from(s, i);
        i += fraction;
    }
    if (whole == 0 && fraction == 0) return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        const std::size_t exponent = digits_from(s, i);
        if (exponent == 0) return std::nullopt;
        i += exponent;
    }
    const std::string number_text = s.substr(0, i);
    if (i < s.size()) {
        const std::size_t uncertainty = s[i] == '(' ? digits_from(s, i + 1) : 0;
        if (uncertainty == 0 || i + 1 + uncertainty + 1 != s.size() || s.back() != ')')
            return std::nullopt;
    }
    return std::strtof(number_text.c_str(), nullptr);
}

inline bool in_atom_site(const std::string& name) {
    return lowered(name.substr(0, name.find('.'))) == "_atom_site";
}

// Where the columns an atom needs are, by their full names in any letter
// case; the first of repeated names counts.
struct AtomColumns {
    static constexpr std::size_t absent = std::string::npos;
    std::size_t x = absent, y = absent, z = absent, group = absent;

    explicit AtomColumns(const std::vector<std::string>& names) {
        for (std::size_t i = names.size(); i-- > 0;) {
            const std::string name = lowered(names[i]);
            if (name == "_atom_site.cartn_x") x = i;
            if (name == "_atom_site.cartn_y") y = i;
            if (name == "_atom_site.cartn_z") z = i;
            if (name == "_atom_site.group_pdb") group = i;
        }
    }
    bool has_coordinates() const { return x != absent && y != absent && z != absent; }
};

// Reads the atoms of a whole text that opens with a data_ line.
class Reader {
public:
    // Fills `records` and returns how the reading ended.
    record_scan::ScanOutcome read(const std::string& text, std::vector<record_scan::AtomXyz>& records) {
        records_ = &records;
        tokens_ = tokens(text);
        std::size_t k = 0;
        while (k < tokens_.size() && !incomplete_) {
            switch (tokens_[k].kind) {
                case TokenKind::data: end_block(); ++k; break;
                case TokenKind::loop: k = read_loop(k + 1); break;
                case TokenKind::name: k = read_pair(k); break;
                default: ++k; break;  // stray values, save frames, global_ and stop_
            }
        }
        if (!incomplete_) end_block();
        return incomplete_ ? record_scan::ScanOutcome::incomplete : record_scan::ScanOutcome::end_of_input;
    }

private:
    // One row's values by column; false when it is counted but incomplete.
    bool take_row(const AtomColumns& columns, const std::vector<const Token*>& row) {
        if (columns.group != AtomColumns::absent) {
            const std::string& group = row[columns.group]->text;
            if (group != "ATOM" && group != "HETATM") return true;
        }
        std::optional<float> x = number(*row[columns.x]);
        std::optional<float> y = number(*row[columns.y]);
        std::optional<float> z = number(*row[columns.z]);
        if (!x || !y || !z) return false;
        records_->push_back({*x, *y, *z});
        return true;
    }

    std::size_t read_loop(std::size_t k) {
        std::vector<std::string> names;
        for (; k < tokens_.size() && tokens_[k].kind == TokenKind::name; ++k) names.push_back(tokens_[k].text);
        std::vector<const Token*> values;
        for (; k < tokens_.size() && tokens_[k].kind == TokenKind::value; ++k) values.push_back(&tokens_[k]);
        if (names.empty() || !in_atom_site(names[0]) || values.empty()) return k;
        const AtomColumns columns(names);
        if (!columns.has_coordinates()) {
            incomplete_ = true;
            return k;
        }
        for (std::size_t first = 0; first + names.size() <= values.size(); first += names.size()) {
            std::vector<const Token*> row(values.begin() + first, values.begin() + first + names.size());
            if (!take_row(columns, row)) {
                incomplete_ = true;
                return k;
            }
        }
        incomplete_ = values.size() % names.size() != 0;  // the last row is cut short
        return k;
    }

    std::size_t read_pair(std::size_t k) {
        const Token& name = tokens_[k];
        const bool has_value = k + 1 < tokens_.size() && tokens_[k + 1].kind == TokenKind::value;
        if (!in_atom_site(name.text)) return has_value ? k + 2 : k + 1;
        if (!has_value) {
            incomplete_ = k + 1 == tokens_.size();  // a valueless name elsewhere is passed over
            return k + 1;
        }
        pair_names_.push_back(name.text);
        pair_values_.push_back(&tokens_[k + 1]);
        return k + 2;
    }

    // The block's name-value pairs of _atom_site make one row.
    void end_block() {
        if (pair_names_.empty()) return;
        const AtomColumns columns(pair_names_);
        incomplete_ = !columns.has_coordinates() || !take_row(columns, pair_values_);
        pair_names_.clear();
        pair_values_.clear();
    }

    std::vector<record_scan::AtomXyz>* records_ = nullptr;
    std::vector<Token> tokens_;
    std::vector<std::string> pair_names_;
    std::vector<const Token*> pair_values_;
    bool incomplete_ = false;
};

}  // namespace reference::cif
