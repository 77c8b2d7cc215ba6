// Compressed input decoded on the fly in constant memory: every stream of a
// concatenation, each checked by its format's own means, whatever the
// format's decoder. A read never spans two units a check covers (a stream,
// or a block when the decoder tells where one ends), so that the end of the
// bytes a passed check vouches for is the end of a block handed out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "buffer_pool.hpp"
#include "input/decoder.hpp"
#include "record_scan.hpp"

namespace record_scan {

class DecompressingSource final : public ByteSource {
public:
    // Over the compressed bytes, from the first byte of the first stream.
    DecompressingSource(ByteSource& compressed, std::unique_ptr<Decoder> decoder);

    // Decodes straight into `into`.
    Block read(char* into, std::size_t capacity) override;

    // Decodes and checks whatever is left of the input, dropping the text:
    // false when a stream is damaged or cut short, or is followed by bytes
    // that do not begin another stream.
    bool rest_is_intact();

    // Of the bytes handed out so far, how many lie in units (streams, or
    // xz and bzip2 blocks) whose checks have passed: damage found later
    // takes back none of them, only the bytes after them. Every byte once
    // the input has ended intact.
    std::uint64_t checked_bytes() const { return checked_bytes_; }
    std::uint64_t handed_out_bytes() const { return handed_out_bytes_; }

private:
    enum class Phase { decoding, between_streams, ended, damaged };

    Block refill();
    bool next_stream_follows();
    bool gather_stream_start();

    ByteSource& compressed_;
    std::unique_ptr<Decoder> decoder_;
    PooledArray<std::uint8_t> input_;
    std::size_t given_ = 0;  // bytes of input_ last handed to the decoder
    bool stream_starts_ = true;
    Phase phase_ = Phase::decoding;
    std::uint64_t handed_out_bytes_ = 0;
    std::uint64_t checked_bytes_ = 0;
};

}  // namespace record_scan
