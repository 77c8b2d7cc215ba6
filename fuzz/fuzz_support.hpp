// What the fuzz targets share: a reproducible stream of small random numbers
// drawn from the input itself, and the reference reading formatted so that
// two readings compare as strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "reference_reading.hpp"

namespace fuzz {

// xorshift64*: the same input always draws the same pieces.
class Draws {
public:
    explicit Draws(std::uint64_t seed) : state_(seed * 0x9e3779b97f4a7c15u + 1) {}
    std::size_t below(std::size_t limit) {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return static_cast<std::size_t>((state_ * 0x2545f4914f6cdd1du) >> 33) % limit;
    }

private:
    std::uint64_t state_;
};

// The last two bytes of a fuzz input steer its reading, so that a structure
// file is a good seed as it stands; the caller reads the rest as the file
// (needs size >= 2).
inline unsigned steering(const std::uint8_t* data, std::size_t size) {
    return data[size - 2] | (data[size - 1] << 8);
}

inline std::string describe(const record_scan::AtomXyz& atom) {
    char text[96];
    std::snprintf(text, sizeof text, "%a %a %a\n", atom.x, atom.y, atom.z);
    return text;
}

inline std::string describe(record_scan::ScanOutcome outcome) {
    switch (outcome) {
        case record_scan::ScanOutcome::record: return "record";
        case record_scan::ScanOutcome::end_of_input: return "end";
        case record_scan::ScanOutcome::incomplete: return "incomplete";
        case record_scan::ScanOutcome::read_error: return "read error";
    }
    return "?";
}

inline std::string describe(const reference::Reading& reading) {
    std::string text;
    for (const record_scan::AtomXyz& atom : reading.records) text += describe(atom);
    return text + describe(reading.end);
}

// Every outcome of a scanner over `source`, up to the first that is not a record.
inline std::string scan_all(record_scan::ByteSource& source, std::size_t block_bytes,
                            record_scan::Kernel kernel = record_scan::fastest_kernel()) {
    record_scan::RecordScanner scanner(source, block_bytes, kernel);
    record_scan::AtomXyz atom;
    std::string text;
    record_scan::ScanOutcome outcome;
    while ((outcome = scanner.next_record(atom)) == record_scan::ScanOutcome::record) text += describe(atom);
    return text + describe(outcome);
}

// The same, read a batch of records at a time: the scanner's own
// batches, or (`room` not 0) batches it writes into memory of `room` records.
inline std::string scan_all_by_batches(record_scan::ByteSource& source, std::size_t block_bytes,
                                       record_scan::Kernel kernel = record_scan::fastest_kernel(),
                                       std::size_t room = 0) {
    record_scan::RecordScanner scanner(source, block_bytes, kernel);
    std::span<const record_scan::AtomXyz> batch;
    std::string text;
    record_scan::ScanOutcome outcome;
    if (room != 0) {
        std::vector<record_scan::AtomXyz> into(room);
        std::size_t count;
        // An empty room, between reads and after the end, reads nothing.
        const auto nothing_read = [&] {
            if (scanner.next_records(std::span<record_scan::AtomXyz>(), count) != record_scan::ScanOutcome::record ||
                count != 0)
                std::abort();
        };
        nothing_read();
        while ((outcome = scanner.next_records(std::span(into), count)) == record_scan::ScanOutcome::record) {
            if (count == 0 || count > room) std::abort();  // no progress, or past the room given
            for (std::size_t i = 0; i < count; ++i) text += describe(into[i]);
            nothing_read();
        }
        nothing_read();
        if (scanner.next_records(std::span(into), count) != outcome) std::abort();  // the end given again
        return text + describe(outcome);
    }
    while ((outcome = scanner.next_records(batch)) == record_scan::ScanOutcome::record) {
        if (batch.empty()) std::abort();  // a batch that is no progress
        for (const record_scan::AtomXyz& atom : batch) text += describe(atom);
    }
    return text + describe(outcome);
}

// The same, read by axis runs: the runs of each axis joined in order and
// described atom by atom, so that the two readings compare as strings.
inline std::string scan_all_by_axes(record_scan::ByteSource& source, std::size_t block_bytes,
                                    record_scan::Kernel kernel = record_scan::fastest_kernel()) {
    record_scan::RecordScanner scanner(source, block_bytes, kernel);
    std::vector<float> axes[3];
    record_scan::AxisRun run;
    record_scan::ScanOutcome outcome;
    while ((outcome = scanner.next_axis_run(run)) == record_scan::ScanOutcome::record)
        for (std::size_t i = 0; i < run.count; ++i) axes[run.axis].push_back(run[i]);
    if (axes[0].size() != axes[1].size() || axes[1].size() != axes[2].size()) std::abort();
    std::string text;
    for (std::size_t i = 0; i < axes[0].size(); ++i) text += describe({axes[0][i], axes[1][i], axes[2][i]});
    return text + describe(outcome);
}

// A difference is a finding: say what differed and stop the run.
inline void require_same(const std::string& got, const std::string& want, const char* what) {
    if (got == want) return;
    std::fprintf(stderr, "%s differs\n--- got\n%s\n--- want\n%s\n", what, got.c_str(), want.c_str());
    std::abort();
}

}  // namespace fuzz
