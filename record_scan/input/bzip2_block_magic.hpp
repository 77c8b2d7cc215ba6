// Where a bzip2 block begins: its magic number, 48 bits at any bit offset,
// found in bytes of compressed data without reading most of them.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace record_scan::bzip2_block {

// Every block begins with these 48 bits, at any bit offset.
constexpr std::uint64_t magic = 0x314159265359;
constexpr int magic_bits = 48;

// A magic number that starts s bits into byte p (s from 0, the top bit)
// holds bytes p + 1 to p + 5 wholly. For each value of a byte, the places
// where it would stand so: bit 8 (k - 1) + s for byte p + k.
constexpr std::array<std::uint64_t, 256> inner_byte_places = [] {
    std::array<std::uint64_t, 256> places{};
    for (int s = 0; s < 8; ++s)
        for (int k = 1; k <= 5; ++k)
            places[(magic >> (magic_bits - 8 * (k + 1) + s)) & 0xFF] |= std::uint64_t{1} << (8 * (k - 1) + s);
    return places;
}();

// Whether a magic number starts at one of the bit `offsets` (bit s for s
// bits into the byte) of `bytes[at]` and lies wholly in the first `count`.
inline bool magic_at(const std::uint8_t* bytes, std::size_t at, std::size_t count, unsigned offsets) {
    const std::size_t window_bytes = std::min<std::size_t>(8, count - at);
    std::uint64_t window = 0;  // big-endian, zeros past the end
    if (window_bytes == 8) {
        std::memcpy(&window, bytes + at, 8);
        if constexpr (std::endian::native == std::endian::little) window = __builtin_bswap64(window);
    } else {
        for (std::size_t i = 0; i < window_bytes; ++i) window |= std::uint64_t{bytes[at + i]} << (56 - 8 * i);
    }
    for (; offsets != 0; offsets &= offsets - 1) {
        const auto s = static_cast<unsigned>(std::countr_zero(offsets));
        if (s + magic_bits > 8 * window_bytes) break;  // the later offsets reach further still
        if ((window >> (64 - magic_bits - s) & ((std::uint64_t{1} << magic_bits) - 1)) == magic) return true;
    }
    return false;
}

// The first byte of `bytes` (`count` of them) that holds the first bit of a
// magic number lying wholly among them; `count` when there is none. Every
// magic number holds one of each five bytes looked at, and few bytes of
// compressed data (about one in seven) could be one of its.
inline std::size_t first_magic(const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t probe = 1; probe < count; probe += 5) {
        // The places are taken from byte p + 5 down, so that the start
        // nearest the front is tried first.
        for (std::uint64_t places = inner_byte_places[bytes[probe]]; places != 0;) {
            const auto group = static_cast<unsigned>(63 - std::countl_zero(places)) / 8;
            const auto offsets = static_cast<unsigned>(places >> (8 * group) & 0xFF);
            places &= ~(std::uint64_t{0xFF} << (8 * group));
            const std::size_t k = group + 1;
            if (k <= probe && magic_at(bytes, probe - k, count, offsets)) return probe - k;
        }
    }
    return count;
}

}  // namespace record_scan::bzip2_block
