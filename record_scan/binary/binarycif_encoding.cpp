#include "binary/binarycif_encoding.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace record_scan {
namespace {

constexpr std::size_t key_capacity = 32;

bool read_number(MsgpackReader& reader, double& value) {
    MsgpackHeader header;
    if (!reader.next(header)) return false;
    if (header.kind != MsgpackKind::integer && header.kind != MsgpackKind::floating) return false;
    value = header.number;
    return true;
}

bool read_integer(MsgpackReader& reader, std::int64_t& value) {
    MsgpackHeader header;
    if (!reader.next(header)) return false;
    if (header.kind == MsgpackKind::floating) {
        // Written as a float by some encoders; only a whole value is an integer.
        if (!(std::abs(header.number) < 9e15) || header.number != std::floor(header.number)) return false;
        value = static_cast<std::int64_t>(header.number);
        return true;
    }
    if (header.kind != MsgpackKind::integer) return false;
    value = header.integer;
    return true;
}

bool read_bytes(MsgpackReader& reader, std::string& into, bool string) {
    MsgpackHeader header;
    if (!reader.next(header)) return false;
    if (header.kind != (string ? MsgpackKind::string : MsgpackKind::binary)) return false;
    into.clear();
    for (std::uint64_t left = header.length; left > 0;) {
        std::string_view part = reader.piece(static_cast<std::size_t>(std::min<std::uint64_t>(left, 1 << 16)));
        if (part.empty()) return false;
        into.append(part);  // grows only as the bytes arrive
        left -= part.size();
    }
    return true;
}

bool known_byte_type(std::int64_t type) {
    switch (type) {
        case int8: case int16: case int32: case uint8: case uint16: case uint32: case float32: case float64: return true;
        default: return false;
    }
}

bool read_kind(MsgpackReader& reader, StepKind& kind) {
    MsgpackHeader header;
    char text[key_capacity];
    std::string_view name;
    if (!reader.next(header) || !read_short_string(reader, header, text, sizeof text, name)) return false;
    static constexpr std::pair<std::string_view, StepKind> kinds[] = {
        {"ByteArray", StepKind::byte_array}, {"FixedPoint", StepKind::fixed_point},
        {"IntervalQuantization", StepKind::interval_quantization}, {"RunLength", StepKind::run_length},
        {"Delta", StepKind::delta}, {"IntegerPacking", StepKind::integer_packing},
        {"StringArray", StepKind::string_array}};
    for (const auto& [known, value] : kinds)
        if (name == known) {
            kind = value;
            return true;
        }
    return false;  // an unknown kind can not be decoded
}

bool read_chain(MsgpackReader& reader, const MsgpackHeader& array, StepChain& chain, ColumnEncoding* outer);

bool read_chain_value(MsgpackReader& reader, StepChain& chain) {
    MsgpackHeader header;
    return reader.next(header) && read_chain(reader, header, chain, nullptr);
}

// One step's map; `outer` is null inside a StringArray, which can not nest.
bool read_step(MsgpackReader& reader, EncodingStep& step, ColumnEncoding* outer) {
    MsgpackHeader map;
    if (!reader.next(map) || map.kind != MsgpackKind::map) return false;
    bool has_kind = false;
    for (std::uint64_t entry = 0; entry < map.length; ++entry) {
        MsgpackHeader key_header;
        char text[key_capacity];
        std::string_view key;
        if (!reader.next(key_header)) return false;
        if (!read_short_string(reader, key_header, text, sizeof text, key)) {
            if (reader.damaged() || !reader.skip_value()) return false;
            continue;
        }
        bool ok = true;
        std::int64_t integer = 0;
        if (key == "kind") ok = has_kind = read_kind(reader, step.kind);
        else if (key == "type") {
            ok = read_integer(reader, integer) && known_byte_type(integer);
            step.type = static_cast<int>(integer);
        }
        else if (key == "factor") ok = read_number(reader, step.factor);
        else if (key == "min") ok = read_number(reader, step.min);
        else if (key == "max") ok = read_number(reader, step.max);
        else if (key == "numSteps") ok = read_integer(reader, step.num_steps);
        else if (key == "origin") ok = read_integer(reader, step.origin);
        else if (key == "srcSize") ok = read_integer(reader, step.src_size);
        else if (key == "byteCount") ok = read_integer(reader, step.byte_count);
        else if (key == "isUnsigned") {
            MsgpackHeader flag;
            ok = reader.next(flag) && flag.kind == MsgpackKind::boolean;
            step.is_unsigned = flag.integer != 0;
        } else if (outer != nullptr && key == "dataEncoding") ok = read_chain_value(reader, outer->index_chain);
        else if (outer != nullptr && key == "offsetEncoding") ok = read_chain_value(reader, outer->offset_chain);
        else if (outer != nullptr && key == "stringData") ok = read_bytes(reader, outer->string_data, true);
        else if (outer != nullptr && key == "offsets") ok = read_bytes(reader, outer->offsets, false);
        else ok = reader.skip_value();  // srcType and anything else decide nothing
        if (!ok) return false;
    }
    return has_kind && (step.kind != StepKind::string_array || outer != nullptr);
}

bool read_chain(MsgpackReader& reader, const MsgpackHeader& array, StepChain& chain, ColumnEncoding* outer) {
    if (array.kind != MsgpackKind::array || array.length > StepChain::capacity) return false;
    chain.count = 0;
    for (std::uint64_t i = 0; i < array.length; ++i) {
        EncodingStep& step = chain.steps[chain.count++];
        step = {};
        if (!read_step(reader, step, outer)) return false;
    }
    return true;
}

}  // namespace

bool read_encoding(MsgpackReader& reader, const MsgpackHeader& array, ColumnEncoding& encoding) {
    encoding.index_chain.count = encoding.offset_chain.count = 0;
    encoding.string_data.clear();
    encoding.offsets.clear();
    return read_chain(reader, array, encoding.chain, &encoding);
}

}  // namespace record_scan
