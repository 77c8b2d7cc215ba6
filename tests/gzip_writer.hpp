// gzip members made with zlib, an engine independent of the one the tools
// use, for inputs that must read exactly as the text they hold.
#pragma once

#include <zlib.h>

#include <stdexcept>
#include <string>

namespace gzip_writer {

// One complete member holding `text`, compressed at `level` (0 stores),
// with the optional header fields of `header` when one is given.
inline std::string member(const std::string& text, int level = 6, gz_header* header = nullptr) {
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    if (header != nullptr) deflateSetHeader(&stream, header);
    std::string out(deflateBound(&stream, text.size()) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
    return out;
}

// Offsets of a member's parts: its deflate data lies in [data_begin, trailer_begin).
inline constexpr std::size_t header_bytes = 10;  // zlib writes no optional fields
inline constexpr std::size_t trailer_bytes = 8;

}  // namespace gzip_writer
