#include <algorithm>
#include <cstring>

#include "pdb/number_scan.hpp"
#include "pdb/pdb_columns.hpp"
#include "pdb/pdb_layout_reader.hpp"
#include "pdb/plain_lines/plain_lines.hpp"
#include "record_scan.hpp"


namespace record_scan {
namespace {

// The scan of a record starts at column 31, the first of the X field.
constexpr std::size_t coordinates_offset = x_columns.first - 1;

bool is_followed_by_point(std::string_view text, const ScannedNumbers& numbers) {
    for (int i = 0; i < numbers.count; ++i)
        if (numbers.end[i] < text.size() && text[numbers.end[i]] == '.') return true;
    return false;
}

}  // namespace

bool is_atom_record(std::string_view chunk) {
    return chunk.starts_with("ATOM") || chunk.starts_with("HETATM");
}

bool scan_coordinates(std::string_view chunk, AtomXyz& atom) {
    if (read_fixed_point_fields(chunk, atom)) return true;
    if (chunk.size() < coordinates_offset) return false;
    std::string_view text = chunk.substr(coordinates_offset);
    ScannedNumbers numbers;
    if (!scan_numbers_fast(text, numbers)) {
        numbers = scan_numbers_exact(text);
        // Touching fields run together in a free-form reading; only the
        // columns can tell them apart.
        if (is_followed_by_point(text.substr(0, text.find('\0')), numbers))
            return read_coordinates_by_columns(chunk, atom);
        if (numbers.count < 3) return false;
    }
    atom = {numbers.value[0], numbers.value[1], numbers.value[2]};
    return true;
}

PdbLayoutReader::PdbLayoutReader(ByteSource& source, std::size_t block_bytes,
                                 bool starts_inside_line, Kernel kernel, CheckedText checked)
    : source_(source),
      block_bytes_(std::max(block_bytes, std::size_t{1})),
      // Room for a block after what is kept of the one before: less than a
      // chunk, or less than a kernel's look-ahead.
      buffer_(pooled_array<char>(
          block_bytes_ + std::max(max_chunk_bytes, plain_lines_lookahead))),
      inside_long_line_(starts_inside_line),
      read_plain_lines_(plain_lines_reader(kernel)),
      read_plain_extremes_(plain_extremes_reader(kernel)),
      checked_(checked) {}

void PdbLayoutReader::refill() {
    std::size_t kept = end_ - begin_;
    std::memmove(buffer_.get(), buffer_.get() + begin_, kept);
    buffer_offset_ += begin_;
    begin_ = 0;
    end_ = kept;
    ByteSource::Block block = source_.read(buffer_.get() + end_, block_bytes_);
    end_ += block.bytes;
    checked_end_ = checked_.end();
    if (block.failed) read_failed_ = true;
    else if (block.bytes == 0) input_ended_ = true;
}

// Cuts the next chunk as fgets into a 100-byte buffer would: up to and
// including a line feed, or 99 bytes, or what is left at the end.
bool PdbLayoutReader::next_chunk(std::string_view& chunk) {
    for (;;) {
        const char* begin = buffer_.get() + begin_;
        std::size_t available = end_ - begin_;
        std::size_t length;
        if (const void* line_feed =
                std::memchr(begin, '\n', std::min(available, max_chunk_bytes))) {
            length = static_cast<const char*>(line_feed) - begin + 1;
        } else if (available >= max_chunk_bytes) {
            length = max_chunk_bytes;
        } else if (read_failed_ || input_ended_) {
            // A chunk cut short by a failure is not delivered.
            if (read_failed_ || available == 0) return false;
            length = available;
        } else {
            refill();
            continue;
        }
        chunk = {begin, length};
        begin_ += length;
        return true;
    }
}

// Tops the buffer up to a kernel's look-ahead, then lets the kernel decode
// the plain lines ahead into `into`, `records` of them. False when it took
// none: the next line is the exact reader's.
bool PdbLayoutReader::decode_plain_lines(AtomXyz* into, std::size_t capacity, std::size_t& records) {
    if (!top_up_for_kernel()) return false;
    PlainRun run = read_plain_lines_(buffer_.get() + begin_, end_ - begin_, into, capacity);
    begin_ += run.bytes;
    records = run.records;
    return run.bytes != 0;
}

// The same for a fold: the plain lines ahead folded into `extremes`.
bool PdbLayoutReader::fold_plain_lines(FixedPointExtremes& extremes) {
    if (!top_up_for_kernel()) return false;
    std::size_t bytes = read_plain_extremes_(buffer_.get() + begin_, end_ - begin_, extremes);
    begin_ += bytes;
    return bytes != 0;
}

// False when the next bytes continue a long line, which no kernel takes,
// or hold the end of the checked text, which the exact reading finds.
bool PdbLayoutReader::top_up_for_kernel() {
    if (inside_long_line_) return false;
    while (end_ - begin_ < plain_lines_lookahead && !input_ended_ && !read_failed_) refill();
    return !checked_end_ahead();
}

// True when the checked text ends inside the bytes at hand: up to there
// the exact reading goes a chunk at a time, so that the records before
// that end are counted apart from those after it. Rare: it ends only
// where a unit (a stream, an xz or bzip2 block) ended, after the bytes a
// block read brought.
bool PdbLayoutReader::checked_end_ahead() const {
    return checked_end_ > buffer_offset_ + begin_ && checked_end_ < buffer_offset_ + end_;
}

void PdbLayoutReader::count_read(std::size_t records) {
    records_read_ += records;
    if (buffer_offset_ + begin_ <= checked_end_) sound_records_ = records_read_;
}

// One chunk by the exact reading: nothing when it is no record, else the
// record or what ended the records.
std::optional<ScanOutcome> PdbLayoutReader::take_chunk(AtomXyz& atom) {
    std::string_view chunk;
    if (!next_chunk(chunk)) return read_failed_ ? ScanOutcome::read_error : ScanOutcome::end_of_input;
    bool continues_line = inside_long_line_;
    inside_long_line_ = chunk.size() == max_chunk_bytes && chunk.back() != '\n';
    // The rest of a long line is never a record, whatever it begins with.
    if (continues_line || !is_atom_record(chunk)) return std::nullopt;
    return scan_coordinates(chunk, atom) ? ScanOutcome::record : ScanOutcome::incomplete;
}

// Decodes the next run of plain lines, or takes one chunk by the exact
// reading when the kernel stops, until a record or the end is found.
ScanOutcome PdbLayoutReader::read_on(AtomXyz& atom) {
    for (;;) {
        decoded_count_ = delivered_ = 0;
        if (decode_plain_lines(decoded_, decoded_capacity, decoded_count_)) {
            count_read(decoded_count_);
            if (decoded_count_ == 0) continue;
            atom = decoded_[delivered_++];
            return ScanOutcome::record;
        }
        if (std::optional<ScanOutcome> outcome = take_chunk(atom)) {
            if (*outcome == ScanOutcome::record) count_read(1);
            return *outcome;
        }
    }
}

// Fills `into` with up to `capacity` records: the plain lines ahead as
// `kernel_step` takes them (false when it took none), each other line by
// the exact reading, until `into` is full or the records end (noted in
// ended_by_). Gives how many it holds.
template <typename KernelStep>
std::size_t PdbLayoutReader::gather(AtomXyz* into, std::size_t capacity, KernelStep kernel_step) {
    std::size_t gathered = 0;
    while (gathered < capacity) {
        if (kernel_step(into, capacity, gathered)) continue;
        std::optional<ScanOutcome> outcome = take_chunk(into[gathered]);
        if (!outcome) continue;
        if (*outcome != ScanOutcome::record) {
            ended_by_ = outcome;
            break;
        }
        ++gathered;
        count_read(1);
    }
    return gathered;
}

// For batches and axis runs: the kernel decodes the plain lines into `into` too.
std::size_t PdbLayoutReader::gather_records(AtomXyz* into, std::size_t capacity) {
    return gather(into, capacity, [this](AtomXyz* records, std::size_t room, std::size_t& gathered) {
        std::size_t decoded;
        if (!decode_plain_lines(records + gathered, room - gathered, decoded)) return false;
        gathered += decoded;
        count_read(decoded);
        return true;
    });
}

// For a fold: the plain lines go into `extremes`, the others into decoded_.
void PdbLayoutReader::gather_unfolded_records(FixedPointExtremes& extremes) {
    decoded_count_ = gather(decoded_, decoded_capacity,
                            [this, &extremes](AtomXyz*, std::size_t, std::size_t&) { return fold_plain_lines(extremes); });
}

}  // namespace record_scan
