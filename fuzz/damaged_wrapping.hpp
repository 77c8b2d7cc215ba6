// Compressed input with a bit flipped: whatever the scanner then counts as
// sound records (RecordScanner::sound_records) must be the true reading's
// first records, so that nothing false is kept.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "compression_writers.hpp"
#include "fuzz_support.hpp"
#include "memory_source.hpp"

namespace fuzz {

// A flip in the signature makes another file (garbage text, not a damaged
// stream); past it, the format's checks must catch what matters.
inline std::size_t signature_bytes(compression_writer::Format format) {
    using compression_writer::Format;
    switch (format) {
        case Format::gzip: return 2;
        case Format::bzip2: return 4;  // "BZh" and the block size
        case Format::xz: return 6;
        case Format::zstd: return 4;
    }
    return 0;
}

// One bit flipped past the signature.
inline void flip_a_bit(std::string& compressed, compression_writer::Format format, Draws& draws) {
    const std::size_t signature = signature_bytes(format);
    if (compressed.size() <= signature) return;
    compressed[signature + draws.below(compressed.size() - signature)] ^= static_cast<char>(1 << draws.below(8));
}

// The first `count` records described, as describe gives them.
inline std::string first_records(const std::string& described, std::uint64_t count) {
    std::size_t end = 0;
    for (; count > 0 && end < described.size(); --count) {
        std::size_t line_feed = described.find('\n', end);
        end = line_feed == std::string::npos ? described.size() : line_feed + 1;
    }
    return described.substr(0, end);
}

// One bit of the wrapped input flipped: what the scanner then counts as
// sound must be the plain text's first records, and an input whose checks
// all pass must read as the plain text.
inline void require_sound_prefix(const std::string& damaged, const std::string& plain, std::size_t largest_piece,
                          Draws& draws, const char* what) {
    MemorySource source(damaged, [&] { return 1 + draws.below(largest_piece); });
    record_scan::RecordScanner scanner(source, 1 + draws.below(300));
    std::string text;
    std::span<const record_scan::AtomXyz> batch;
    record_scan::ScanOutcome outcome;
    while ((outcome = scanner.next_records(batch)) == record_scan::ScanOutcome::record)
        for (const record_scan::AtomXyz& atom : batch) text += describe(atom);
    if (outcome != record_scan::ScanOutcome::read_error)
        return require_same(text + describe(outcome), plain, what);
    const std::uint64_t sound = scanner.sound_records();
    const auto handed_out = static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'));
    if (sound > handed_out)
        require_same(std::to_string(sound) + " sound records", "at most " + std::to_string(handed_out), what);
    require_same(first_records(text, sound), first_records(plain, sound), what);
}

}  // namespace fuzz
