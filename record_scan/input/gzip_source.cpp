#include "input/gzip_source.hpp"

#include <algorithm>
#include <cstring>

namespace record_scan {
namespace {

constexpr std::size_t input_bytes = std::size_t{1} << 17;

// How much of a member's start is handed to the engine in one piece. ISA-L
// rejects a correct header CRC when the header arrives in fragments, and
// real headers are far shorter than this.
constexpr std::size_t member_start_bytes = std::size_t{1} << 16;

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
            member_starts_ = true;
        }
        if (member_starts_ && !gather_member_start()) {
            phase_ = Phase::damaged;
            break;
        }
        member_starts_ = false;
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
    given_ = block.bytes;
    return block;
}

// Moves what is left of the input to the front and tops it up, so that the
// member's header lies in one piece; false when the source fails.
bool GzipSource::gather_member_start() {
    std::size_t left = inflater_->input_left();
    if (left >= member_start_bytes) return true;
    std::memmove(input_.get(), input_.get() + given_ - left, left);
    std::size_t filled = left;
    while (filled < member_start_bytes) {
        Block block = compressed_.read(reinterpret_cast<char*>(input_.get()) + filled,
                                       input_bytes - filled);
        if (block.failed) return false;
        if (block.bytes == 0) break;
        filled += block.bytes;
    }
    inflater_->give_input(input_.get(), filled);
    given_ = filled;
    return true;
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
