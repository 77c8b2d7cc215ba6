// The binary structure readers (MessagePack, BinaryCIF, MMTF) over damaged
// and mutated files: read by records and by axis runs, whole and in pieces
// of random size, with read failures, and gzip-wrapped, every reading must
// end alike and, when the file is whole, give the same atoms.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "damaged_wrapping.hpp"
#include "gzip_writer.hpp"
#include "memory_source.hpp"

namespace {

// The runs of each axis joined in order, then the outcome. Unlike
// fuzz::scan_all_by_axes, axes of different lengths are allowed: a column
// read before the damage is found further on is handed out whole.
struct Axes {
    std::vector<float> values[3];
    record_scan::ScanOutcome outcome;
};

Axes scan_axes(record_scan::ByteSource& source, std::size_t block_bytes) {
    record_scan::RecordScanner scanner(source, block_bytes);
    Axes axes;
    record_scan::AxisRun run;
    while ((axes.outcome = scanner.next_axis_run(run)) == record_scan::ScanOutcome::record) {
        if (run.axis > 2 || run.count == 0) std::abort();
        for (std::size_t i = 0; i < run.count; ++i) axes.values[run.axis].push_back(run[i]);
    }
    return axes;
}

std::string describe(const Axes& axes) {
    if (axes.values[0].size() != axes.values[1].size() || axes.values[1].size() != axes.values[2].size())
        return "axes of different lengths\n" + fuzz::describe(axes.outcome);
    std::string text;
    for (std::size_t i = 0; i < axes.values[0].size(); ++i)
        text += fuzz::describe({axes.values[0][i], axes.values[1][i], axes.values[2][i]});
    return text + fuzz::describe(axes.outcome);
}

std::string outcome_of(const std::string& description) { return description.substr(description.rfind('\n') + 1); }

// A run-length codec lets a few bytes claim a billion values (a column's
// length is checked against numAtoms only where that is known), and every
// reading below describes each atom as text: past this many, by records
// or by axis runs, the input is passed over, so that a run ends within its
// time limit.
constexpr std::uint64_t most_records = 100000;

bool has_few_records(const std::string& bytes) {
    MemorySource by_records(bytes);
    record_scan::RecordScanner records(by_records);
    std::span<const record_scan::AtomXyz> batch;
    std::uint64_t count = 0;
    while (records.next_records(batch) == record_scan::ScanOutcome::record)
        if ((count += batch.size()) > most_records) return false;
    MemorySource by_axes(bytes);
    record_scan::RecordScanner axes(by_axes);
    record_scan::AxisRun run;
    count = 0;
    while (axes.next_axis_run(run) == record_scan::ScanOutcome::record)
        if ((count += run.count) > 3 * most_records) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The last two bytes steer the reading; the rest is the file.
    const unsigned steer = fuzz::steering(data, size);
    fuzz::Draws draws(steer);
    const std::string bytes(reinterpret_cast<const char*>(data), size - 2);
    const std::size_t largest_piece = 1 + draws.below(steer & 2 ? 16 : 70000);

    // A compressed text is fuzz/scanner_fuzzer.cpp's. A damaged stream's
    // error surfaces sooner or later as its pieces come, so the records
    // before it may differ: of those only the outcome is compared.
    bool only_outcome = false;
    if (const reference::Decompression decompress = reference::decompression_of(bytes)) {
        const std::optional<std::string> inner = decompress(bytes);
        if (inner && !reference::is_binary_structure(*inner)) return 0;
        only_outcome = !inner;
    }

    if (!has_few_records(bytes)) return 0;
    MemorySource whole(bytes);
    const std::string by_records = fuzz::scan_all(whole, record_scan::RecordScanner::default_block_bytes);
    MemorySource pieces(bytes, [&] { return 1 + draws.below(largest_piece); });
    const std::string by_pieces = fuzz::scan_all(pieces, 1 + draws.below(300));
    if (only_outcome) fuzz::require_same(outcome_of(by_pieces), outcome_of(by_records), "outcome in pieces");
    else fuzz::require_same(by_pieces, by_records, "records in pieces");

    MemorySource runs(bytes, [&] { return 1 + draws.below(largest_piece); });
    const std::string by_axes = describe(scan_axes(runs, 1 + draws.below(300)));
    // Complete, the atoms agree; else the outcome (by axis runs, values
    // after a row without a number are still handed out).
    if (outcome_of(by_records) == "end") fuzz::require_same(by_axes, by_records, "axis runs");
    else fuzz::require_same(outcome_of(by_axes), outcome_of(by_records), "outcome of axis runs");

    // A read failure part way: a read error, unless the failure comes after the last byte.
    const std::size_t fail_after = draws.below(bytes.size() + 1);
    MemorySource failing(bytes, [&] { return 1 + draws.below(largest_piece); }, fail_after);
    const std::string failed = outcome_of(fuzz::scan_all(failing, 1 + draws.below(300)));
    if (fail_after < bytes.size() && reference::is_binary_structure(bytes.substr(0, fail_after)))
        fuzz::require_same(failed, "read error", "reading that fails");

    // Inflated, a binary file reads as it does plain (a text may not: its
    // start is not searched for a signature again).
    if (!reference::is_binary_structure(bytes)) return 0;
    MemorySource wrapped(gzip_writer::member(bytes, static_cast<int>(draws.below(10))),
                         [&] { return 1 + draws.below(largest_piece); });
    fuzz::require_same(fuzz::scan_all(wrapped, 1 + draws.below(300)), by_records, "gzip-wrapped reading");
    std::string damaged = gzip_writer::member(bytes, static_cast<int>(draws.below(10)));
    fuzz::flip_a_bit(damaged, compression_writer::Format::gzip, draws);
    fuzz::require_sound_prefix(damaged, by_records, largest_piece, draws, "sound records of a damaged gzip-wrapped file");
    return 0;
}
