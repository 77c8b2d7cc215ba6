// bzip2 through libbz2: each stream's block CRCs and its combined CRC are
// checked by the library. A stream's blocks need about 3.6 MB at -9 (four
// bytes per byte of block, 900 kB at most) in the library's fast mode; its
// small mode saves a third of that at half the speed, which the tools'
// memory does not need. The library is loaded on the first bzip2 input.
#include <bzlib.h>

#include "input/decoder.hpp"
#include "input/shared_library.hpp"

namespace record_scan {
namespace {

constexpr int fast_mode = 0;
constexpr int quiet = 0;

struct Bzip2Library {
    decltype(&BZ2_bzDecompressInit) decompress_init = nullptr;
    decltype(&BZ2_bzDecompress) decompress = nullptr;
    decltype(&BZ2_bzDecompressEnd) decompress_end = nullptr;
};

// Null when the library cannot be loaded: then every bzip2 input is unread.
const Bzip2Library* bzip2_library() {
    return library_functions<Bzip2Library>(BZIP2_SONAME, [](const SharedLibrary& library, Bzip2Library& f) {
        return library.bind(f.decompress_init, "BZ2_bzDecompressInit") &&
               library.bind(f.decompress, "BZ2_bzDecompress") &&
               library.bind(f.decompress_end, "BZ2_bzDecompressEnd");
    });
}

class Bzip2Decoder final : public Decoder {
public:
    Bzip2Decoder() : library_(bzip2_library()) {}
    ~Bzip2Decoder() override { end(); }
    Bzip2Decoder(const Bzip2Decoder&) = delete;
    Bzip2Decoder& operator=(const Bzip2Decoder&) = delete;

    // libbz2 has no reset: a new stream needs a new decompressor, fed with
    // the input the old one left.
    void start_stream() override {
        char* next = stream_.next_in;
        unsigned left = stream_.avail_in;
        end();
        ready_ = library_ != nullptr && library_->decompress_init(&stream_, quiet, fast_mode) == BZ_OK;
        stream_.next_in = next;
        stream_.avail_in = left;
    }

    void give_input(const std::uint8_t* bytes, std::size_t count) override {
        stream_.next_in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(bytes));
        stream_.avail_in = static_cast<unsigned>(count);
    }

    std::size_t input_left() const override { return stream_.avail_in; }

    Step decode(char* into, std::size_t capacity, bool /*input_ended*/) override {
        if (!ready_) return {0, Status::damaged};
        stream_.next_out = into;
        stream_.avail_out = static_cast<unsigned>(capacity);
        int result = library_->decompress(&stream_);
        std::size_t produced = capacity - stream_.avail_out;
        if (result == BZ_STREAM_END) return {produced, Status::stream_ended};
        if (result == BZ_OK) return {produced, Status::decoding};
        return {0, Status::damaged};  // data, magic or memory error
    }

private:
    void end() {
        if (ready_) library_->decompress_end(&stream_);
        ready_ = false;
    }

    const Bzip2Library* library_;
    bz_stream stream_{};
    bool ready_ = false;
};

}  // namespace

std::unique_ptr<Decoder> make_bzip2_decoder() { return std::make_unique<Bzip2Decoder>(); }

}  // namespace record_scan
