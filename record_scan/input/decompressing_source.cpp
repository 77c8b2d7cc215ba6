#include "input/decompressing_source.hpp"

#include <algorithm>
#include <cstring>


namespace record_scan {
namespace {

constexpr std::size_t input_bytes = std::size_t{1} << 17;

// How much of a stream's start is handed to the decoder in one piece. ISA-L
// rejects a correct gzip header CRC when the header arrives in fragments,
// and real headers are far shorter than this.
constexpr std::size_t stream_start_bytes = std::size_t{1} << 16;

// Some decoders count in 32 bits.
constexpr std::size_t largest_output = std::size_t{1} << 30;

}  // namespace

DecompressingSource::DecompressingSource(ByteSource& compressed, std::unique_ptr<Decoder> decoder)
    : compressed_(compressed),
      decoder_(std::move(decoder)),
      input_(pooled_array<std::uint8_t>(input_bytes)) {
    decoder_->start_stream();
}

ByteSource::Block DecompressingSource::read(char* into, std::size_t capacity) {
    capacity = std::min(capacity, largest_output);
    while (phase_ == Phase::decoding || phase_ == Phase::between_streams) {
        if (phase_ == Phase::between_streams) {
            if (!next_stream_follows()) break;
            decoder_->start_stream();
            phase_ = Phase::decoding;
            stream_starts_ = true;
        }
        if (stream_starts_ && !gather_stream_start()) {
            phase_ = Phase::damaged;
            break;
        }
        stream_starts_ = false;
        bool input_ended = false;
        if (decoder_->input_left() == 0) {
            Block block = refill();
            if (block.failed) {
                phase_ = Phase::damaged;
                break;
            }
            input_ended = block.bytes == 0;
        }
        Decoder::Step step = decoder_->decode(into, capacity, input_ended);
        if (step.status == Decoder::Status::damaged) {
            phase_ = Phase::damaged;
            break;
        }
        handed_out_bytes_ += step.produced;
        if (step.status == Decoder::Status::checked) checked_bytes_ = handed_out_bytes_;
        if (step.status == Decoder::Status::stream_ended) {
            phase_ = Phase::between_streams;
            checked_bytes_ = handed_out_bytes_;
        }
        if (step.produced > 0) return {step.produced, false};
        // What the decoder still held is spent and nothing more will come.
        if (input_ended && phase_ == Phase::decoding) phase_ = Phase::damaged;
    }
    return {0, phase_ == Phase::damaged};
}

bool DecompressingSource::rest_is_intact() {
    auto scratch = pooled_array<char>(input_bytes);
    Block block;
    do block = read(scratch.get(), input_bytes);
    while (block.bytes > 0);
    return !block.failed;
}

ByteSource::Block DecompressingSource::refill() {
    Block block = compressed_.read(reinterpret_cast<char*>(input_.get()), input_bytes);
    decoder_->give_input(input_.get(), block.bytes);
    given_ = block.bytes;
    return block;
}

// Moves what is left of the input to the front and tops it up, so that the
// stream's header lies in one piece; false when the source fails.
bool DecompressingSource::gather_stream_start() {
    std::size_t left = decoder_->input_left();
    if (left >= stream_start_bytes) return true;
    std::memmove(input_.get(), input_.get() + given_ - left, left);
    std::size_t filled = left;
    while (filled < stream_start_bytes) {
        Block block = compressed_.read(reinterpret_cast<char*>(input_.get()) + filled,
                                       input_bytes - filled);
        if (block.failed) return false;
        if (block.bytes == 0) break;
        filled += block.bytes;
    }
    decoder_->give_input(input_.get(), filled);
    given_ = filled;
    return true;
}

// After a stream: the end of the input, or bytes that must begin the next
// stream (the decoder's header check rejects anything else).
bool DecompressingSource::next_stream_follows() {
    if (decoder_->input_left() > 0) return true;
    Block block = refill();
    if (block.failed) phase_ = Phase::damaged;
    else if (block.bytes == 0) phase_ = Phase::ended;
    return block.bytes > 0 && !block.failed;
}

}  // namespace record_scan
