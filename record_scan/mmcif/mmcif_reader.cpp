#include "mmcif/mmcif_reader.hpp"

#include <algorithm>
#include <cstring>
#include <optional>

#include "buffer_pool.hpp"
#include "mmcif/atom_site_reading.hpp"
#include "mmcif/cif_outcomes.hpp"
#include "mmcif/loop_lines/cif_loop_lines.hpp"
#include "mmcif/cif_tokenizer.hpp"
#include "mmcif/cif_value_skip.hpp"

namespace record_scan {

// Bytes arrive in a buffer that keeps the unfinished line of the block
// before. The lines of loop values are read fast, whole; values that no
// reading needs are passed over, line by line where they can be; everything
// else, and any line longer than the buffer, goes through the tokenizer,
// which needs no more of a token than the bytes at hand.
struct MmcifReader::State {
    State(ByteSource& text, std::size_t block_bytes, Kernel kernel, CheckedText checked)
        : source(text),
          kernel(kernel),
          read_lines(loop_lines_reader(kernel)),
          capacity(std::max<std::size_t>(block_bytes, 1)),
          // Not zeroed: a small file touches only the pages it fills. The
          // fast reading's look past the end sees the zeros of overread_zeroed.
          buffer(pooled_array<char>(capacity + loop_lines_overread)),
          checked(checked) {
        overread_zeroed();
    }

    void overread_zeroed() { std::memset(buffer.get() + end, 0, loop_lines_overread); }

    void advance();
    std::optional<ScanOutcome> await_outcome();
    bool read_loop_lines();
    bool skip(CifSkip (*pass_over)(CifSkipPosition&, const char*, Kernel));
    void read_token(std::size_t limit);
    bool refill();
    std::uint64_t offset() const { return buffer_offset + begin; }
    bool checked_end_ahead() const { return checked_end > offset() && checked_end < buffer_offset + end; }
    void finish();

    ByteSource& source;
    const Kernel kernel;
    const LoopLinesReader read_lines;
    std::size_t capacity;
    PooledArray<char> buffer;
    std::size_t begin = 0;  // first unread byte in buffer
    std::size_t end = 0;    // one past the last byte in buffer
    bool input_ended = false;
    bool read_failed = false;
    // The line in hand is left to the tokenizer up to its end: it (or a
    // quoted value or text field on it) is longer than the buffer, or it is
    // the last line, without a line feed.
    bool tokenizer_line = false;
    const char* line_feed = nullptr;  // of the line being read fast, when known
    CifTokenizer tokenizer;
    OutcomeQueue queue;
    std::size_t handed_out = 0;  // records at the queue's front handed out by next_records
    AtomSiteReading reading{queue};
    std::optional<ScanOutcome> last;  // end_of_input or read_error, once reached
    CheckedText checked;
    std::uint64_t buffer_offset = 0;  // of buffer[0], from the text's first byte
    std::uint64_t checked_end = CheckedText::everything;  // as of the last refill
    std::uint64_t sound_records = 0;  // of the outcomes put, when the reading last stood in checked text
};

MmcifReader::MmcifReader(ByteSource& text, std::size_t block_bytes, Kernel kernel, CheckedText checked)
    : state_(std::make_unique<State>(text, block_bytes, kernel, checked)) {}

MmcifReader::~MmcifReader() = default;

ScanOutcome MmcifReader::next_record(AtomXyz& atom) {
    State& state = *state_;
    if (std::optional<ScanOutcome> last = state.await_outcome()) return *last;
    CifOutcome outcome = state.queue.pop();
    atom = outcome.atom;
    return outcome.kind;
}

ScanOutcome MmcifReader::next_records(const float*& first, std::size_t& count) {
    State& state = *state_;
    if (std::optional<ScanOutcome> last = state.await_outcome()) return *last;
    const CifOutcome* front = nullptr;
    count = state.queue.front_records(front);
    if (count == 0) return state.queue.pop().kind;
    first = &front->atom.x;
    state.handed_out = count;
    return ScanOutcome::record;
}

std::uint64_t MmcifReader::sound_records() const {
    const State& state = *state_;
    return state.offset() <= state.checked.end() ? state.queue.outcomes_put() : state.sound_records;
}

// Drops the records handed out last, then reads on until an outcome waits
// in the queue; the reader's last answer when none ever will.
std::optional<ScanOutcome> MmcifReader::State::await_outcome() {
    queue.drop(handed_out);
    handed_out = 0;
    while (queue.empty()) {
        if (last) return last;
        advance();
    }
    return std::nullopt;
}

// One step of either reading. Up to the end of the checked text, should it
// lie in the bytes at hand, only the tokenizer reads, and no further: the
// rows finished before that end are counted apart from those after it.
// Rare: it ends only where a unit (a stream, an xz or bzip2 block) ended,
// after the bytes a block read brought.
void MmcifReader::State::advance() {
    if (tokenizer_line && tokenizer.between_tokens() && tokenizer.at_line_start())
        tokenizer_line = false;
    if (checked_end_ahead()) {
        read_token(static_cast<std::size_t>(checked_end - buffer_offset));
    } else {
        const bool fast = !tokenizer_line && tokenizer.between_tokens();
        bool read = false;
        if (fast && reading.passes_values()) read = skip(skip_cif_values);
        else if (fast && reading.passes_names()) read = skip(skip_cif_names);
        else if (fast && reading.in_loop_values()) read = read_loop_lines();
        if (!read) read_token(end);
    }
    if (offset() <= checked_end) sound_records = queue.outcomes_put();
}

// False when the tokenizer must take the next step.
bool MmcifReader::State::read_loop_lines() {
    LoopLinePosition at{buffer.get() + begin, tokenizer.at_line_start(), line_feed};
    LoopLines result = read_lines(at, buffer.get() + end, reading.rows_read(), queue);
    begin = static_cast<std::size_t>(at.next - buffer.get());
    line_feed = at.line_feed;
    tokenizer.passed_over(at.at_line_start);
    switch (result) {
        case LoopLines::read: return true;
        case LoopLines::needs_bytes:
            if (refill()) return true;
            tokenizer_line = true;
            return false;
        case LoopLines::needs_tokenizer: return false;
    }
    return false;
}

// False when the tokenizer must take the next step.
bool MmcifReader::State::skip(CifSkip (*pass_over)(CifSkipPosition&, const char*, Kernel)) {
    CifSkipPosition at{buffer.get() + begin, tokenizer.at_line_start()};
    const CifSkip result = pass_over(at, buffer.get() + end, kernel);
    begin = static_cast<std::size_t>(at.next - buffer.get());
    tokenizer.passed_over(at.at_line_start);
    if (result == CifSkip::token) return false;
    if (refill()) return true;
    tokenizer_line = true;
    return false;
}

// Reads no further than `limit`, the end of the bytes at hand or before it.
void MmcifReader::State::read_token(std::size_t limit) {
    if (begin == end) {
        if (!refill()) {
            finish();
            return;
        }
        limit = end;
    }
    const char* p = buffer.get() + begin;
    bool complete = tokenizer.next(p, buffer.get() + limit);
    begin = static_cast<std::size_t>(p - buffer.get());
    if (complete) reading.take(tokenizer.token());
}

// Keeps the unread bytes and reads after them; false when nothing came.
bool MmcifReader::State::refill() {
    line_feed = nullptr;  // the bytes move
    std::memmove(buffer.get(), buffer.get() + begin, end - begin);
    buffer_offset += begin;
    end -= begin;
    begin = 0;
    if (input_ended || read_failed || end == capacity) return false;
    ByteSource::Block block = source.read(buffer.get() + end, capacity - end);
    end += block.bytes;
    checked_end = checked.end();
    overread_zeroed();
    read_failed = block.failed;
    input_ended = block.bytes == 0;
    return block.bytes > 0;
}

// Rows finished before a read failure stand; nothing after it is judged.
void MmcifReader::State::finish() {
    if (read_failed) {
        last = ScanOutcome::read_error;
        return;
    }
    if (tokenizer.finish()) reading.take(tokenizer.token());
    reading.end_of_input();
    last = ScanOutcome::end_of_input;
}

}  // namespace record_scan
