// The deflate engine of zlib, for machines without ISA-L: the same checks
// (header, CRC-32, length) at about a third of the speed.
#include <zlib.h>

#include "input/decoder.hpp"

namespace record_scan {
namespace {

// 15 bits of window, plus 16: a gzip wrapper and nothing else.
constexpr int gzip_window_bits = 15 + 16;

class ZlibInflater final : public Decoder {
public:
    ZlibInflater() { ready_ = inflateInit2(&stream_, gzip_window_bits) == Z_OK; }
    ~ZlibInflater() override { inflateEnd(&stream_); }
    ZlibInflater(const ZlibInflater&) = delete;
    ZlibInflater& operator=(const ZlibInflater&) = delete;

    void start_stream() override {
        // A reset keeps the input still unread: the next member's bytes.
        if (ready_) inflateReset(&stream_);
    }

    void give_input(const std::uint8_t* bytes, std::size_t count) override {
        stream_.next_in = const_cast<Bytef*>(bytes);
        stream_.avail_in = static_cast<uInt>(count);
    }

    std::size_t input_left() const override { return stream_.avail_in; }

    Step decode(char* into, std::size_t capacity, bool /*input_ended*/) override {
        if (!ready_) return {0, Status::damaged};
        stream_.next_out = reinterpret_cast<Bytef*>(into);
        stream_.avail_out = static_cast<uInt>(capacity);
        int result = ::inflate(&stream_, Z_NO_FLUSH);
        std::size_t produced = capacity - stream_.avail_out;
        if (result == Z_STREAM_END) return {produced, Status::stream_ended};
        // Z_BUF_ERROR only says that no progress was possible this call.
        if (result == Z_OK || result == Z_BUF_ERROR) return {produced, Status::decoding};
        return {0, Status::damaged};
    }

private:
    z_stream stream_{};
    bool ready_ = false;
};

}  // namespace

std::unique_ptr<Decoder> make_gzip_decoder() { return std::make_unique<ZlibInflater>(); }

}  // namespace record_scan
