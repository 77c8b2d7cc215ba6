#include "binary/mmtf_codecs.hpp"

#include <initializer_list>

namespace record_scan {
namespace {

EncodingStep bytes_of(int type) {
    EncodingStep step;
    step.kind = StepKind::byte_array;
    step.type = type;
    return step;
}

EncodingStep divided_by(std::int32_t parameter) {
    EncodingStep step;
    step.kind = StepKind::fixed_point;
    step.factor = parameter;
    return step;
}

// Recursive indexing: a run of limit values and the value after them make one.
EncodingStep recursive_index(std::int64_t byte_count, std::int32_t length) {
    EncodingStep step;
    step.kind = StepKind::integer_packing;
    step.byte_count = byte_count;
    step.src_size = length;
    return step;
}

EncodingStep with_kind(StepKind kind, std::int32_t length) {
    EncodingStep step;
    step.kind = kind;
    step.src_size = length;
    return step;
}

void set_chain(StepChain& chain, std::initializer_list<EncodingStep> steps) {
    chain.count = 0;
    for (const EncodingStep& step : steps) chain.steps[chain.count++] = step;
}

}  // namespace

MmtfListHeader read_mmtf_header(const unsigned char (&bytes)[mmtf_header_bytes]) {
    auto field = [&](int at) {
        const std::uint32_t value = std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
                                    std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
        return static_cast<std::int32_t>(value);
    };
    return {field(0), field(4), field(8)};
}

bool mmtf_encoding(const MmtfListHeader& header, ColumnEncoding& encoding) {
    StepChain& chain = encoding.chain;
    const std::int32_t p = header.parameter, n = header.length;
    if (header.codec != 1 && p == 0) return false;
    switch (header.codec) {
        case 1: set_chain(chain, {bytes_of(float32_big)}); return true;
        case 9: set_chain(chain, {divided_by(p), with_kind(StepKind::run_length, n), bytes_of(int32_big)}); return true;
        case 10:
            set_chain(chain, {divided_by(p), with_kind(StepKind::delta, n), recursive_index(2, n), bytes_of(int16_big)});
            return true;
        case 11: set_chain(chain, {divided_by(p), bytes_of(int16_big)}); return true;
        case 12: set_chain(chain, {divided_by(p), recursive_index(2, n), bytes_of(int16_big)}); return true;
        case 13: set_chain(chain, {divided_by(p), recursive_index(1, n), bytes_of(int8)}); return true;
        default: return false;
    }
}

}  // namespace record_scan
