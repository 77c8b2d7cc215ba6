// bzip2 through libbz2: each stream's block CRCs and its combined CRC are
// checked by the library. A stream's blocks need about 3.6 MB at -9 (four
// bytes per byte of block, 900 kB at most) in the library's fast mode; its
// small mode saves a third of that at half the speed, which the tools'
// memory does not need. The library is loaded on the first bzip2 input.
//
// Blocks as checked points: the library hands out a block's text only once
// it has decoded all of the block's data (the inverse transform needs the
// whole block), and checks the block's CRC right after the text's last
// byte, in the same call, before it reads on. So when a call stops for
// want of input with room left for output, every byte it has produced lies
// in blocks whose CRCs passed. Two things make it stop so at every block's
// end. It is given input only up to the byte where the next block's magic
// number begins, so that it can finish the block before, never the one
// after (a false match inside a block's data merely makes it ask sooner; a
// magic number split between two pieces of input is not found, but then
// the library has only its first part). And, since a damaged magic number
// is not found either, a call that is given input has room for one byte:
// input that completes a block's data stops it at the block's first byte
// of text, and the rest of the text comes with no input at hand, so that
// it stops after the CRC whatever follows. A block of one byte ends in that
// one call, and only the search keeps the next block out of it: such a
// block just before a damaged magic number is lost with the damage.
#include <bzlib.h>

#include <cstdint>

#include "input/bzip2_block_magic.hpp"
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
        wants_input_ = true;
    }

    // The library is given the piece a part at a time (hand_over).
    void give_input(const std::uint8_t* bytes, std::size_t count) override {
        stream_.next_in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(bytes));
        stream_.avail_in = 0;
        input_end_ = bytes + count;
    }

    std::size_t input_left() const override { return static_cast<std::size_t>(input_end_ - next_in()); }

    Step decode(char* into, std::size_t capacity, bool /*input_ended*/) override {
        if (!ready_) return {0, Status::damaged};
        std::size_t produced = 0;
        if (wants_input_) {
            if (stream_.avail_in == 0) hand_over();
            int result = decompress(into, 1);
            if (result == BZ_STREAM_END) return {1 - stream_.avail_out, Status::stream_ended};
            if (result != BZ_OK) return {0, Status::damaged};  // data, magic or memory error
            // Room left: it stopped for input, past the checks of all it produced.
            if (stream_.avail_out > 0) return {0, Status::checked};
            produced = 1;
            wants_input_ = false;
            // The rest of what it was given waits until it asks again.
            stream_.avail_in = 0;
        }
        if (produced == capacity) return {produced, Status::decoding};
        int result = decompress(into + produced, capacity - produced);
        produced = capacity - stream_.avail_out;
        if (result == BZ_STREAM_END) return {produced, Status::stream_ended};
        if (result != BZ_OK) return {0, Status::damaged};
        wants_input_ = stream_.avail_out > 0;
        return {produced, wants_input_ ? Status::checked : Status::decoding};
    }

private:
    int decompress(char* into, std::size_t capacity) {
        stream_.next_out = into;
        stream_.avail_out = static_cast<unsigned>(capacity);
        return library_->decompress(&stream_);
    }

    const std::uint8_t* next_in() const { return reinterpret_cast<const std::uint8_t*>(stream_.next_in); }

    // The piece's bytes up to and including the next block magic's first, or all.
    void hand_over() {
        const auto left = static_cast<std::size_t>(input_end_ - next_in());
        const std::size_t magic = bzip2_block::first_magic(next_in(), left);
        stream_.avail_in = static_cast<unsigned>(magic == left ? left : magic + 1);
    }

    void end() {
        if (ready_) library_->decompress_end(&stream_);
        ready_ = false;
    }

    const Bzip2Library* library_;
    bz_stream stream_{};
    const std::uint8_t* input_end_ = nullptr;
    bool ready_ = false;
    bool wants_input_ = true;
};

}  // namespace

std::unique_ptr<Decoder> make_bzip2_decoder() { return std::make_unique<Bzip2Decoder>(); }

}  // namespace record_scan
