// xz through liblzma, a stream at a time, so that each stream's end (its
// blocks' checks, index and footer passed) is a stream's end to the
// decompressing source; the stream padding between and after streams (zero
// bytes in fours) is passed over here. Every check the format defines is
// verified (none, CRC32, CRC64, SHA-256); a check of a kind the library
// does not know is damage, for nothing could be verified.
//
// Memory: the dictionary size is the writer's choice, and the decoder needs
// that much (xz -6, the default: 8 MiB; xz -9: 64 MiB; --lzma2=dict=1536MiB:
// 1.5 GiB). No limit is set, as xz sets none when it decompresses: a file is
// read if the machine has the memory, and refused with the read error when
// the allocation fails. The dictionary is filled in order, so only as much
// of it as the text holds is ever touched. The library is loaded on the
// first xz input.
#include <lzma.h>

#include <cstdint>

#include "input/decoder.hpp"
#include "input/shared_library.hpp"

namespace record_scan {
namespace {

struct XzLibrary {
    decltype(&lzma_stream_decoder) stream_decoder = nullptr;
    decltype(&lzma_code) code = nullptr;
    decltype(&lzma_end) end = nullptr;
};

// Null when the library cannot be loaded: then every xz input is unread.
const XzLibrary* xz_library() {
    return library_functions<XzLibrary>(LZMA_SONAME, [](const SharedLibrary& library, XzLibrary& f) {
        return library.bind(f.stream_decoder, "lzma_stream_decoder") &&
               library.bind(f.code, "lzma_code") && library.bind(f.end, "lzma_end");
    });
}

constexpr std::uint64_t no_memory_limit = UINT64_MAX;
constexpr std::uint32_t decoder_flags = LZMA_TELL_UNSUPPORTED_CHECK;
constexpr std::size_t padding_unit = 4;

class XzDecoder final : public Decoder {
public:
    XzDecoder() : library_(xz_library()) {}
    ~XzDecoder() override {
        if (library_ != nullptr) library_->end(&stream_);
    }
    XzDecoder(const XzDecoder&) = delete;
    XzDecoder& operator=(const XzDecoder&) = delete;

    // The first stream starts at once; any later one after the padding.
    void start_stream() override {
        if (started_) {
            in_padding_ = true;
            padding_ = 0;
            return;
        }
        started_ = true;
        open_stream();
    }

    void give_input(const std::uint8_t* bytes, std::size_t count) override {
        stream_.next_in = bytes;
        stream_.avail_in = count;
    }

    std::size_t input_left() const override { return stream_.avail_in; }

    Step decode(char* into, std::size_t capacity, bool input_ended) override {
        if (in_padding_) {
            pass_padding();
            if (in_padding_) {
                // Padding alone may end the input, in whole fours.
                if (!input_ended) return {0, Status::decoding};
                return {0, padding_ % padding_unit == 0 ? Status::stream_ended : Status::damaged};
            }
            if (padding_ % padding_unit != 0) return {0, Status::damaged};
            open_stream();
        }
        if (!ready_) return {0, Status::damaged};
        stream_.next_out = reinterpret_cast<std::uint8_t*>(into);
        stream_.avail_out = capacity;
        // Told that the input has ended, the decoder judges whether the
        // stream is whole.
        lzma_ret result = library_->code(&stream_, input_ended ? LZMA_FINISH : LZMA_RUN);
        std::size_t produced = capacity - stream_.avail_out;
        if (result == LZMA_STREAM_END) return {produced, Status::stream_ended};
        if (result == LZMA_OK) return {produced, Status::decoding};
        return {0, Status::damaged};  // data, format, check or memory error, or cut short
    }

private:
    void open_stream() {
        const std::uint8_t* next = stream_.next_in;
        std::size_t left = stream_.avail_in;
        ready_ = library_ != nullptr &&
                 library_->stream_decoder(&stream_, no_memory_limit, decoder_flags) == LZMA_OK;
        stream_.next_in = next;
        stream_.avail_in = left;
    }

    // Counts the zero bytes ahead; the padding ends at the first other byte.
    void pass_padding() {
        while (stream_.avail_in > 0 && *stream_.next_in == 0) {
            ++stream_.next_in;
            --stream_.avail_in;
            ++padding_;
        }
        if (stream_.avail_in > 0) in_padding_ = false;
    }

    const XzLibrary* library_;
    lzma_stream stream_ = LZMA_STREAM_INIT;
    bool ready_ = false;
    bool started_ = false;
    bool in_padding_ = false;
    std::size_t padding_ = 0;  // zero bytes passed over since the last stream
};

}  // namespace

std::unique_ptr<Decoder> make_xz_decoder() { return std::make_unique<XzDecoder>(); }

}  // namespace record_scan
