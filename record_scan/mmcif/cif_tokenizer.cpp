#include "mmcif/cif_tokenizer.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "mmcif/any_case.hpp"

namespace record_scan {

CifTokenKind bare_token_kind(std::string_view text) {
    if (text.empty()) return CifTokenKind::value;
    if (text[0] == '_') return CifTokenKind::data_name;
    if (starts_with_any_case(text, "data_")) return CifTokenKind::data_block;
    if (starts_with_any_case(text, "save_")) return CifTokenKind::save_frame;
    if (equals_any_case(text, "loop_")) return CifTokenKind::loop;
    if (equals_any_case(text, "stop_")) return CifTokenKind::stop;
    if (equals_any_case(text, "global_")) return CifTokenKind::global;
    return CifTokenKind::value;
}

void CifTokenizer::begin_token(CifQuoting quoting) {
    token_.kind = CifTokenKind::value;
    token_.quoting = quoting;
    token_.length = 0;
}

void CifTokenizer::keep(const char* from, const char* to) {
    std::size_t count = static_cast<std::size_t>(to - from);
    if (token_.length < cif_kept_bytes)
        std::memcpy(token_.kept + token_.length, from,
                    std::min(count, cif_kept_bytes - token_.length));
    token_.length += count;
}

bool CifTokenizer::next(const char*& p, const char* end) {
    while (p != end) {
        switch (state_) {
            case State::between: skip_to_token(p, end); break;
            case State::comment: skip_comment(p, end); break;
            case State::bare:
                if (read_bare(p, end)) return true;
                break;
            case State::quoted:
            case State::quote_seen:
                if (read_quoted(p, end)) return true;
                break;
            case State::text_field:
                if (read_text_field(p, end)) return true;
                break;
        }
    }
    return false;
}

// Passes over white space; at the first byte of a token, decides its form.
void CifTokenizer::skip_to_token(const char*& p, const char* end) {
    for (; p != end; ++p) {
        char c = *p;
        if (is_cif_blank(c)) {
            line_start_ = c == '\n';
            continue;
        }
        if (c == '#') {
            state_ = State::comment;
        } else if (c == ';' && line_start_) {
            begin_token(CifQuoting::text_field);
            state_ = State::text_field;
            field_line_start_ = false;
            ++p;
        } else if (c == '\'' || c == '"') {
            begin_token(CifQuoting::quoted);
            quote_ = c;
            state_ = State::quoted;
            ++p;
        } else {
            begin_token(CifQuoting::bare);
            state_ = State::bare;
        }
        line_start_ = false;
        return;
    }
}

// The line feed is left for skip_to_token, which notes the line start.
void CifTokenizer::skip_comment(const char*& p, const char* end) {
    const void* line_feed = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    if (line_feed == nullptr) {
        p = end;
        return;
    }
    p = static_cast<const char*>(line_feed);
    state_ = State::between;
}

bool CifTokenizer::read_bare(const char*& p, const char* end) {
    const char* stop = first_cif_blank(p, end);
    read_long_number(p, stop);
    keep(p, stop);
    p = stop;
    if (stop == end) return false;
    end_bare_token();
    return true;
}

// A bare token past its kept bytes is read as a number on the way, since
// its text will be gone by its end.
void CifTokenizer::read_long_number(const char* from, const char* to) {
    const std::size_t before = token_.length;
    const std::size_t after = before + static_cast<std::size_t>(to - from);
    if (after <= cif_kept_bytes) return;
    if (before <= cif_kept_bytes) {
        long_number_ = CifNumberPieces{};
        long_number_.add({token_.kept, before});
        long_number_.add({from, to});
    } else {
        long_number_.add({from, to});
    }
}

void CifTokenizer::end_bare_token() {
    token_.kind = bare_token_kind(token_.text());
    token_.long_is_number = token_.is_long() && long_number_.value(token_.long_number);
    state_ = State::between;
}

// Only a quote followed by white space closes: "O5'" is one value, and a
// value never closed runs on over lines to the end of the input.
bool CifTokenizer::read_quoted(const char*& p, const char* end) {
    for (; p != end; ++p) {
        char c = *p;
        if (state_ == State::quote_seen) {
            if (is_cif_blank(c)) {
                state_ = State::between;
                return true;
            }
            keep(quote_);  // the quote seen was part of the value
            if (c == quote_) continue;
            state_ = State::quoted;
        }
        if (c == quote_) state_ = State::quote_seen;
        else keep(c);
    }
    return false;
}

// A text field runs from a ';' at a line start to the next line that
// begins with ';'. Its value leaves out the line feed before that ';'.
bool CifTokenizer::read_text_field(const char*& p, const char* end) {
    while (p != end) {
        if (field_line_start_ && *p == ';') {
            ++p;
            token_.length -= 1;
            state_ = State::between;
            line_start_ = false;
            return true;
        }
        const char* line_feed =
            static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        const char* stop = line_feed != nullptr ? line_feed + 1 : end;
        keep(p, stop);
        field_line_start_ = line_feed != nullptr;
        p = stop;
    }
    return false;
}

bool CifTokenizer::finish() {
    switch (state_) {
        case State::between:
        case State::comment: break;
        case State::bare: end_bare_token(); return true;
        case State::quoted:
        case State::quote_seen:
        case State::text_field: state_ = State::between; return true;
    }
    state_ = State::between;
    return false;
}

}  // namespace record_scan
