// The deflate engine of ISA-L: it parses each gzip header and checks each
// member's CRC-32 and length itself.
#include <isa-l/igzip_lib.h>

#include "buffer_pool.hpp"
#include "input/decoder.hpp"

namespace record_scan {
namespace {

class IsalInflater final : public Decoder {
public:
    // Not zeroed (85 KB of tables, 22 pages a small input would touch for
    // nothing): set up by isal_inflate_init, as ISA-L's own usage does.
    IsalInflater() : state_(pooled_object<inflate_state>()) {
        isal_inflate_init(state_.get());
    }

    void start_stream() override {
        // A reset keeps the input still unread: the next member's bytes.
        isal_inflate_reset(state_.get());
        state_->crc_flag = ISAL_GZIP;
        member_offset_ = 0;
    }

    void give_input(const std::uint8_t* bytes, std::size_t count) override {
        state_->next_in = const_cast<std::uint8_t*>(bytes);
        state_->avail_in = static_cast<std::uint32_t>(count);
    }

    std::size_t input_left() const override { return state_->avail_in; }

    Step decode(char* into, std::size_t capacity, bool /*input_ended*/) override {
        if (reserved_flags_in_view()) return {0, Status::damaged};
        std::uint32_t input_before = state_->avail_in;
        state_->next_out = reinterpret_cast<std::uint8_t*>(into);
        state_->avail_out = static_cast<std::uint32_t>(capacity);
        if (isal_inflate(state_.get()) != ISAL_DECOMP_OK) return {0, Status::damaged};
        member_offset_ += input_before - state_->avail_in;
        Status status = state_->block_state == ISAL_BLOCK_FINISH ? Status::stream_ended
                                                                 : Status::decoding;
        return {capacity - state_->avail_out, status};
    }

private:
    static constexpr std::size_t flags_offset = 3;
    static constexpr std::uint8_t reserved_flags = 0xE0;

    // ISA-L lets a header with reserved flags pass; the format, and zlib,
    // reject it. The flags byte is judged when it comes into view.
    bool reserved_flags_in_view() const {
        if (member_offset_ > flags_offset || flags_offset - member_offset_ >= state_->avail_in)
            return false;
        return (state_->next_in[flags_offset - member_offset_] & reserved_flags) != 0;
    }

    std::unique_ptr<inflate_state, GiveBack> state_;
    std::size_t member_offset_ = 0;  // bytes of the current member consumed
};

}  // namespace

std::unique_ptr<Decoder> make_gzip_decoder() { return std::make_unique<IsalInflater>(); }

}  // namespace record_scan
