// xz through liblzma's parts, a block at a time: the stream's framing
// (header, block headers, index, footer) is walked here, and each block is
// decoded by the library's block decoder, which verifies its padding and
// check. The end of each block is thus a checked point to the
// decompressing source, and the end of a stream (its index matching the
// blocks, its footer matching the header) a stream's end; the stream
// padding between and after streams (zero bytes in fours) is passed over
// here. Every check the format defines is verified (none, CRC32, CRC64,
// SHA-256); a check of a kind the library does not know is damage, for
// nothing could be verified.
//
// Memory: the dictionary size is the writer's choice, and the decoder needs
// that much (xz -6, the default: 8 MiB; xz -9: 64 MiB; --lzma2=dict=1536MiB:
// 1.5 GiB). No limit is set, as xz sets none when it decompresses: a file is
// read if the machine has the memory, and refused with the read error when
// the allocation fails. The dictionary is filled in order, so only as much
// of it as the text holds is ever touched. The library is loaded on the
// first xz input.
#include <lzma.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "input/decoder.hpp"
#include "input/shared_library.hpp"

namespace record_scan {
namespace {

struct XzLibrary {
    decltype(&lzma_stream_header_decode) stream_header_decode = nullptr;
    decltype(&lzma_stream_footer_decode) stream_footer_decode = nullptr;
    decltype(&lzma_stream_flags_compare) stream_flags_compare = nullptr;
    decltype(&lzma_check_is_supported) check_is_supported = nullptr;
    decltype(&lzma_block_header_decode) block_header_decode = nullptr;
    decltype(&lzma_block_decoder) block_decoder = nullptr;
    decltype(&lzma_block_unpadded_size) block_unpadded_size = nullptr;
    decltype(&lzma_index_hash_init) index_hash_init = nullptr;
    decltype(&lzma_index_hash_append) index_hash_append = nullptr;
    decltype(&lzma_index_hash_decode) index_hash_decode = nullptr;
    decltype(&lzma_index_hash_size) index_hash_size = nullptr;
    decltype(&lzma_index_hash_end) index_hash_end = nullptr;
    decltype(&lzma_code) code = nullptr;
    decltype(&lzma_end) end = nullptr;
};

// Null when the library cannot be loaded: then every xz input is unread.
const XzLibrary* xz_library() {
    return library_functions<XzLibrary>(LZMA_SONAME, [](const SharedLibrary& library, XzLibrary& f) {
        return library.bind(f.stream_header_decode, "lzma_stream_header_decode") &&
               library.bind(f.stream_footer_decode, "lzma_stream_footer_decode") &&
               library.bind(f.stream_flags_compare, "lzma_stream_flags_compare") &&
               library.bind(f.check_is_supported, "lzma_check_is_supported") &&
               library.bind(f.block_header_decode, "lzma_block_header_decode") &&
               library.bind(f.block_decoder, "lzma_block_decoder") &&
               library.bind(f.block_unpadded_size, "lzma_block_unpadded_size") &&
               library.bind(f.index_hash_init, "lzma_index_hash_init") &&
               library.bind(f.index_hash_append, "lzma_index_hash_append") &&
               library.bind(f.index_hash_decode, "lzma_index_hash_decode") &&
               library.bind(f.index_hash_size, "lzma_index_hash_size") &&
               library.bind(f.index_hash_end, "lzma_index_hash_end") &&
               library.bind(f.code, "lzma_code") && library.bind(f.end, "lzma_end");
    });
}

constexpr std::size_t padding_unit = 4;

class XzDecoder final : public Decoder {
public:
    XzDecoder() : library_(xz_library()) {}
    ~XzDecoder() override {
        if (library_ == nullptr) return;
        free_filter_options();
        library_->end(&stream_);
        if (index_hash_ != nullptr) library_->index_hash_end(index_hash_, nullptr);
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

    // Walks the framing until the block decoder produces bytes, a block or
    // the stream ends, or the input runs out (which, once the input has
    // ended, the source takes for a stream cut short).
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
        for (;;) {
            switch (part_) {
                case Part::stream_header:
                    if (!staged(LZMA_STREAM_HEADER_SIZE)) return {0, Status::decoding};
                    if (!read_stream_header()) return damage();
                    part_ = Part::block_start;
                    break;
                case Part::block_start:
                    if (stream_.avail_in == 0) return {0, Status::decoding};
                    // A zero where a block header would begin starts the index.
                    if (*stream_.next_in == 0) {
                        part_ = Part::index;
                        break;
                    }
                    block_header_bytes_ = lzma_block_header_size_decode(*stream_.next_in);
                    part_ = Part::block_header;
                    break;
                case Part::block_header:
                    if (!staged(block_header_bytes_)) return {0, Status::decoding};
                    if (!start_block()) return damage();
                    part_ = Part::block;
                    break;
                case Part::block: return decode_block(into, capacity);
                case Part::index: {
                    if (stream_.avail_in == 0) return {0, Status::decoding};
                    std::size_t taken = 0;
                    lzma_ret result =
                        library_->index_hash_decode(index_hash_, stream_.next_in, &taken, stream_.avail_in);
                    stream_.next_in += taken;
                    stream_.avail_in -= taken;
                    if (result == LZMA_OK) return {0, Status::decoding};
                    if (result != LZMA_STREAM_END) return damage();  // not the blocks decoded
                    part_ = Part::footer;
                    break;
                }
                case Part::footer:
                    if (!staged(LZMA_STREAM_HEADER_SIZE)) return {0, Status::decoding};
                    if (!read_stream_footer()) return damage();
                    part_ = Part::ended;
                    return {0, Status::stream_ended};
                case Part::ended:
                case Part::damaged: return damage();
            }
        }
    }

private:
    enum class Part { stream_header, block_start, block_header, block, index, footer, ended, damaged };

    Step damage() {
        part_ = Part::damaged;
        return {0, Status::damaged};
    }

    void open_stream() {
        staged_bytes_ = 0;
        part_ = Part::damaged;
        if (library_ == nullptr) return;
        // Reinitialised in place after the first stream.
        index_hash_ = library_->index_hash_init(index_hash_, nullptr);
        if (index_hash_ != nullptr) part_ = Part::stream_header;
    }

    // True once the next `count` bytes of the stream lie in `staging_`: a
    // header or footer may arrive split across pieces of input.
    bool staged(std::size_t count) {
        std::size_t taken = std::min(count - staged_bytes_, stream_.avail_in);
        std::memcpy(staging_ + staged_bytes_, stream_.next_in, taken);
        stream_.next_in += taken;
        stream_.avail_in -= taken;
        staged_bytes_ += taken;
        if (staged_bytes_ < count) return false;
        staged_bytes_ = 0;
        return true;
    }

    bool read_stream_header() {
        if (library_->stream_header_decode(&stream_flags_, staging_) != LZMA_OK) return false;
        // A later format version could mean fields this reading does not know.
        return stream_flags_.version == 0 && library_->check_is_supported(stream_flags_.check);
    }

    bool start_block() {
        block_ = lzma_block{};
        block_.version = 1;
        block_.check = stream_flags_.check;
        block_.header_size = block_header_bytes_;
        block_.filters = filters_;
        filters_[0].id = LZMA_VLI_UNKNOWN;
        if (library_->block_header_decode(&block_, nullptr, staging_) != LZMA_OK) return false;
        bool started = library_->block_decoder(&stream_, &block_) == LZMA_OK;
        // The decoder keeps what it needs of the filters' options.
        free_filter_options();
        return started;
    }

    Step decode_block(char* into, std::size_t capacity) {
        stream_.next_out = reinterpret_cast<std::uint8_t*>(into);
        stream_.avail_out = capacity;
        lzma_ret result = library_->code(&stream_, LZMA_RUN);
        std::size_t produced = capacity - stream_.avail_out;
        if (result == LZMA_OK) return {produced, Status::decoding};
        // The end: the block's padding and check have passed, and its
        // sizes are the ones its header gave, if it gave them.
        if (result != LZMA_STREAM_END ||
            library_->index_hash_append(index_hash_, library_->block_unpadded_size(&block_),
                                        block_.uncompressed_size) != LZMA_OK)
            return damage();  // data, options, check or memory error
        part_ = Part::block_start;
        return {produced, Status::checked};
    }

    bool read_stream_footer() {
        lzma_stream_flags footer{};
        return library_->stream_footer_decode(&footer, staging_) == LZMA_OK &&
               library_->stream_flags_compare(&stream_flags_, &footer) == LZMA_OK &&
               footer.backward_size == library_->index_hash_size(index_hash_);
    }

    // lzma_block_header_decode allocates them with malloc, no allocator given.
    void free_filter_options() {
        for (lzma_filter& filter : filters_) {
            if (filter.id == LZMA_VLI_UNKNOWN) break;
            std::free(filter.options);
            filter.options = nullptr;
        }
        filters_[0].id = LZMA_VLI_UNKNOWN;
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
    lzma_index_hash* index_hash_ = nullptr;
    lzma_stream_flags stream_flags_{};
    lzma_block block_{};
    lzma_filter filters_[LZMA_FILTERS_MAX + 1] = {{LZMA_VLI_UNKNOWN, nullptr}};
    Part part_ = Part::damaged;
    std::uint8_t staging_[LZMA_BLOCK_HEADER_SIZE_MAX];  // a header, a block header or a footer
    std::size_t staged_bytes_ = 0;
    std::uint32_t block_header_bytes_ = 0;
    bool started_ = false;
    bool in_padding_ = false;
    std::size_t padding_ = 0;  // zero bytes passed over since the last stream
};

}  // namespace

std::unique_ptr<Decoder> make_xz_decoder() { return std::make_unique<XzDecoder>(); }

}  // namespace record_scan
