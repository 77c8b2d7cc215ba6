#include "gzip_source.hpp"

#include <algorithm>

namespace record_scan {
namespace {

constexpr std::size_t input_bytes = std::size_t{1} << 17;

// Both engines count in 32 bits.
constexpr std::size_t largest_output = std::size_t{1} << 30;

}  // namespace

GzipSource::GzipSource(ByteSource& compressed)
    : compressed_(compressed),
      inflater_(Inflater::make()),
      input_(std::make_unique_for_overwrite<std::uint8_t[]>(input_bytes)) {
    inflater_->start_member();
}

ByteSource::Block GzipSource::read(char* into, std::size_t capacity) {
    capacity = std::min(capacity, largest_output);
    while (phase_ == Phase::inflating || phase_ == Phase::between_members) {
        if (phase_ == Phase::between_members) {
            if (!next_member_follows()) break;
            inflater_->start_member();
            phase_ = Phase::inflating;
        }
        bool input_ended = false;
        if (inflater_->input_left() == 0) {
            Block block = refill();
            if (block.failed) {
                phase_ = Phase::damaged;
                break;
            }
            input_ended = block.bytes == 0;
        }
        Inflater::Step step = inflater_->inflate(into, capacity);
        if (step.status == Inflater::Status::damaged) {
            phase_ = Phase::damaged;
            break;
        }
        if (step.status == Inflater::Status::member_ended) phase_ = Phase::between_members;
        if (step.produced > 0) return {step.produced, false};
        // What the engine still held is spent and nothing more will come.
        if (input_ended && phase_ == Phase::inflating) phase_ = Phase::damaged;
    }
    return {0, phase_ == Phase::damaged};
}

bool GzipSource::rest_is_intact() {
    auto scratch = std::make_unique_for_overwrite<char[]>(input_bytes);
    Block block;
    do block = read(scratch.get(), input_bytes);
    while (block.bytes > 0);
    return !block.failed;
}

ByteSource::Block GzipSource::refill() {
    Block block = compressed_.read(reinterpret_cast<char*>(input_.get()), input_bytes);
    inflater_->give_input(input_.get(), block.bytes);
    return block;
}

// After a member: the end of the stream, or bytes that must begin the next
// member (the engine's header check rejects anything else).
bool GzipSource::next_member_follows() {
    if (inflater_->input_left() > 0) return true;
    Block block = refill();
    if (block.failed) phase_ = Phase::damaged;
    else if (block.bytes == 0) phase_ = Phase::ended;
    return block.bytes > 0 && !block.failed;
}

}  // namespace record_scan
