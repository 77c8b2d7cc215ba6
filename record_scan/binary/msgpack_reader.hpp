// A MessagePack pull reader over a ByteSource, in constant memory: one
// value's header at a time, str and bin bytes handed out in pieces of a
// fixed buffer or passed over without a copy. It never allocates by a
// claimed size: a length or count is believed only as its bytes arrive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "buffer_pool.hpp"
#include "record_scan.hpp"

namespace record_scan {

enum class MsgpackKind : unsigned char { nil, boolean, integer, floating, string, binary, array, map, extension };

struct MsgpackHeader {
    MsgpackKind kind = MsgpackKind::nil;
    std::uint64_t length = 0;  // entries of a map or array, bytes of a string, bin or ext
    std::int64_t integer = 0;  // integer, and boolean as 0 or 1; uint64 beyond int64 saturates
    double number = 0;         // floating, and integer converted
};

class MsgpackReader {
public:
    static constexpr std::size_t buffer_bytes = std::size_t{1} << 16;
    // Deeper than any structure file needs: deeper nesting is damage.
    static constexpr unsigned max_depth = 32;

    explicit MsgpackReader(ByteSource& source);

    // The next value's header; false when the input is damaged or ends.
    bool next(MsgpackHeader& header);
    // The next at most `most` bytes of the str, bin or ext value whose header
    // was just read (the caller counts what remains); empty when the input
    // fails or ends first.
    std::string_view piece(std::size_t most);
    bool skip_bytes(std::uint64_t count);
    // Passes over one whole value (its nested values too, to max_depth).
    bool skip_value();
    // Passes over the value whose header was just read.
    bool skip_rest(const MsgpackHeader& header);
    // True when no byte follows: a file is one value and nothing after it.
    bool at_end();

    bool damaged() const { return damaged_; }

private:
    bool fill(std::size_t wanted);
    bool fail() {
        damaged_ = true;
        return false;
    }

    ByteSource& source_;
    PooledArray<unsigned char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool ended_ = false;
    bool damaged_ = false;
};

// The text of a str value of at most `capacity` bytes, read whole into
// `into`; false when it is longer (then it is passed over) or damaged.
bool read_short_string(MsgpackReader& reader, const MsgpackHeader& header, char* into, std::size_t capacity,
                       std::string_view& text);

}  // namespace record_scan
