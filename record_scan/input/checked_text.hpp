// How much of a reader's text a compressed input's checks have vouched for,
// counted from the reader's own first byte: a reader that knows where that
// part ends can tell which of its records no later damage can take back.
#pragma once

#include <cstdint>
#include <limits>

#include "input/decompressing_source.hpp"

namespace record_scan {

class CheckedText {
public:
    static constexpr std::uint64_t everything = std::numeric_limits<std::uint64_t>::max();

    // Text that is not compressed: there is no check to wait for.
    CheckedText() = default;
    // The reader's first byte is the decoded byte at `first_byte`.
    CheckedText(const DecompressingSource* source, std::uint64_t first_byte)
        : source_(source), first_byte_(first_byte) {}

    // The reader's bytes before this offset are checked.
    std::uint64_t end() const {
        if (source_ == nullptr) return everything;
        std::uint64_t checked = source_->checked_bytes();
        return checked > first_byte_ ? checked - first_byte_ : 0;
    }

private:
    const DecompressingSource* source_ = nullptr;
    std::uint64_t first_byte_ = 0;
};

}  // namespace record_scan
