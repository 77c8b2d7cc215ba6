// bzip2, xz and zstd inputs decoded whole, stream by stream, by each
// format's library; what lies between the streams (xz's padding, zstd's
// skippable frames, the end) is judged here by the format's rules rather
// than by the library's own concatenated modes. Each gives nothing when the
// input is damaged, cut short, or followed by bytes that begin no stream.
#pragma once

#include <bzlib.h>
#include <lzma.h>
#include <zstd.h>

#include <cstdint>
#include <optional>
#include <string>

namespace reference {

inline std::optional<std::string> bunzip2(const std::string& bytes) {
    std::string text;
    for (std::size_t offset = 0; offset < bytes.size();) {
        bz_stream stream{};
        if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) return std::nullopt;
        stream.next_in = const_cast<char*>(bytes.data()) + offset;
        stream.avail_in = static_cast<unsigned>(bytes.size() - offset);
        int status;
        do {
            char out[1 << 16];
            stream.next_out = out;
            stream.avail_out = sizeof out;
            status = BZ2_bzDecompress(&stream);
            text.append(out, sizeof out - stream.avail_out);
        } while (status == BZ_OK && (stream.avail_in > 0 || stream.avail_out == 0));
        offset = bytes.size() - stream.avail_in;
        BZ2_bzDecompressEnd(&stream);
        if (status != BZ_STREAM_END) return std::nullopt;
    }
    return text;
}

// After each stream, zero bytes in multiples of four may follow.
inline std::optional<std::string> unxz(const std::string& bytes) {
    std::string text;
    for (std::size_t offset = 0; offset < bytes.size();) {
        lzma_stream stream = LZMA_STREAM_INIT;
        if (lzma_stream_decoder(&stream, UINT64_MAX, LZMA_TELL_UNSUPPORTED_CHECK) != LZMA_OK) return std::nullopt;
        stream.next_in = reinterpret_cast<const std::uint8_t*>(bytes.data()) + offset;
        stream.avail_in = bytes.size() - offset;
        lzma_ret status;
        do {
            std::uint8_t out[1 << 16];
            stream.next_out = out;
            stream.avail_out = sizeof out;
            status = lzma_code(&stream, LZMA_FINISH);
            text.append(reinterpret_cast<const char*>(out), sizeof out - stream.avail_out);
        } while (status == LZMA_OK);
        offset = bytes.size() - stream.avail_in;
        lzma_end(&stream);
        if (status != LZMA_STREAM_END) return std::nullopt;
        std::size_t padding = 0;
        while (offset < bytes.size() && bytes[offset] == '\0') ++offset, ++padding;
        if (padding % 4 != 0) return std::nullopt;
    }
    return text;
}

// Frame by frame, as the format lays them end to end; a skippable frame
// decodes to nothing.
inline std::optional<std::string> unzstd(const std::string& bytes) {
    std::string text;
    for (std::size_t offset = 0; offset < bytes.size();) {
        const std::size_t frame = ZSTD_findFrameCompressedSize(bytes.data() + offset, bytes.size() - offset);
        if (ZSTD_isError(frame)) return std::nullopt;
        ZSTD_DCtx* context = ZSTD_createDCtx();
        ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, ZSTD_dParam_getBounds(ZSTD_d_windowLogMax).upperBound);
        ZSTD_inBuffer input{bytes.data() + offset, frame, 0};
        bool whole = false;
        for (;;) {
            char out[1 << 16];
            ZSTD_outBuffer output{out, sizeof out, 0};
            const std::size_t status = ZSTD_decompressStream(context, &output, &input);
            text.append(out, output.pos);
            whole = status == 0;
            // An error, the frame's end, or a frame that wants more than it holds.
            if (ZSTD_isError(status) || whole || (input.pos == input.size && output.pos < output.size)) break;
        }
        ZSTD_freeDCtx(context);
        if (!whole || input.pos != frame) return std::nullopt;
        offset += frame;
    }
    return text;
}

}  // namespace reference
