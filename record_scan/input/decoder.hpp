// One compressed format's decoder, behind the small interface that the
// decompressing source drives: a decoder parses and checks its format's
// framing itself (headers, checksums, lengths); the source alone decides
// what the end of a stream, the next stream and damage mean for the input.
// A decoder that can tell where a unit smaller than a stream ends (an xz or
// bzip2 block) says so, and hands out no byte past it in the same call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace record_scan {

class Decoder {
public:
    enum class Status {
        decoding,
        // Every byte produced so far has passed a check; the stream goes on.
        checked,
        // The stream ended whole: every byte of it has passed its checks.
        stream_ended,
        damaged,
    };
    struct Step {
        std::size_t produced = 0;
        Status status = Status::decoding;
    };

    virtual ~Decoder() = default;

    // Ready for a stream whose first bytes are the input not yet decoded.
    virtual void start_stream() = 0;
    virtual void give_input(const std::uint8_t* bytes, std::size_t count) = 0;
    virtual std::size_t input_left() const = 0;
    // Decodes what it can into `into`. `input_ended`: nothing follows the
    // input given, so a stream that may end there has to end there.
    virtual Step decode(char* into, std::size_t capacity, bool input_ended) = 0;
};

// gzip through ISA-L or zlib, as the build chose; the others through each
// format's own library. Memory that cannot be had is damage: the read error.
std::unique_ptr<Decoder> make_gzip_decoder();
std::unique_ptr<Decoder> make_bzip2_decoder();
std::unique_ptr<Decoder> make_xz_decoder();
std::unique_ptr<Decoder> make_zstd_decoder();

}  // namespace record_scan
