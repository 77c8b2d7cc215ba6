// The scanner against the plain reading, over inputs handed out in pieces
// of random size (from one byte) through blocks of random size, so that
// every chunk straddles a read boundary somewhere; read failures included;
// then the same input wrapped in each compressed format, whole and with a
// bit flipped (only the sound records count then).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "damaged_wrapping.hpp"
#include "fuzz_support.hpp"
#include "compression_writers.hpp"
#include "memory_source.hpp"

namespace {

// Damaged compressed data and failed mmCIF reads leave the records before
// the read error open: then only the outcome is compared.
void require_agreement(const std::string& got, const reference::Reading& want, const char* what) {
    if (!want.only_end_known) return fuzz::require_same(got, fuzz::describe(want), what);
    const std::string outcome = got.substr(got.rfind('\n') + 1);
    if (want.end_may_be_incomplete && outcome == "incomplete") return;
    fuzz::require_same(outcome, fuzz::describe(want.end), what);
}

using compression_writer::Format;

// The input as one or two streams of the format (the first may be empty),
// with what the format allows between them: xz padding, a zstd skippable frame.
std::string wrapped(Format format, const std::string& bytes, fuzz::Draws& draws) {
    const int level = static_cast<int>(draws.below(10));
    const std::size_t cut = draws.below(2) ? draws.below(bytes.size() + 1) : 0;
    auto stream = [&](const std::string& part) {
        if (format == Format::gzip) return gzip_writer::member(part, level);
        return compression_writer::stream(format, part, true);
    };
    std::string between;
    if (format == Format::xz && draws.below(2)) between = std::string(4 * draws.below(3), '\0');
    if (format == Format::zstd && draws.below(2)) between = compression_writer::zstd_skippable(bytes.substr(cut / 2, 50));
    return stream(bytes.substr(0, cut)) + between + stream(bytes.substr(cut));
}

// A centre drawn from values that make ties, NaNs and infinities.
record_scan::Point drawn_centre(fuzz::Draws& draws) {
    static const float values[] = {0.0f, -0.0f, 1.5f, -250.25f, 9999.999f, NAN, INFINITY, -1e30f};
    return {values[draws.below(8)], values[draws.below(8)], values[draws.below(8)]};
}

std::string described_reach(const record_scan::Point& radius, record_scan::ScanOutcome outcome) {
    if (outcome != record_scan::ScanOutcome::end_of_input) return fuzz::describe(outcome);
    return fuzz::describe({radius[0], radius[1], radius[2]}) + fuzz::describe(outcome);
}

// The plain fold of the plain reading's records: a greater distance
// replaces, a NaN never.
std::string plain_reach(const reference::Reading& want, const record_scan::Point& centre) {
    record_scan::Point radius = {0, 0, 0};
    for (const record_scan::AtomXyz& atom : want.records) {
        const float v[3] = {atom.x, atom.y, atom.z};
        for (int axis = 0; axis < 3; ++axis)
            if (std::fabs(v[axis] - centre[axis]) > radius[axis]) radius[axis] = std::fabs(v[axis] - centre[axis]);
    }
    return described_reach(radius, want.end);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The last two bytes steer the reading, so that a structure file is a
    // good seed as it stands; the rest is the file.
    const unsigned steer = fuzz::steering(data, size);
    fuzz::Draws draws(steer);
    const std::string bytes(reinterpret_cast<const char*>(data), size - 2);
    const std::size_t fail_after = steer & 1 ? draws.below(bytes.size() + 1) : std::string::npos;

    const reference::Reading want = reference::read_bytes(bytes, fail_after);
    if (want.binary) return 0;  // binary structure files: fuzz/binary_fuzzer.cpp
    const std::size_t largest_piece = 1 + draws.below(200);
    // Every kernel this machine can run, the portable one included.
    for (record_scan::Kernel kernel : record_scan::available_kernels()) {
        MemorySource whole(bytes, {}, fail_after);
        const std::string by_records = fuzz::scan_all(whole, record_scan::RecordScanner::default_block_bytes, kernel);
        require_agreement(by_records, want, "whole-input reading");
        MemorySource whole_again(bytes, {}, fail_after);
        fuzz::require_same(fuzz::scan_all_by_axes(whole_again, record_scan::RecordScanner::default_block_bytes, kernel),
                           by_records, "reading by axis runs");
        MemorySource pieces(bytes, [&] { return 1 + draws.below(largest_piece); }, fail_after);
        require_agreement(fuzz::scan_all(pieces, 1 + draws.below(300), kernel), want, "piecewise reading");
        MemorySource batches(bytes, [&] { return 1 + draws.below(largest_piece); }, fail_after);
        require_agreement(fuzz::scan_all_by_batches(batches, 1 + draws.below(300), kernel,
                                                    draws.below(2) ? 0 : 1 + draws.below(300)),
                          want, "piecewise reading by batches");
        // The fold of extremes, in pieces: the same centre drawn for both.
        if (!want.only_end_known) {
            const record_scan::Point centre = drawn_centre(draws);
            MemorySource folded(bytes, [&] { return 1 + draws.below(largest_piece); }, fail_after);
            record_scan::RecordScanner scanner(folded, 1 + draws.below(300), kernel);
            record_scan::Point radius;
            const record_scan::ScanOutcome outcome = record_scan::reach(scanner, centre, radius);
            fuzz::require_same(described_reach(radius, outcome), plain_reach(want, centre), "reach");
        }
    }

    // Decompressed, the text reads as it does plain; its start is not
    // searched for a signature again. A failure read early may have hidden
    // that the input is a binary structure file: those are wrapped by
    // fuzz/binary_fuzzer.cpp.
    const reference::Reading whole_text = reference::read_text(bytes);
    if (whole_text.binary) return 0;
    const std::string plain = fuzz::describe(whole_text);
    for (Format format : compression_writer::formats) {
        MemorySource source(wrapped(format, bytes, draws), [&] { return 1 + draws.below(largest_piece); });
        const std::string what = std::string(compression_writer::name(format)) + "-wrapped reading";
        fuzz::require_same(fuzz::scan_all(source, 1 + draws.below(300)), plain, what.c_str());
        std::string damaged = wrapped(format, bytes, draws);
        fuzz::flip_a_bit(damaged, format, draws);
        const std::string damaged_what = std::string("sound records of a damaged ") + compression_writer::name(format) + " input";
        fuzz::require_sound_prefix(damaged, plain, largest_piece, draws, damaged_what.c_str());
    }
    return 0;
}
