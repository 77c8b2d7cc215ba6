#include "input_recognition.hpp"

#include <algorithm>
#include <cstring>

#include "any_case.hpp"
#include "number_scan.hpp"
#include "pdb_layout_reader.hpp"

namespace record_scan {
namespace {

constexpr std::string_view data_block_keyword = "data_";

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// Consumes up to and including the next line feed; false at the end of input.
bool skip_line(PeekableSource& text) {
    for (;;) {
        std::string_view ahead = text.peek(PeekableSource::window_bytes);
        if (ahead.empty()) return false;
        const void* line_feed = std::memchr(ahead.data(), '\n', ahead.size());
        if (line_feed != nullptr) {
            text.consume(static_cast<const char*>(line_feed) - ahead.data() + 1);
            return true;
        }
        text.consume(ahead.size());
    }
}

// The first bytes of another source, and nothing after them.
class LeadingBytes final : public ByteSource {
public:
    LeadingBytes(ByteSource& source, std::size_t limit) : source_(source), left_(limit) {}
    Block read(char* into, std::size_t capacity) override {
        Block block = source_.read(into, std::min(capacity, left_));
        left_ -= block.bytes;
        return block;
    }

private:
    ByteSource& source_;
    std::size_t left_;
};

// How far a file is searched for an atom record before it is taken for
// something else, such as an old CSV.
constexpr std::size_t structure_search_bytes = std::size_t{1} << 20;

}  // namespace

Compression recognise_compression(std::string_view start) {
    if (start.starts_with("\x1F\x8B")) return Compression::gzip;
    bool bzip2 = start.starts_with("BZh") && start.size() > 3 && start[3] >= '1' && start[3] <= '9';
    if (bzip2 || start.starts_with(std::string_view("\xFD" "7zXZ\0", 6)) ||
        start.starts_with("\x28\xB5\x2F\xFD") || start.starts_with("PK\x03\x04"))
        return Compression::unsupported;
    return Compression::none;
}

TextStart recognise_text(PeekableSource& text) {
    if (text.peek(byte_order_mark.size()).starts_with(byte_order_mark))
        text.consume(byte_order_mark.size());
    bool line_started = false;  // some of the current line is consumed
    bool blanks_only = true;    // what is consumed of it is blanks and tabs
    for (;;) {
        std::string_view ahead = text.peek(PeekableSource::window_bytes);
        if (ahead.empty()) return {};
        std::size_t i = 0;
        while (i < ahead.size() && ahead[i] != '\n' && is_c_space(ahead[i])) {
            blanks_only = blanks_only && (ahead[i] == ' ' || ahead[i] == '\t');
            ++i;
        }
        // Too little in view to judge the line: pass the white space, look again.
        if (ahead.size() - i < data_block_keyword.size() &&
            ahead.size() == PeekableSource::window_bytes) {
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

bool holds_structure_data(std::FILE* stream) {
    FileSource file(stream);
    LeadingBytes lead(file, structure_search_bytes);
    PeekableSource bytes(lead);
    if (recognise_compression(bytes.peek(longest_signature_bytes)) != Compression::none)
        return true;
    TextStart start = recognise_text(bytes);
    if (start.layout == TextLayout::mmcif) return true;
    PdbLayoutReader records(bytes, PeekableSource::window_bytes, start.inside_line);
    AtomXyz ignored;
    ScanOutcome first = records.next_record(ignored);
    return first == ScanOutcome::record || first == ScanOutcome::incomplete;
}

}  // namespace record_scan
