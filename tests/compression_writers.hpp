// Compressed streams made with each format's own library, for inputs that
// must read exactly as the text they hold: bzip2, xz and zstd beside the
// gzip members of gzip_writer.hpp, and one writer per format for tables
// that run over all four.
#pragma once

#include <bzlib.h>
#include <lzma.h>
#include <zstd.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "gzip_writer.hpp"

namespace compression_writer {

// One bzip2 stream; blocks of `block_size` hundred kB (9 is bzip2's default).
inline std::string bzip2_stream(const std::string& text, int block_size = 9) {
    std::string out(text.size() + text.size() / 100 + 700, '\0');
    auto out_size = static_cast<unsigned>(out.size());
    if (BZ2_bzBuffToBuffCompress(out.data(), &out_size, const_cast<char*>(text.data()),
                                 static_cast<unsigned>(text.size()), block_size, 0, 0) != BZ_OK)
        throw std::runtime_error("BZ2_bzBuffToBuffCompress failed");
    out.resize(out_size);
    return out;
}

// One xz stream of one block, with the integrity check given.
inline std::string xz_stream(const std::string& text, std::uint32_t preset = 1,
                             lzma_check check = LZMA_CHECK_CRC64) {
    std::string out(lzma_stream_buffer_bound(text.size()), '\0');
    std::size_t out_size = 0;
    if (lzma_easy_buffer_encode(preset, check, nullptr, reinterpret_cast<const std::uint8_t*>(text.data()),
                                text.size(), reinterpret_cast<std::uint8_t*>(out.data()), &out_size,
                                out.size()) != LZMA_OK)
        throw std::runtime_error("lzma_easy_buffer_encode failed");
    out.resize(out_size);
    return out;
}

// One xz stream cut into blocks of `block_bytes` of text, as xz -T writes.
inline std::string xz_blocks(const std::string& text, std::uint64_t block_bytes,
                             lzma_check check = LZMA_CHECK_CRC32) {
    lzma_mt options{};
    options.threads = 1;
    options.block_size = block_bytes;
    options.preset = 0;
    options.check = check;
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_stream_encoder_mt(&stream, &options) != LZMA_OK) throw std::runtime_error("lzma_stream_encoder_mt failed");
    std::string out(lzma_stream_buffer_bound(text.size()) + text.size() / 1000 + 1024, '\0');
    stream.next_in = reinterpret_cast<const std::uint8_t*>(text.data());
    stream.avail_in = text.size();
    stream.next_out = reinterpret_cast<std::uint8_t*>(out.data());
    stream.avail_out = out.size();
    lzma_ret result;
    do result = lzma_code(&stream, LZMA_FINISH);  // the threaded encoder may ask to be called again
    while (result == LZMA_OK && stream.avail_out > 0);
    out.resize(stream.total_out);
    lzma_end(&stream);
    if (result != LZMA_STREAM_END) throw std::runtime_error("xz blocks did not finish");
    return out;
}

// One zstd frame; the zstd tool writes the checksum, the library by default not.
inline std::string zstd_frame(const std::string& text, int level = 3, bool checksum = true,
                              bool content_size = true) {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, checksum);
    ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, content_size);
    std::string out(ZSTD_compressBound(text.size()), '\0');
    std::size_t size = ZSTD_compress2(context, out.data(), out.size(), text.data(), text.size());
    ZSTD_freeCCtx(context);
    if (ZSTD_isError(size)) throw std::runtime_error("ZSTD_compress2 failed");
    out.resize(size);
    return out;
}

// A skippable frame of user data, which readers pass over (`variant` 0-15
// picks its magic number, 0x184D2A50 + variant).
inline std::string zstd_skippable(const std::string& data, unsigned variant = 0) {
    auto little_endian = [](std::uint32_t value) {
        std::string bytes;
        for (int i = 0; i < 4; ++i) bytes += static_cast<char>(value >> (8 * i));
        return bytes;
    };
    return little_endian(0x184D2A50 + variant) + little_endian(static_cast<std::uint32_t>(data.size())) + data;
}

enum class Format { gzip, bzip2, xz, zstd };
inline constexpr Format formats[] = {Format::gzip, Format::bzip2, Format::xz, Format::zstd};

inline const char* name(Format format) {
    switch (format) {
        case Format::gzip: return "gzip";
        case Format::bzip2: return "bzip2";
        case Format::xz: return "xz";
        case Format::zstd: return "zstd";
    }
    return "?";
}

// One whole stream of the format, checked as its tool checks by default;
// `fast` picks the lowest level, else a middle one.
inline std::string stream(Format format, const std::string& text, bool fast = false) {
    switch (format) {
        case Format::gzip: return gzip_writer::member(text, fast ? 1 : 6);
        case Format::bzip2: return bzip2_stream(text, fast ? 1 : 9);
        case Format::xz: return xz_stream(text, fast ? 0 : 1);
        case Format::zstd: return zstd_frame(text, fast ? 1 : 3);
    }
    return {};
}

}  // namespace compression_writer
