// A source whose first bytes can be looked at, and passed over, before
// the reader proper takes it: how an input is recognised without a second
// open or a seek, so that pipes work like files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "buffer_pool.hpp"
#include "record_scan.hpp"

namespace record_scan {

class PeekableSource final : public ByteSource {
public:
    static constexpr std::size_t window_bytes = std::size_t{1} << 16;
    // The least a peek reads from the source when it must read.
    static constexpr std::size_t look_bytes = std::size_t{1} << 12;

    explicit PeekableSource(ByteSource& source);

    // The unconsumed bytes ahead, at least `wanted` of them (at most
    // window_bytes) unless the input ends or fails first.
    std::string_view peek(std::size_t wanted);
    void consume(std::size_t bytes);
    bool failed() const { return failed_; }
    // How many bytes have been consumed or read through so far.
    std::uint64_t position() const { return position_; }

    // Hands out what was peeked but not consumed, then reads straight through.
    Block read(char* into, std::size_t capacity) override;

private:
    ByteSource& source_;
    PooledArray<char> window_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool ended_ = false;
    bool failed_ = false;
    std::uint64_t position_ = 0;
};

}  // namespace record_scan
