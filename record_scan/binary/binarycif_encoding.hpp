// How a BinaryCIF column is encoded: its steps as the file lists them, the
// first applied last when decoding. Read from the file before the bytes
// they decode, and small: a StringArray's string table and offsets are the
// only bytes held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "binary/msgpack_reader.hpp"

namespace record_scan {

enum class StepKind : unsigned char {
    byte_array, fixed_point, interval_quantization, run_length, delta, integer_packing, string_array,
};

// The ByteArray types, as the format numbers them; the big-endian ones are
// this reader's own, for the lists of MMTF files, and never read from a file.
enum ByteType : int {
    int8 = 1, int16 = 2, int32 = 3, uint8 = 4, uint16 = 5, uint32 = 6, float32 = 32, float64 = 33,
    int16_big = 102, int32_big = 103, float32_big = 132,
};

constexpr bool is_float_type(int type) { return type == float32 || type == float64 || type == float32_big; }

struct EncodingStep {
    StepKind kind = StepKind::byte_array;
    int type = 0;                 // ByteArray
    double factor = 0;            // FixedPoint
    double min = 0, max = 0;      // IntervalQuantization
    std::int64_t num_steps = 0;
    std::int64_t origin = 0;      // Delta
    std::int64_t src_size = -1;   // RunLength, IntegerPacking
    std::int64_t byte_count = 0;  // IntegerPacking
    bool is_unsigned = false;
};

// Real files use four steps at most; more is damage, never an allocation.
struct StepChain {
    static constexpr unsigned capacity = 8;
    EncodingStep steps[capacity];
    unsigned count = 0;
};

struct ColumnEncoding {
    StepChain chain;
    // A StringArray (then the chain's only step): the encodings of the
    // indices (the column's data) and of the offsets, with the bytes it holds.
    StepChain index_chain;
    StepChain offset_chain;
    std::string string_data;
    std::string offsets;

    bool is_string_array() const { return chain.count == 1 && chain.steps[0].kind == StepKind::string_array; }
};

// Reads the `encoding` array whose header was just read; false when it is
// damaged, or holds an unknown kind or ByteArray type.
bool read_encoding(MsgpackReader& reader, const MsgpackHeader& array, ColumnEncoding& encoding);

}  // namespace record_scan
