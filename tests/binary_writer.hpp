// An encoder of binary structure files for tests, fuzz seeds and
// benchmarks: MessagePack values, BinaryCIF columns through every step
// kind, and MMTF coordinate lists through every float codec. Written from
// the format's description alone, for clarity rather than speed: each
// step takes a whole vector and gives a whole vector.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace binary_writer {

// MessagePack, the shortest form of each value unless `wide` asks for the
// 32-bit forms (which readers must take as well).
class Msgpack {
public:
    explicit Msgpack(bool wide = false) : wide_(wide) {}
    std::string bytes;

    void map(std::uint32_t entries) { header(0x80, 0xde, 0xdf, entries, 16); }
    void array(std::uint32_t entries) { header(0x90, 0xdc, 0xdd, entries, 16); }
    void str(const std::string& text) {
        if (!wide_ && text.size() < 32) bytes += static_cast<char>(0xa0 | text.size());
        else if (!wide_ && text.size() < 256) { bytes += '\xd9'; big(text.size(), 1); }
        else { bytes += '\xdb'; big(text.size(), 4); }
        bytes += text;
    }
    void bin(const std::string& data) {
        if (!wide_ && data.size() < 256) { bytes += '\xc4'; big(data.size(), 1); }
        else if (!wide_ && data.size() < 65536) { bytes += '\xc5'; big(data.size(), 2); }
        else { bytes += '\xc6'; big(data.size(), 4); }
        bytes += data;
    }
    void integer(std::int64_t value) {
        if (!wide_ && value >= 0 && value < 128) bytes += static_cast<char>(value);
        else if (!wide_ && value < 0 && value >= -32) bytes += static_cast<char>(value);
        else if (value >= 0 && value <= 0xffffffff) { bytes += '\xce'; big(static_cast<std::uint64_t>(value), 4); }
        else { bytes += '\xd3'; big(static_cast<std::uint64_t>(value), 8); }
    }
    void number(double value) {
        bytes += '\xcb';
        big(std::bit_cast<std::uint64_t>(value), 8);
    }
    void boolean(bool value) { bytes += value ? '\xc3' : '\xc2'; }
    void nil() { bytes += '\xc0'; }
    void key(const std::string& name) { str(name); }

private:
    void header(unsigned fix, unsigned char lead16, unsigned char lead32, std::uint32_t count, unsigned fix_limit) {
        if (!wide_ && count < fix_limit) bytes += static_cast<char>(fix | count);
        else if (!wide_ && count < 65536) { bytes += static_cast<char>(lead16); big(count, 2); }
        else { bytes += static_cast<char>(lead32); big(count, 4); }
    }
    void big(std::uint64_t value, int width) {
        for (int i = width - 1; i >= 0; --i) bytes += static_cast<char>(value >> (8 * i));
    }
    bool wide_;
};

// ---- BinaryCIF ----

enum Type { int8 = 1, int16 = 2, int32 = 3, uint8 = 4, uint16 = 5, uint32 = 6, float32 = 32, float64 = 33 };

// One step as the file lists it; `write` adds its map.
struct Step {
    std::string kind;
    std::vector<std::pair<std::string, double>> numbers{};  // written as integers when whole
    bool is_unsigned = false;
    bool has_unsigned = false;

    void write(Msgpack& out) const {
        out.map(static_cast<std::uint32_t>(1 + numbers.size() + has_unsigned));
        out.key("kind");
        out.str(kind);
        for (const auto& [name, value] : numbers) {
            out.key(name);
            if (name == "factor" || name == "min" || name == "max") out.number(value);
            else out.integer(static_cast<std::int64_t>(value));
        }
        if (has_unsigned) {
            out.key("isUnsigned");
            out.boolean(is_unsigned);
        }
    }
};

// An encoded column: its bytes and steps, the first applied last when decoding.
struct Encoded {
    std::string data;
    std::vector<Step> steps;
    // A StringArray's parts.
    bool string_array = false;
    std::vector<Step> index_steps, offset_steps;
    std::string string_data, offsets;
};

// Integers on the way through the steps.
using Ints = std::vector<std::int64_t>;

template <typename T>
void append_little(std::string& out, T value) {
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    if constexpr (std::endian::native == std::endian::big)
        for (std::size_t i = 0; i < sizeof value / 2; ++i) std::swap(bytes[i], bytes[sizeof value - 1 - i]);
    out.append(bytes, sizeof value);
}

inline Encoded byte_array(const Ints& values, Type type) {
    Encoded e;
    for (std::int64_t v : values) switch (type) {
            case int8: append_little(e.data, static_cast<std::int8_t>(v)); break;
            case int16: append_little(e.data, static_cast<std::int16_t>(v)); break;
            case int32: append_little(e.data, static_cast<std::int32_t>(v)); break;
            case uint8: append_little(e.data, static_cast<std::uint8_t>(v)); break;
            case uint16: append_little(e.data, static_cast<std::uint16_t>(v)); break;
            case uint32: append_little(e.data, static_cast<std::uint32_t>(v)); break;
            case float32: append_little(e.data, static_cast<float>(v)); break;
            case float64: append_little(e.data, static_cast<double>(v)); break;
        }
    e.steps.push_back({"ByteArray", {{"type", type}}});
    return e;
}

inline Encoded float_array(const std::vector<double>& values, Type type) {
    Encoded e;
    for (double v : values) {
        if (type == float32) append_little(e.data, static_cast<float>(v));
        else append_little(e.data, v);
    }
    e.steps.push_back({"ByteArray", {{"type", type}}});
    return e;
}

// The steps on integers, each giving integers for the next.
inline Ints delta(const Ints& values, std::int64_t& origin) {
    Ints out;
    origin = values.empty() ? 0 : values[0];
    std::int64_t last = origin;
    for (std::int64_t v : values) {
        out.push_back(v - last);
        last = v;
    }
    return out;
}

inline Ints run_length(const Ints& values) {
    Ints out;
    for (std::size_t i = 0; i < values.size();) {
        std::size_t j = i;
        while (j < values.size() && values[j] == values[i]) ++j;
        out.push_back(values[i]);
        out.push_back(static_cast<std::int64_t>(j - i));
        i = j;
    }
    return out;
}

inline Ints integer_packing(const Ints& values, int byte_count, bool is_unsigned) {
    const std::int64_t upper = is_unsigned ? (byte_count == 1 ? 0xff : 0xffff) : (byte_count == 1 ? 0x7f : 0x7fff);
    const std::int64_t lower = is_unsigned ? 0 : -upper - 1;
    Ints out;
    for (std::int64_t v : values) {
        if (v >= 0) {
            for (; v >= upper; v -= upper) out.push_back(upper);
        } else {
            for (; v <= lower; v -= lower) out.push_back(lower);
        }
        out.push_back(v);
    }
    return out;
}

// How integers are encoded down to bytes: the steps named, outermost first.
struct IntPlan {
    bool delta = false;
    bool run_length = false;
    int packing_bytes = 0;  // 0: none, else 1 or 2
    bool packing_unsigned = false;
    Type type = int32;
};

inline Encoded encode_ints(const Ints& values, const IntPlan& plan) {
    Ints ints = values;
    std::vector<Step> outer;
    if (plan.delta) {
        std::int64_t origin;
        ints = delta(ints, origin);
        outer.push_back({"Delta", {{"origin", static_cast<double>(origin)}, {"srcType", int32}}});
    }
    if (plan.run_length) {
        const double src_size = static_cast<double>(ints.size());
        ints = run_length(ints);
        outer.push_back({"RunLength", {{"srcType", int32}, {"srcSize", src_size}}});
    }
    if (plan.packing_bytes != 0) {
        const double src_size = static_cast<double>(ints.size());
        ints = integer_packing(ints, plan.packing_bytes, plan.packing_unsigned);
        Step step{"IntegerPacking", {{"byteCount", plan.packing_bytes}, {"srcSize", src_size}}};
        step.has_unsigned = true;
        step.is_unsigned = plan.packing_unsigned;
        outer.push_back(step);
    }
    Encoded e = byte_array(ints, plan.type);
    outer.insert(outer.end(), e.steps.begin(), e.steps.end());
    e.steps = outer;
    return e;
}

// Integers k standing for k / factor.
inline Encoded fixed_point(const Ints& k, double factor, const IntPlan& plan) {
    Encoded e = encode_ints(k, plan);
    e.steps.insert(e.steps.begin(), Step{"FixedPoint", {{"factor", factor}, {"srcType", float32}}});
    return e;
}

// Integers k standing for min + (max - min) / (steps - 1) * k.
inline Encoded interval_quantization(const Ints& k, double min, double max, std::int64_t steps, const IntPlan& plan) {
    Encoded e = encode_ints(k, plan);
    e.steps.insert(e.steps.begin(), Step{"IntervalQuantization",
                                         {{"min", min}, {"max", max}, {"numSteps", static_cast<double>(steps)}, {"srcType", float32}}});
    return e;
}

// Strings (a negative index: null) as a table and indices.
inline Encoded string_array(const std::vector<std::string>& values, const IntPlan& index_plan) {
    Encoded e;
    e.string_array = true;
    std::vector<std::string> table;
    Ints indices, offsets{0};
    for (const std::string& v : values) {
        std::size_t i = 0;
        while (i < table.size() && table[i] != v) ++i;
        if (i == table.size()) {
            table.push_back(v);
            e.string_data += v;
            offsets.push_back(static_cast<std::int64_t>(e.string_data.size()));
        }
        indices.push_back(static_cast<std::int64_t>(i));
    }
    Encoded index = encode_ints(indices, index_plan);
    Encoded offset = encode_ints(offsets, {.delta = true, .packing_bytes = 2, .type = int16});
    e.data = index.data;
    e.index_steps = index.steps;
    e.offsets = offset.data;
    e.offset_steps = offset.steps;
    e.steps.push_back({"StringArray"});
    return e;
}

inline void write_steps(Msgpack& out, const std::vector<Step>& steps) {
    out.array(static_cast<std::uint32_t>(steps.size()));
    for (const Step& step : steps) step.write(out);
}

// The order of the keys of each map, as the file writes them. The archive's
// encoder writes a category's rowCount after its columns and a column's
// mask after its data; a reader must take any order.
struct KeyOrder {
    std::vector<std::string> category{"name", "columns", "rowCount"};
    std::vector<std::string> column{"name", "data", "mask"};
    bool encoding_first = true;  // {encoding, data}, or {data, encoding}
};

inline const KeyOrder archive_order{};

inline void write_encoded(Msgpack& out, const Encoded& e, bool encoding_first) {
    out.map(2);
    auto encoding = [&] {
        out.key("encoding");
        if (!e.string_array) return write_steps(out, e.steps);
        out.array(1);
        out.map(5);
        out.key("kind");
        out.str("StringArray");
        out.key("dataEncoding");
        write_steps(out, e.index_steps);
        out.key("stringData");
        out.str(e.string_data);
        out.key("offsetEncoding");
        write_steps(out, e.offset_steps);
        out.key("offsets");
        out.bin(e.offsets);
    };
    auto data = [&] {
        out.key("data");
        out.bin(e.data);
    };
    if (encoding_first) { encoding(); data(); }
    else { data(); encoding(); }
}

struct Column {
    std::string name;
    Encoded data;
    bool has_mask = false;
    Encoded mask{};
};

inline void write_column(Msgpack& out, const Column& column, const KeyOrder& order) {
    out.map(static_cast<std::uint32_t>(order.column.size()));
    for (const std::string& key : order.column) {
        out.key(key);
        if (key == "name") out.str(column.name);
        else if (key == "data") write_encoded(out, column.data, order.encoding_first);
        else if (column.has_mask) write_encoded(out, column.mask, order.encoding_first);
        else out.nil();
    }
}

struct Category {
    std::string name;
    std::int64_t row_count = 0;
    std::vector<Column> columns;
};

inline void write_category(Msgpack& out, const Category& category, const KeyOrder& order) {
    out.map(static_cast<std::uint32_t>(order.category.size()));
    for (const std::string& key : order.category) {
        out.key(key);
        if (key == "name") {
            out.str(category.name);
        } else if (key == "rowCount") {
            out.integer(category.row_count);
        } else {
            out.array(static_cast<std::uint32_t>(category.columns.size()));
            for (const Column& column : category.columns) write_column(out, column, order);
        }
    }
}

// A whole file: data blocks of categories.
inline std::string binarycif(const std::vector<std::vector<Category>>& blocks, bool wide = false,
                             const KeyOrder& order = archive_order) {
    Msgpack out(wide);
    out.map(3);
    out.key("version");
    out.str("0.3.0");
    out.key("encoder");
    out.str("binary_writer");
    out.key("dataBlocks");
    out.array(static_cast<std::uint32_t>(blocks.size()));
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        out.map(2);
        out.key("header");
        out.str("BLOCK" + std::to_string(b));
        out.key("categories");
        out.array(static_cast<std::uint32_t>(blocks[b].size()));
        for (const Category& category : blocks[b]) write_category(out, category, order);
    }
    return out.bytes;
}

// ---- MMTF ----

inline void append_big(std::string& out, std::uint64_t value, int width) {
    for (int i = width - 1; i >= 0; --i) out += static_cast<char>(value >> (8 * i));
}

// A coordinate list of integers k standing for k / divisor (codec 1: the
// floats k / divisor themselves).
inline std::string mmtf_list(const Ints& k, int codec, std::int32_t divisor) {
    std::string out;
    append_big(out, static_cast<std::uint32_t>(codec), 4);
    append_big(out, static_cast<std::uint32_t>(k.size()), 4);
    append_big(out, static_cast<std::uint32_t>(codec == 1 ? 0 : divisor), 4);
    Ints ints = k;
    switch (codec) {
        case 1:
            for (std::int64_t v : k) {
                const float value = static_cast<float>(static_cast<double>(v) / divisor);
                append_big(out, std::bit_cast<std::uint32_t>(value), 4);
            }
            return out;
        case 9:
            for (std::int64_t v : run_length(ints)) append_big(out, static_cast<std::uint32_t>(v), 4);
            return out;
        case 10:  // deltas, the first from 0
            for (std::size_t i = ints.size(); i-- > 1;) ints[i] -= ints[i - 1];
            [[fallthrough]];
        case 12:
            for (std::int64_t v : integer_packing(ints, 2, false)) append_big(out, static_cast<std::uint16_t>(v), 2);
            return out;
        case 11:
            for (std::int64_t v : ints) append_big(out, static_cast<std::uint16_t>(v), 2);
            return out;
        case 13:
            for (std::int64_t v : integer_packing(ints, 1, false)) append_big(out, static_cast<std::uint8_t>(v), 1);
            return out;
    }
    return out;
}

// {mmtfVersion, numAtoms, xCoordList, yCoordList, zCoordList}.
// numAtoms before the lists, as the archive writes it, or after them.
inline std::string mmtf(const Ints (&k)[3], int codec, std::int32_t divisor, bool wide = false, bool count_last = false) {
    Msgpack out(wide);
    out.map(6);
    out.key("mmtfVersion");
    out.str("1.0.0");
    out.key("mmtfProducer");
    out.str("binary_writer");
    auto count = [&] {
        out.key("numAtoms");
        out.integer(static_cast<std::int64_t>(k[0].size()));
    };
    if (!count_last) count();
    static const char* const names[] = {"xCoordList", "yCoordList", "zCoordList"};
    for (int axis = 0; axis < 3; ++axis) {
        out.key(names[axis]);
        out.bin(mmtf_list(k[axis], codec, divisor));
    }
    if (count_last) count();
    return out.bytes;
}

}  // namespace binary_writer
