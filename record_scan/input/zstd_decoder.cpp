// zstd through libzstd: every frame, frame checksums verified when the
// writer included them, skippable frames passed over wherever they stand.
//
// Memory: the decoder keeps a frame's window plus a block (128 KiB). The
// window is the writer's choice: 2 MiB at the default level 3 on large
// inputs, 8 MiB at 19, 128 MiB with --long or --ultra -22, up to 2 GiB with
// --long=31. The library refuses windows beyond 128 MiB unless told; here
// every window the format allows is accepted, as for xz dictionaries: a
// file is read if the machine has the memory, and refused with the read
// error when the allocation fails. The window fills in order, so only as
// much of it as the text holds is ever touched.
#include <zstd.h>

#include "input/decoder.hpp"

namespace record_scan {
namespace {

class ZstdDecoder final : public Decoder {
public:
    ZstdDecoder() : context_(ZSTD_createDCtx()) {
        ZSTD_bounds largest = ZSTD_dParam_getBounds(ZSTD_d_windowLogMax);
        if (context_ != nullptr && !ZSTD_isError(largest.error))
            ZSTD_DCtx_setParameter(context_, ZSTD_d_windowLogMax, largest.upperBound);
    }
    ~ZstdDecoder() override { ZSTD_freeDCtx(context_); }
    ZstdDecoder(const ZstdDecoder&) = delete;
    ZstdDecoder& operator=(const ZstdDecoder&) = delete;

    void start_stream() override {
        if (context_ != nullptr) ZSTD_DCtx_reset(context_, ZSTD_reset_session_only);
    }

    void give_input(const std::uint8_t* bytes, std::size_t count) override {
        input_ = {bytes, count, 0};
    }

    std::size_t input_left() const override { return input_.size - input_.pos; }

    Step decode(char* into, std::size_t capacity, bool /*input_ended*/) override {
        if (context_ == nullptr) return {0, Status::damaged};
        ZSTD_outBuffer output{into, capacity, 0};
        std::size_t result = ZSTD_decompressStream(context_, &output, &input_);
        if (ZSTD_isError(result)) return {0, Status::damaged};
        // 0: a frame (or a skippable frame) is decoded and handed out whole.
        return {output.pos, result == 0 ? Status::stream_ended : Status::decoding};
    }

private:
    ZSTD_DCtx* context_;
    ZSTD_inBuffer input_{nullptr, 0, 0};
};

}  // namespace

std::unique_ptr<Decoder> make_zstd_decoder() { return std::make_unique<ZstdDecoder>(); }

}  // namespace record_scan
