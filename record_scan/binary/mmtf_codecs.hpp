// The float codecs of MMTF coordinate lists, as the BinaryCIF steps that
// decode the same way (with big-endian elements), so that one set of
// stream stages reads both formats.
#pragma once

#include <cstdint>

#include "binary/binarycif_encoding.hpp"

namespace record_scan {

// A list's 12-byte header: codec, decoded length, parameter, big-endian.
inline constexpr std::size_t mmtf_header_bytes = 12;

struct MmtfListHeader {
    std::int32_t codec = 0;
    std::int32_t length = 0;
    std::int32_t parameter = 0;
};

MmtfListHeader read_mmtf_header(const unsigned char (&bytes)[mmtf_header_bytes]);

// The steps of a float codec (1, 9, 10, 11, 12, 13); false for another
// codec, or a divisor of 0.
bool mmtf_encoding(const MmtfListHeader& header, ColumnEncoding& encoding);

}  // namespace record_scan
