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
// much of it as the text holds is ever touched. The library is loaded on
// the first zstd input.
#include <zstd.h>

#include "input/decoder.hpp"
#include "input/shared_library.hpp"

namespace record_scan {
namespace {

struct ZstdLibrary {
    decltype(&ZSTD_createDCtx) create = nullptr;
    decltype(&ZSTD_freeDCtx) free = nullptr;
    decltype(&ZSTD_dParam_getBounds) bounds = nullptr;
    decltype(&ZSTD_DCtx_setParameter) set_parameter = nullptr;
    decltype(&ZSTD_DCtx_reset) reset = nullptr;
    decltype(&ZSTD_decompressStream) decompress_stream = nullptr;
    decltype(&ZSTD_isError) is_error = nullptr;
};

// Null when the library cannot be loaded: then every zstd input is unread.
const ZstdLibrary* zstd_library() {
    return library_functions<ZstdLibrary>(ZSTD_SONAME, [](const SharedLibrary& library, ZstdLibrary& f) {
        return library.bind(f.create, "ZSTD_createDCtx") &&
               library.bind(f.free, "ZSTD_freeDCtx") &&
               library.bind(f.bounds, "ZSTD_dParam_getBounds") &&
               library.bind(f.set_parameter, "ZSTD_DCtx_setParameter") &&
               library.bind(f.reset, "ZSTD_DCtx_reset") &&
               library.bind(f.decompress_stream, "ZSTD_decompressStream") &&
               library.bind(f.is_error, "ZSTD_isError");
    });
}

class ZstdDecoder final : public Decoder {
public:
    ZstdDecoder() : library_(zstd_library()) {
        if (library_ == nullptr) return;
        context_ = library_->create();
        ZSTD_bounds largest = library_->bounds(ZSTD_d_windowLogMax);
        if (context_ != nullptr && !library_->is_error(largest.error))
            library_->set_parameter(context_, ZSTD_d_windowLogMax, largest.upperBound);
    }
    ~ZstdDecoder() override {
        if (context_ != nullptr) library_->free(context_);
    }
    ZstdDecoder(const ZstdDecoder&) = delete;
    ZstdDecoder& operator=(const ZstdDecoder&) = delete;

    void start_stream() override {
        if (context_ != nullptr) library_->reset(context_, ZSTD_reset_session_only);
    }

    void give_input(const std::uint8_t* bytes, std::size_t count) override {
        input_ = {bytes, count, 0};
    }

    std::size_t input_left() const override { return input_.size - input_.pos; }

    Step decode(char* into, std::size_t capacity, bool /*input_ended*/) override {
        if (context_ == nullptr) return {0, Status::damaged};
        ZSTD_outBuffer output{into, capacity, 0};
        std::size_t result = library_->decompress_stream(context_, &output, &input_);
        if (library_->is_error(result)) return {0, Status::damaged};
        // 0: a frame (or a skippable frame) is decoded and handed out whole.
        return {output.pos, result == 0 ? Status::stream_ended : Status::decoding};
    }

private:
    const ZstdLibrary* library_;
    ZSTD_DCtx* context_ = nullptr;
    ZSTD_inBuffer input_{nullptr, 0, 0};
};

}  // namespace

std::unique_ptr<Decoder> make_zstd_decoder() { return std::make_unique<ZstdDecoder>(); }

}  // namespace record_scan
