#include "input/input_recognition.hpp"

#include <cstring>

#include "mmcif/any_case.hpp"
#include "pdb/number_scan.hpp"

namespace record_scan {
namespace {

constexpr std::string_view data_block_keyword = "data_";

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// How much of the text one look takes in: a page, so that a small input's
// recognition touches little; long runs of blanks are looked at again.
constexpr std::size_t view_bytes = PeekableSource::look_bytes;

// Consumes up to and including the next line feed; false at the end of input.
bool skip_line(PeekableSource& text) {
    for (;;) {
        std::string_view ahead = text.peek(view_bytes);
        if (ahead.empty()) return false;
        const void* line_feed = std::memchr(ahead.data(), '\n', ahead.size());
        if (line_feed != nullptr) {
            text.consume(static_cast<const char*>(line_feed) - ahead.data() + 1);
            return true;
        }
        text.consume(ahead.size());
    }
}

}  // namespace

Compression recognise_compression(std::string_view start) {
    if (start.starts_with("\x1F\x8B")) return Compression::gzip;
    if (start.starts_with("BZh") && start.size() > 3 && start[3] >= '1' && start[3] <= '9')
        return Compression::bzip2;
    if (start.starts_with(std::string_view("\xFD" "7zXZ\0", 6))) return Compression::xz;
    if (start.starts_with("\x28\xB5\x2F\xFD")) return Compression::zstd;
    // A skippable frame's magic number is 0x184D2A50 to 0x184D2A5F, little-endian.
    if (start.size() >= 4 && (start[0] & 0xF0) == 0x50 && start.substr(1, 3) == "\x2A\x4D\x18")
        return Compression::zstd;
    if (start.starts_with("PK\x03\x04")) return Compression::unsupported;
    return Compression::none;
}

bool begins_binary_structure(std::string_view start) {
    if (start.empty()) return false;
    const auto lead = static_cast<unsigned char>(start[0]);
    std::size_t header = 0;
    if (lead >= 0x81 && lead <= 0x8f) header = 1;  // fixmap of 1 to 15 entries
    else if (lead == 0xde) header = 3;             // map16
    else if (lead == 0xdf) header = 5;             // map32
    if (header == 0 || start.size() <= header) return false;
    const auto key = static_cast<unsigned char>(start[header]);
    return (key >= 0xa0 && key <= 0xbf) || key == 0xd9 || key == 0xda || key == 0xdb;  // a str
}

TextStart recognise_text(PeekableSource& text) {
    if (text.peek(byte_order_mark.size()).starts_with(byte_order_mark))
        text.consume(byte_order_mark.size());
    bool line_started = false;  // some of the current line is consumed
    bool blanks_only = true;    // what is consumed of it is blanks and tabs
    for (;;) {
        std::string_view ahead = text.peek(view_bytes);
        if (ahead.empty()) return {};
        std::size_t i = 0;
        while (i < ahead.size() && ahead[i] != '\n' && is_c_space(ahead[i])) {
            blanks_only = blanks_only && (ahead[i] == ' ' || ahead[i] == '\t');
            ++i;
        }
        // Too little in view to judge the line: pass the white space, look again.
        // (A view shorter than asked for ends at the end of the input.)
        if (ahead.size() - i < data_block_keyword.size() && ahead.size() >= view_bytes) {
            text.consume(i);
            line_started = true;
            continue;
        }
        if (i == ahead.size()) return {};  // nothing but white space to the end
        if (ahead[i] == '\n' || ahead[i] == '#') {
            if (!skip_line(text)) return {};
            line_started = false;
            blanks_only = true;
            continue;
        }
        if (blanks_only && starts_with_any_case(ahead.substr(i), data_block_keyword)) {
            text.consume(i);
            return {TextLayout::mmcif, false};
        }
        return {TextLayout::pdb_columns, line_started || i > 0};
    }
}

}  // namespace record_scan
