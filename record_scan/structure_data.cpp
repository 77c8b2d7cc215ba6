// Whether an existing file holds structure data that a tool must never
// overwrite: recognised exactly as an input is, over its first MiB.
#include <algorithm>

#include "input/input_recognition.hpp"
#include "input/peekable_source.hpp"
#include "pdb/pdb_layout_reader.hpp"
#include "record_scan.hpp"
#include "structure_data.hpp"

namespace record_scan {
namespace {

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

bool holds_structure_data(std::FILE* stream) {
    FileSource file(stream);
    LeadingBytes lead(file, structure_search_bytes);
    PeekableSource bytes(lead);
    if (recognise_compression(bytes.peek(longest_signature_bytes)) != Compression::none)
        return true;
    if (begins_binary_structure(bytes.peek(longest_signature_bytes))) return true;
    TextStart start = recognise_text(bytes);
    if (start.layout == TextLayout::mmcif) return true;
    PdbLayoutReader records(bytes, PeekableSource::window_bytes, start.inside_line);
    AtomXyz ignored;
    ScanOutcome first = records.next_record(ignored);
    return first == ScanOutcome::record || first == ScanOutcome::incomplete;
}

}  // namespace record_scan
