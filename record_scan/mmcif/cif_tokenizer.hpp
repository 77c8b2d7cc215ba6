// The tokens of a CIF text, read in one pass over blocks of any size and in
// constant memory: only the first bytes of a token are kept, so a 10 MB
// text field or line costs no more memory than a short one.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "mmcif/cif_number.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace record_scan {

// The bytes kept of a token: more than every data name and number looked
// at. A longer token is only known to be long.
inline constexpr std::size_t cif_kept_bytes = 64;

// White space between tokens. A line ends at its line feed; a carriage
// return is white space like a blank.
constexpr bool is_cif_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

enum class CifTokenKind : unsigned char {
    value,
    data_name,   // begins with '_'
    loop,        // loop_
    data_block,  // data_...
    save_frame,  // save_...
    global,      // global_
    stop,        // stop_
};

enum class CifQuoting : unsigned char { bare, quoted, text_field };

// The first white space in [p, end), or end: where a bare token ends. Data names and long values
// make up much of a file's text outside the atom rows: 16 bytes at a time
// with SSE2 (every x86-64 has it) while 16 are left; elsewhere eight at a
// time, each byte of white space found as a zero byte after an exclusive
// or, whose lowest flag is exact (a borrow runs only upwards from a zero
// byte), so the first of any of the four is.
inline const char* first_cif_blank(const char* p, const char* end) {
#if defined(__SSE2__)
    for (; end - p >= 16; p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const auto is = [v](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
        const __m128i blank = _mm_or_si128(_mm_or_si128(is(' '), is('\t')), _mm_or_si128(is('\n'), is('\r')));
        if (const unsigned found = static_cast<unsigned>(_mm_movemask_epi8(blank)); found != 0)
            return p + std::countr_zero(found);
    }
#else
    if constexpr (std::endian::native == std::endian::little) {
        constexpr std::uint64_t ones = 0x0101010101010101u;
        constexpr std::uint64_t highs = 0x8080808080808080u;
        const auto zero_bytes = [](std::uint64_t word) { return (word - ones) & ~word & highs; };
        for (; end - p >= 8; p += 8) {
            std::uint64_t word;
            std::memcpy(&word, p, sizeof word);
            const std::uint64_t blanks = zero_bytes(word ^ (ones * ' ')) | zero_bytes(word ^ (ones * '\t')) |
                                         zero_bytes(word ^ (ones * '\n')) | zero_bytes(word ^ (ones * '\r'));
            if (blanks != 0) return p + std::countr_zero(blanks) / 8;
        }
    }
#endif
    while (p != end && !is_cif_blank(*p)) ++p;
    return p;
}

// What a bare token (no quotes, no text field) is; `text` may be the first
// bytes of a longer token.
CifTokenKind bare_token_kind(std::string_view text);

struct CifToken {
    CifTokenKind kind = CifTokenKind::value;
    CifQuoting quoting = CifQuoting::bare;
    // The length of the whole text: for a quoted value or a text field, of
    // what lies between its delimiters.
    std::size_t length = 0;
    // 8 bytes more than kept, so that a number can be read a word at a time.
    char kept[cif_kept_bytes + 8] = {};

    // A long bare token's reading as a number, made while it went by.
    bool long_is_number = false;
    float long_number = 0;

    bool is_long() const { return length > cif_kept_bytes; }
    // The whole text, or its first bytes when it is long.
    std::string_view text() const { return {kept, is_long() ? cif_kept_bytes : length}; }
};

class CifTokenizer {
public:
    // Reads from `p` towards `end`. True when a token is complete (see
    // token()), `p` just past it; false when every byte up to `end` has
    // been used, what is in progress kept for the next call.
    bool next(const char*& p, const char* end);

    // At the end of the input: true when it completes a token, such as a
    // bare token or a quoted value or text field never closed (each of
    // which runs to the end).
    bool finish();

    const CifToken& token() const { return token_; }

    bool between_tokens() const { return state_ == State::between; }
    // Between tokens: whether the next byte begins a line.
    bool at_line_start() const { return line_start_; }
    // Another reading passed over whole tokens and white space: it leaves
    // the tokenizer between tokens, at a line start or not.
    void passed_over(bool at_line_start) { line_start_ = at_line_start; }

private:
    enum class State : unsigned char { between, bare, quoted, quote_seen, comment, text_field };

    void skip_to_token(const char*& p, const char* end);
    bool read_bare(const char*& p, const char* end);
    bool read_quoted(const char*& p, const char* end);
    bool read_text_field(const char*& p, const char* end);
    void skip_comment(const char*& p, const char* end);
    void begin_token(CifQuoting quoting);
    void keep(const char* from, const char* to);
    void keep(char c) { keep(&c, &c + 1); }
    void read_long_number(const char* from, const char* to);
    void end_bare_token();

    State state_ = State::between;
    bool line_start_ = true;
    char quote_ = 0;
    bool field_line_start_ = false;  // inside a text field: the next byte begins a line
    CifNumberPieces long_number_;    // a bare token longer than its kept bytes
    CifToken token_;
};

}  // namespace record_scan
