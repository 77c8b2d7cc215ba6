// Compressed streams made with each format's own library, for inputs that
// must read exactly as the text they hold: bzip2, xz and zstd beside the
// gzip members of gzip_writer.hpp, and one writer per format for tables
// that run over all four.
#pragma once

#include <bzlib.h>
#include <lzma.h>
#include <zstd.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

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

// A stream cut into blocks, and where each lies: the bit of the stream
// where it begins and the byte of text where its text begins. A last entry
// gives where the blocks end (the end mark, or the index) and the text's
// size.
struct Blocks {
    struct Extent {
        std::uint64_t first_bit;
        std::uint64_t first_text_byte;
    };
    std::string bytes;
    std::vector<Extent> extents;
};

// One bzip2 stream of blocks of `piece_bytes` of text each, known by
// construction: each piece is compressed alone (at most 80 kB, which fits
// a block of 100 kB however its runs are coded), and the blocks joined bit
// by bit under one header and one end mark whose CRC combines theirs.
inline Blocks bzip2_blocks(const std::string& text, std::size_t piece_bytes) {
    if (piece_bytes == 0 || piece_bytes > 80000) throw std::invalid_argument("bzip2 piece too large for a block");
    auto number = [](const std::string& bytes, std::uint64_t at, int bits) {
        std::uint64_t value = 0;
        for (int i = 0; i < bits; ++i, ++at)
            value = value << 1 | ((static_cast<unsigned char>(bytes[at / 8]) >> (7 - at % 8)) & 1);
        return value;
    };
    constexpr std::uint64_t end_mark = 0x177245385090;
    constexpr std::uint64_t header_bits = 32, magic_bits = 48;
    Blocks blocks{"BZh1", {}};
    std::uint64_t bits = header_bits;
    auto put = [&](std::uint64_t value, int count) {
        for (int i = count - 1; i >= 0; --i, ++bits) {
            if (bits % 8 == 0) blocks.bytes += '\0';
            if (value >> i & 1) blocks.bytes.back() = static_cast<char>(blocks.bytes.back() | (0x80 >> (bits % 8)));
        }
    };
    std::uint32_t combined = 0;
    for (std::size_t first = 0; first < text.size(); first += piece_bytes) {
        const std::string single = bzip2_stream(text.substr(first, piece_bytes), 1);
        const auto crc = static_cast<std::uint32_t>(number(single, header_bits + magic_bits, 32));
        // The single block's stream ends with the end mark, the combined
        // CRC (its block's own) and up to seven zero bits.
        std::uint64_t end = 0;
        for (std::uint64_t padding = 0; padding < 8 && end == 0; ++padding) {
            const std::uint64_t at = 8 * single.size() - padding - magic_bits - 32;
            if (number(single, at, 48) == end_mark && number(single, at + magic_bits, 32) == crc) end = at;
        }
        if (end == 0) throw std::runtime_error("no bzip2 end mark");
        blocks.extents.push_back({bits, first});
        for (std::uint64_t at = header_bits; at < end; ++at) put(number(single, at, 1), 1);
        combined = (combined << 1 | combined >> 31) ^ crc;
    }
    blocks.extents.push_back({bits, text.size()});
    put(end_mark, 48);
    put(combined, 32);
    return blocks;
}

// xz_blocks with where its blocks lie, as the stream's index tells; their
// texts must start at the multiples of `block_bytes`.
inline Blocks xz_blocks_with_extents(const std::string& text, std::uint64_t block_bytes) {
    Blocks blocks{xz_blocks(text, block_bytes), {}};
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(blocks.bytes.data());
    const std::size_t size = blocks.bytes.size();
    lzma_stream_flags footer;
    if (lzma_stream_footer_decode(&footer, bytes + size - LZMA_STREAM_HEADER_SIZE) != LZMA_OK)
        throw std::runtime_error("no xz footer");
    const std::size_t index_at = size - LZMA_STREAM_HEADER_SIZE - footer.backward_size;
    lzma_index* index = nullptr;
    std::uint64_t memory = UINT64_MAX;
    std::size_t at = index_at;
    if (lzma_index_buffer_decode(&index, &memory, nullptr, bytes, &at, size - LZMA_STREAM_HEADER_SIZE) != LZMA_OK)
        throw std::runtime_error("no xz index");
    lzma_index_iter iter;
    lzma_index_iter_init(&iter, index);
    while (!lzma_index_iter_next(&iter, LZMA_INDEX_ITER_BLOCK))
        blocks.extents.push_back({8 * iter.block.compressed_file_offset, iter.block.uncompressed_file_offset});
    blocks.extents.push_back({8 * index_at, lzma_index_uncompressed_size(index)});
    lzma_index_end(index, nullptr);
    for (std::size_t i = 0; i < blocks.extents.size(); ++i)
        if (blocks.extents[i].first_text_byte != std::min<std::uint64_t>(i * block_bytes, text.size()))
            throw std::runtime_error("xz blocks not of the size asked");
    return blocks;
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
