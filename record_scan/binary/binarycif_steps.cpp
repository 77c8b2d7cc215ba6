#include "binary/binarycif_steps.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "binary/delta_sums.hpp"
#include "binary/exact_quotient.hpp"
#include "mmcif/cif_number.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace record_scan {
namespace {

constexpr std::size_t block = 512;

template <typename T, std::endian order = std::endian::little>
T element(const char* bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof value);
    if constexpr (std::endian::native != order) {
        char reversed[sizeof value];
        for (std::size_t i = 0; i < sizeof value; ++i) reversed[i] = bytes[sizeof value - 1 - i];
        std::memcpy(&value, reversed, sizeof value);
    }
    return value;
}

// The elements of a ByteArray, whichever pieces their bytes come in: an
// element split between two pieces is put together in `carry_`.
class Elements {
public:
    Elements(EncodedBytes& bytes, std::size_t size, DecodeStatus& status) : bytes_(bytes), size_(size), status_(status) {}

    // Calls take(pointer to `count` whole elements) until `wanted` are
    // taken or the bytes end; returns how many were.
    template <typename Take>
    std::size_t read(std::size_t wanted, Take take) {
        std::size_t made = 0;
        while (made < wanted) {
            if (piece_.empty() && !next_piece()) break;
            if (carried_ > 0 || piece_.size() < size_) {
                const std::size_t bytes = std::min(size_ - carried_, piece_.size());
                std::memcpy(carry_ + carried_, piece_.data(), bytes);
                carried_ += bytes;
                piece_.remove_prefix(bytes);
                if (carried_ < size_) continue;
                take(carry_, 1);
                carried_ = 0;
                ++made;
                continue;
            }
            const std::size_t count = std::min(piece_.size() / size_, wanted - made);
            take(piece_.data(), count);
            piece_.remove_prefix(count * size_);
            made += count;
        }
        return made;
    }

private:
    bool next_piece() {
        piece_ = bytes_.next_piece();
        if (!piece_.empty()) return true;
        if (carried_ > 0) status_.damaged = true;  // a length that is no whole number of elements
        return false;
    }

    EncodedBytes& bytes_;
    std::size_t size_;
    DecodeStatus& status_;
    std::string_view piece_;
    char carry_[8];
    std::size_t carried_ = 0;
};

std::size_t byte_size(int type) {
    switch (type) {
        case int8: case uint8: return 1;
        case int16: case uint16: case int16_big: return 2;
        case int32: case uint32: case float32: case int32_big: case float32_big: return 4;
        default: return 8;
    }
}

class IntBytes final : public IntStage {
public:
    IntBytes(EncodedBytes& bytes, int type, DecodeStatus& status)
        : elements_(bytes, byte_size(type), status), type_(type) {}
    std::size_t pull(std::int64_t* out, std::size_t wanted) override {
        switch (type_) {
            case int8: return read<std::int8_t>(out, wanted);
            case int16: return read<std::int16_t>(out, wanted);
            case int32: return read<std::int32_t>(out, wanted);
            case uint8: return read<std::uint8_t>(out, wanted);
            case uint16: return read<std::uint16_t>(out, wanted);
            case int16_big: return read<std::int16_t, std::endian::big>(out, wanted);
            case int32_big: return read<std::int32_t, std::endian::big>(out, wanted);
            default: return read<std::uint32_t>(out, wanted);
        }
    }

private:
    template <typename T, std::endian order = std::endian::little>
    std::size_t read(std::int64_t* out, std::size_t wanted) {
        return elements_.read(wanted, [&out](const char* bytes, std::size_t count) {
            for (std::size_t i = 0; i < count; ++i) *out++ = element<T, order>(bytes + i * sizeof(T));
        });
    }
    Elements elements_;
    int type_;
};

class FloatBytes final : public NumberStage {
public:
    FloatBytes(EncodedBytes& bytes, int type, DecodeStatus& status)
        : elements_(bytes, byte_size(type), status), type_(type) {}
    std::size_t pull(float* out, std::size_t wanted) override {
        if (type_ == float32)
            return elements_.read(wanted, [&out](const char* bytes, std::size_t count) {
                for (std::size_t i = 0; i < count; ++i) *out++ = element<float>(bytes + 4 * i);
            });
        if (type_ == float32_big)
            return elements_.read(wanted, [&out](const char* bytes, std::size_t count) {
                for (std::size_t i = 0; i < count; ++i) *out++ = element<float, std::endian::big>(bytes + 4 * i);
            });
        return elements_.read(wanted, [&out](const char* bytes, std::size_t count) {
            for (std::size_t i = 0; i < count; ++i) *out++ = static_cast<float>(element<double>(bytes + 8 * i));
        });
    }

private:
    Elements elements_;
    int type_;
};

// Values of the stage inside, a block at a time.
class IntInput {
public:
    explicit IntInput(std::unique_ptr<IntStage> inner) : inner_(std::move(inner)) {}
    bool next(std::int64_t& value) {
        if (at_ == count_) {
            count_ = ended_ ? 0 : inner_->pull(values_, block);
            ended_ = count_ < block;
            at_ = 0;
            if (count_ == 0) return false;
        }
        value = values_[at_++];
        return true;
    }
    // The values read ahead (refilled when none are left); empty at the end.
    std::span<const std::int64_t> ahead() {
        if (at_ == count_) {
            count_ = ended_ ? 0 : inner_->pull(values_, block);
            ended_ = count_ < block;
            at_ = 0;
        }
        return {values_ + at_, count_ - at_};
    }
    void consume(std::size_t count) { at_ += count; }

private:
    std::unique_ptr<IntStage> inner_;
    std::int64_t values_[block];
    std::size_t at_ = 0, count_ = 0;
    bool ended_ = false;
};

// Wrapping sums, as the format's 32-bit arrays wrap; never undefined.
std::int64_t wrapping_add(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}

// IntegerPacking: a run of limit values and the value after them make one
// value. What both of its readings share: the limits, the sum of a run,
// and whether the values came out whole and as many as the step says.
class PackedSums {
public:
    explicit PackedSums(const EncodingStep& step) : expected_(step.src_size) {
        const bool two = step.byte_count == 2;
        upper_ = step.is_unsigned ? (two ? 0xffff : 0xff) : (two ? 0x7fff : 0x7f);
        lower_ = step.is_unsigned ? upper_ : (two ? -0x8000 : -0x80);
    }
    bool is_limit(std::int64_t value) const { return value == upper_ || value == lower_; }
    bool pending() const { return pending_; }
    std::int64_t upper() const { return upper_; }
    std::int64_t lower() const { return lower_; }

    // Adds a packed element; true, with `value` set, when it ends a value.
    bool add(std::int64_t element, std::int64_t& value) {
        sum_ = wrapping_add(sum_, element);
        if (is_limit(element)) {
            pending_ = true;
            return false;
        }
        value = sum_;
        sum_ = 0;
        pending_ = false;
        return true;
    }

    // After a pull: fewer values than wanted means the elements ran out,
    // which is damage mid-value or short of the count the step gives.
    void settle(std::size_t made, std::size_t wanted, DecodeStatus& status) {
        produced_ += made;
        if (made < wanted && (pending_ || (expected_ >= 0 && produced_ != expected_))) status.damaged = true;
    }

private:
    std::int64_t expected_;
    std::int64_t upper_, lower_;
    std::int64_t sum_ = 0;
    bool pending_ = false;
    std::int64_t produced_ = 0;
};

// Whether any of `count` elements is a packing limit, judged in the
// element type, so that the loop vectorises.
template <typename T>
bool holds_limit(const char* bytes, std::size_t count, const PackedSums& sums) {
    const T upper = static_cast<T>(sums.upper()), lower = static_cast<T>(sums.lower());
    unsigned limit = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const T value = element<T>(bytes + i * sizeof(T));
        limit |= static_cast<unsigned>(value == upper) | static_cast<unsigned>(value == lower);
    }
    return limit != 0;
}

class Unpacking final : public IntStage {
public:
    Unpacking(std::unique_ptr<IntStage> inner, const EncodingStep& step, DecodeStatus& status)
        : input_(std::move(inner)), status_(status), sums_(step) {}
    std::size_t pull(std::int64_t* out, std::size_t wanted) override {
        std::size_t made = 0;
        while (made < wanted) {
            const std::span<const std::int64_t> in = input_.ahead();
            if (in.empty()) break;
            const std::size_t n = std::min(in.size(), wanted - made);
            std::size_t i = 0;
            // Most values are no limit and stand alone: copied straight.
            if (!sums_.pending())
                for (; i < n && !sums_.is_limit(in[i]); ++i) out[made + i] = in[i];
            made += i;
            for (; i < in.size() && made < wanted; ++i)
                if (sums_.add(in[i], out[made])) ++made;
            input_.consume(i);
        }
        sums_.settle(made, wanted, status_);
        return made;
    }

private:
    IntInput input_;
    DecodeStatus& status_;
    PackedSums sums_;
};

// IntegerPacking straight over a ByteArray of small integers, as the
// archive packs coordinate deltas: the elements read where they lie, and a
// stretch without limit values (nearly all) widened in one pass.
template <typename T>
class PackedElements final : public IntStage {
public:
    PackedElements(EncodedBytes& bytes, const EncodingStep& step, DecodeStatus& status)
        : elements_(bytes, sizeof(T), status), status_(status), sums_(step) {}
    std::size_t pull(std::int64_t* out, std::size_t wanted) override {
        std::size_t made = 0;
        // Each element gives at most one value: asking for what is missing never gives too many.
        while (made < wanted) {
            const std::size_t taken = elements_.read(wanted - made, [&](const char* bytes, std::size_t count) {
                std::int64_t* to = out + made;
                // Judged apart from widening: both loops vectorise.
                const bool limit = holds_limit<T>(bytes, count, sums_);
                for (std::size_t i = 0; i < count; ++i) to[i] = element<T>(bytes + i * sizeof(T));
                if (!limit && !sums_.pending()) {
                    made += count;
                    return;
                }
                std::size_t kept = 0;
                for (std::size_t i = 0; i < count; ++i)
                    if (sums_.add(to[i], to[kept])) ++kept;
                made += kept;
            });
            if (taken == 0) break;
        }
        sums_.settle(made, wanted, status_);
        return made;
    }

private:
    Elements elements_;
    DecodeStatus& status_;
    PackedSums sums_;
};

class RunLength final : public IntStage {
public:
    RunLength(std::unique_ptr<IntStage> inner, const EncodingStep& step, DecodeStatus& status)
        : input_(std::move(inner)), status_(status), expected_(step.src_size) {}
    std::size_t pull(std::int64_t* out, std::size_t wanted) override {
        return runs(out, wanted, [](std::int64_t value, std::int64_t* to, std::size_t count, std::size_t) {
            std::fill_n(to, count, value);
            return true;
        });
    }
    // Whether the next `count` values lie in the runs at hand (the current
    // one and those read ahead) and `same` takes each run's value (given
    // once a run); nothing is passed over.
    template <typename Same>
    bool runs_ahead(std::size_t count, Same same) {
        const auto wanted = static_cast<std::int64_t>(count);
        if (status_.damaged || (expected_ >= 0 && produced_ + wanted > expected_)) return false;
        if (left_ > 0 && !same(value_)) return false;
        std::int64_t covered = left_;
        const std::span<const std::int64_t> ahead = input_.ahead();
        for (std::size_t i = 0; covered < wanted; i += 2) {
            // A pair cut by the end of what is read ahead, or damaged, is pull()'s.
            if (i + 1 >= ahead.size() || ahead[i + 1] < 0) return false;
            if (ahead[i + 1] > 0 && !same(ahead[i])) return false;
            covered += ahead[i + 1];
        }
        return true;
    }
    // Passes over `count` values that runs_ahead() found at hand.
    void pass(std::size_t count) {
        auto left = static_cast<std::int64_t>(count);
        produced_ += left;
        while (left > 0) {
            if (left_ == 0) {
                input_.next(value_);
                input_.next(left_);
                continue;
            }
            const std::int64_t taken = std::min(left_, left);
            left_ -= taken;
            left -= taken;
        }
    }
    // The same as pull(), each run (or its part) written by fill(value, to,
    // count, row within this call), which is false for a value it can not take.
    template <typename Out, typename Fill>
    std::size_t runs(Out* out, std::size_t wanted, Fill fill) {
        std::size_t made = 0;
        while (made < wanted && !status_.damaged) {
            if (left_ == 0) {
                std::int64_t count;
                if (!input_.next(value_)) break;
                if (!input_.next(count) || count < 0) {
                    status_.damaged = true;  // a value without its count
                    break;
                }
                left_ = count;
                continue;
            }
            const std::size_t run = static_cast<std::size_t>(std::min<std::int64_t>(left_, static_cast<std::int64_t>(wanted - made)));
            if (!fill(value_, out + made, run, made)) {
                status_.damaged = true;
                break;
            }
            made += run;
            left_ -= static_cast<std::int64_t>(run);
        }
        produced_ += made;
        if (expected_ >= 0 && (produced_ > expected_ || (made < wanted && produced_ != expected_))) status_.damaged = true;
        return status_.damaged ? 0 : made;
    }

private:
    IntInput input_;
    DecodeStatus& status_;
    std::int64_t expected_;
    std::int64_t value_ = 0;
    std::int64_t left_ = 0;
    std::int64_t produced_ = 0;
};

class Delta final : public IntStage {
public:
    Delta(std::unique_ptr<IntStage> inner, const EncodingStep& step) : inner_(std::move(inner)), last_(step.origin) {}
    std::size_t pull(std::int64_t* out, std::size_t wanted) override {
        const std::size_t made = inner_->pull(out, wanted);
        std::int64_t last = last_;
        for (std::size_t i = 0; i < made; ++i) out[i] = last = wrapping_add(last, out[i]);
        last_ = last;
        return made;
    }

private:
    std::unique_ptr<IntStage> inner_;
    std::int64_t last_;
};

// Number stages over integers, converted a block at a time by
// `convert(ints, count, out)`.
template <typename ConvertBlock>
class IntsToNumbers final : public NumberStage {
public:
    IntsToNumbers(std::unique_ptr<IntStage> inner, ConvertBlock convert)
        : inner_(std::move(inner)), convert_(convert) {}
    std::size_t pull(float* out, std::size_t wanted) override {
        std::size_t made = 0;
        while (made < wanted) {
            const std::size_t asked = std::min(block, wanted - made);
            const std::size_t got = inner_->pull(ints_, asked);
            convert_(ints_, got, out + made);
            made += got;
            if (got < asked) break;
        }
        return made;
    }

private:
    std::unique_ptr<IntStage> inner_;
    ConvertBlock convert_;
    std::int64_t ints_[block];
};

template <typename ConvertBlock>
std::unique_ptr<NumberStage> block_numbers_of(std::unique_ptr<IntStage> inner, ConvertBlock convert) {
    if (!inner) return nullptr;
    return std::make_unique<IntsToNumbers<ConvertBlock>>(std::move(inner), convert);
}

// The same with each integer converted on its own.
template <typename Convert>
std::unique_ptr<NumberStage> numbers_of(std::unique_ptr<IntStage> inner, Convert convert) {
    return block_numbers_of(std::move(inner), [convert](const std::int64_t* ints, std::size_t count, float* out) {
        for (std::size_t i = 0; i < count; ++i) out[i] = convert(ints[i]);
    });
}

// Nonzero when |k| >= 2^24: below it, k is exact in single precision
// (2^24 itself is taken the long way). Or-ed over a block without a branch.
inline std::uint64_t outside_float(std::int64_t k) { return (static_cast<std::uint64_t>(k) + (std::uint64_t{1} << 24)) >> 25; }

// FixedPoint: k / factor, exactly rounded; a block whose values and factor
// single precision holds exactly is divided straight, in float.
struct FixedPointBlock {
    double factor;
    float narrow;  // the factor when single precision holds it, else 0

    void operator()(const std::int64_t* ints, std::size_t count, float* out) const {
        std::uint64_t beyond = 0;  // nonzero when some |k| >= 2^24
        for (std::size_t i = 0; i < count; ++i) beyond |= outside_float(ints[i]);
        if (beyond == 0 && narrow != 0)
            for (std::size_t i = 0; i < count; ++i)
                out[i] = static_cast<float>(static_cast<std::int32_t>(ints[i])) / narrow;
        else
            for (std::size_t i = 0; i < count; ++i) out[i] = exact_quotient(ints[i], factor, narrow);
    }
};

// FixedPoint over Delta over IntegerPacking straight over a ByteArray of
// small integers: the archive's coordinate columns. The stages apart pass
// over 64-bit values five times a block; here one pass sums the deltas and
// one converts, and a block whose elements hold no packing limit (nearly
// all) takes no branch per value.
template <typename T>
class PackedDeltaFixedPoint final : public NumberStage {
public:
    PackedDeltaFixedPoint(EncodedBytes& bytes, const EncodingStep& delta, const EncodingStep& packing,
                          FixedPointBlock convert, DecodeStatus& status)
        : elements_(bytes, sizeof(T), status), status_(status), sums_(packing), last_(delta.origin), convert_(convert),
          sum_deltas_(delta_summer<T>(fastest_kernel())) {}
    std::size_t pull(float* out, std::size_t wanted) override {
        std::size_t made = 0;
        // Each element gives at most one value: asking for what is missing never gives too many.
        while (made < wanted) {
            const std::size_t asked = std::min(block, wanted - made);
            const std::size_t taken = elements_.read(asked, [&](const char* bytes, std::size_t count) {
                made += sum_block(bytes, count, out + made);
            });
            if (taken == 0) break;
        }
        sums_.settle(made, wanted, status_);
        return made;
    }

private:
    // The values of `count` elements (at most a block), converted into `out`; how many there are.
    std::size_t sum_block(const char* bytes, std::size_t count, float* out) {
        if (!holds_limit<T>(bytes, count, sums_) && !sums_.pending() && outside_float(last_) == 0 &&
            convert_.narrow != 0) {
            if (sum_and_divide(bytes, count, out)) return count;
        }
        // Limits, large sums or a factor single precision does not hold: summed again in 64 bits.
        std::int64_t last = last_;
        std::size_t made = 0;
        std::int64_t value;
        for (std::size_t i = 0; i < count; ++i)
            if (sums_.add(element<T>(bytes + i * sizeof(T)), value)) values_[made++] = last = wrapping_add(last, value);
        last_ = last;
        convert_(values_, made, out);
        return made;
    }

    // Starting within 2^24, a block's sums stay within 32 bits (at most a
    // block of 16-bit elements is added), so they are summed and divided in
    // 32-bit lanes; false, with `out` to be written again, when some sum
    // leaves 2^24.
    bool sum_and_divide(const char* bytes, std::size_t count, float* out) {
        std::int32_t last = static_cast<std::int32_t>(last_);
        if (!sum_deltas_(bytes, count, last, convert_.narrow, out)) return false;
        last_ = last;
        return true;
    }

    Elements elements_;
    DecodeStatus& status_;
    PackedSums sums_;
    std::int64_t last_;
    FixedPointBlock convert_;
    DeltaSummer<T> sum_deltas_;
    std::int64_t values_[block];
};

// Calls make(T{}) with the element type of an IntegerPacking at
// chain.steps[from] straight over the last step, a ByteArray, where that
// type holds the packing's limits (as it does whenever the packing wrote
// it); null for any other chain.
template <typename Stage, typename Make>
std::unique_ptr<Stage> packed_elements_as(const StepChain& chain, unsigned from, Make make) {
    if (from + 2 != chain.count) return nullptr;
    const EncodingStep& step = chain.steps[from];
    const EncodingStep& inner = chain.steps[from + 1];
    if (step.kind != StepKind::integer_packing || inner.kind != StepKind::byte_array) return nullptr;
    if (step.byte_count != 1 && step.byte_count != 2) return nullptr;
    const bool one = step.byte_count == 1, is_unsigned = step.is_unsigned;
    if (inner.type == int8 && one && !is_unsigned) return make(std::int8_t{});
    if (inner.type == uint8 && one && is_unsigned) return make(std::uint8_t{});
    if (inner.type == int16 && !is_unsigned) return make(std::int16_t{});
    if (inner.type == uint16 && is_unsigned) return make(std::uint16_t{});
    return nullptr;
}

// The stages of chain.steps[from..], the innermost (last) a ByteArray of integers.
std::unique_ptr<IntStage> int_stages(const StepChain& chain, unsigned from, EncodedBytes& bytes, DecodeStatus& status) {
    if (from >= chain.count) return nullptr;
    const EncodingStep& step = chain.steps[from];
    if (from + 1 == chain.count) {
        const bool integer_type = !is_float_type(step.type);
        if (step.kind != StepKind::byte_array || !integer_type) return nullptr;
        return std::make_unique<IntBytes>(bytes, step.type, status);
    }
    std::unique_ptr<IntStage> packed = packed_elements_as<IntStage>(chain, from, [&](auto type) -> std::unique_ptr<IntStage> {
        return std::make_unique<PackedElements<decltype(type)>>(bytes, step, status);
    });
    if (packed) return packed;
    std::unique_ptr<IntStage> inner = int_stages(chain, from + 1, bytes, status);
    if (!inner) return nullptr;
    switch (step.kind) {
        case StepKind::integer_packing:
            if (step.byte_count != 1 && step.byte_count != 2) return nullptr;
            return std::make_unique<Unpacking>(std::move(inner), step, status);
        case StepKind::run_length: return std::make_unique<RunLength>(std::move(inner), step, status);
        case StepKind::delta: return std::make_unique<Delta>(std::move(inner), step);
        default: return nullptr;
    }
}

// What each string of a StringArray's table means to the reader.
struct StringMeaning {
    float number = 0;
    bool is_number = false;
    bool is_atom_group = false;
};

// Decodes the offsets and judges each string once; false when damaged.
bool string_table(const ColumnEncoding& encoding, std::vector<StringMeaning>& table) {
    DecodeStatus status;
    HeldBytes offsets(encoding.offsets);
    ColumnEncoding offset_encoding;
    offset_encoding.chain = encoding.offset_chain;
    std::unique_ptr<IntStage> decoded = int_stages(offset_encoding.chain, 0, offsets, status);
    if (!decoded) return false;
    const std::string& text = encoding.string_data;
    std::int64_t start = 0, end = 0;
    bool first = true;
    for (;;) {
        if (decoded->pull(&end, 1) == 0) break;
        // Each string at least a byte, but for one empty string: no more than the bytes allow.
        if (end < start || end > static_cast<std::int64_t>(text.size()) || table.size() > text.size() + 1) return false;
        if (!first) {
            std::string_view string(text.data() + start, static_cast<std::size_t>(end - start));
            StringMeaning meaning;
            meaning.is_atom_group = string == "ATOM" || string == "HETATM";
            meaning.is_number = read_any_cif_number(string, meaning.number);
            table.push_back(meaning);
        }
        first = false;
        start = end;
    }
    return !status.damaged && !first;
}

// StringArray: each index looked up in the table of what each string
// gives; a negative index is a null. `Meaning` gives, for a string (null
// for a null), the value and whether it is no number.
template <typename Out, typename Meaning>
class StringLookup {
public:
    StringLookup(std::unique_ptr<IntStage> indices, const std::vector<StringMeaning>& table, DecodeStatus& status, Meaning meaning)
        : indices_(std::move(indices)), runs_(dynamic_cast<RunLength*>(indices_.get())), status_(status) {
        for (const StringMeaning& string : table) {
            const auto [value, missing] = meaning(&string);
            values_.push_back(value);
            missing_.push_back(missing);
            any_missing_ = any_missing_ || missing;
        }
        std::tie(null_value_, null_missing_) = meaning(nullptr);
    }
    std::size_t pull(Out* out, std::size_t wanted) {
        if (runs_ != nullptr) return pull_runs(out, wanted);
        std::size_t made = 0;
        const auto size = static_cast<std::uint64_t>(values_.size());
        while (made < wanted) {
            const std::size_t asked = std::min(block, wanted - made);
            const std::size_t got = indices_->pull(ints_, asked);
            // The common block: every index in the table, no string missing.
            bool outside = false;
            for (std::size_t i = 0; i < got; ++i) outside |= static_cast<std::uint64_t>(ints_[i]) >= size;
            if (!outside && !any_missing_) {
                const Out* values = values_.data();
                for (std::size_t i = 0; i < got; ++i) out[made + i] = values[static_cast<std::size_t>(ints_[i])];
                made += got;
                if (got < asked) break;
                continue;
            }
            for (std::size_t i = 0; i < got; ++i) {
                const std::int64_t index = ints_[i];
                bool missing;
                if (static_cast<std::uint64_t>(index) < size) {
                    out[made + i] = values_[static_cast<std::size_t>(index)];
                    missing = missing_[static_cast<std::size_t>(index)];
                } else if (index < 0) {
                    out[made + i] = null_value_;
                    missing = null_missing_;
                } else {
                    status_.damaged = true;
                    return made + i;
                }
                if (missing) status_.first_not_number = std::min(status_.first_not_number, row_ + made + i);
            }
            made += got;
            if (got < asked) break;
        }
        row_ += made;
        return made;
    }

    // The next `count` values passed over when they lie in runs at hand
    // whose indices all mean one value, no string missing: that value.
    std::optional<Out> pass_if_one_value(std::size_t count) {
        if (runs_ == nullptr) return std::nullopt;
        std::optional<Out> one;
        const auto size = static_cast<std::uint64_t>(values_.size());
        const auto same = [&](std::int64_t index) {
            const bool in_table = static_cast<std::uint64_t>(index) < size;
            if (!in_table && index >= 0) return false;
            const Out value = in_table ? values_[static_cast<std::size_t>(index)] : null_value_;
            const bool missing = in_table ? missing_[static_cast<std::size_t>(index)] != 0 : null_missing_;
            if (missing || (one && *one != value)) return false;
            one = value;
            return true;
        };
        if (!runs_->runs_ahead(count, same) || !one) return std::nullopt;
        runs_->pass(count);
        row_ += count;
        return one;
    }

private:
    // Indices in runs (as the archive writes group_PDB): one look-up a run.
    std::size_t pull_runs(Out* out, std::size_t wanted) {
        const auto size = static_cast<std::uint64_t>(values_.size());
        const std::size_t made = runs_->runs(out, wanted, [&](std::int64_t index, Out* to, std::size_t count, std::size_t at) {
            bool missing;
            if (static_cast<std::uint64_t>(index) < size) {
                std::fill_n(to, count, values_[static_cast<std::size_t>(index)]);
                missing = missing_[static_cast<std::size_t>(index)];
            } else if (index < 0) {
                std::fill_n(to, count, null_value_);
                missing = null_missing_;
            } else {
                return false;
            }
            if (missing) status_.first_not_number = std::min(status_.first_not_number, row_ + at);
            return true;
        });
        row_ += made;
        return made;
    }

    std::unique_ptr<IntStage> indices_;
    RunLength* runs_ = nullptr;  // indices_ when they come in runs
    std::vector<Out> values_;
    std::vector<unsigned char> missing_;
    Out null_value_{};
    bool null_missing_ = false;
    bool any_missing_ = false;
    DecodeStatus& status_;
    std::size_t row_ = 0;
    std::int64_t ints_[block];
};

// No number is a NaN, which no number's text gives: so each missing row
// can be told apart after the first (DecodeStatus::first_not_number).
constexpr auto number_meaning = [](const StringMeaning* string) {
    if (string == nullptr || !string->is_number) return std::pair{std::numeric_limits<float>::quiet_NaN(), true};
    return std::pair{string->number, false};
};

// A null is no group; no group is a missing value.
constexpr auto group_meaning = [](const StringMeaning* string) {
    return std::pair{std::int64_t{string != nullptr && string->is_atom_group}, false};
};

template <typename Base, typename Out, typename Meaning>
class StringStage final : public Base {
public:
    StringStage(std::unique_ptr<IntStage> indices, const std::vector<StringMeaning>& table, DecodeStatus& status, Meaning meaning)
        : lookup_(std::move(indices), table, status, meaning) {}
    std::size_t pull(Out* out, std::size_t wanted) override { return lookup_.pull(out, wanted); }

private:
    StringLookup<Out, Meaning> lookup_;
};

// The same read for its groups, whose rows pass a run at a time where the
// runs at hand all mean one group.
template <typename Meaning>
class StringGroups final : public IntStage {
public:
    StringGroups(std::unique_ptr<IntStage> indices, const std::vector<StringMeaning>& table, DecodeStatus& status, Meaning meaning)
        : lookup_(std::move(indices), table, status, meaning) {}
    std::size_t pull(std::int64_t* out, std::size_t wanted) override { return lookup_.pull(out, wanted); }
    std::optional<std::int64_t> pass_if_one_value(std::size_t count) override { return lookup_.pass_if_one_value(count); }

private:
    StringLookup<std::int64_t, Meaning> lookup_;
};

template <typename Base, typename Out, typename Meaning>
std::unique_ptr<Base> string_stage(const ColumnEncoding& encoding, EncodedBytes& bytes, DecodeStatus& status, Meaning meaning) {
    std::vector<StringMeaning> table;
    if (!string_table(encoding, table)) return nullptr;
    std::unique_ptr<IntStage> indices = int_stages(encoding.index_chain, 0, bytes, status);
    if (!indices) return nullptr;
    if constexpr (std::is_same_v<Base, IntStage>)
        return std::make_unique<StringGroups<Meaning>>(std::move(indices), table, status, meaning);
    else
        return std::make_unique<StringStage<Base, Out, Meaning>>(std::move(indices), table, status, meaning);
}

// A group_PDB column of numbers: no row is ATOM or HETATM.
class NoGroup final : public IntStage {
public:
    explicit NoGroup(std::unique_ptr<NumberStage> values) : values_(std::move(values)) {}
    std::size_t pull(std::int64_t* out, std::size_t wanted) override {
        std::size_t made = 0;
        while (made < wanted) {
            const std::size_t asked = std::min(block, wanted - made);
            const std::size_t got = values_->pull(ignored_, asked);
            std::fill_n(out + made, got, 0);
            made += got;
            if (got < asked) break;
        }
        return made;
    }

private:
    std::unique_ptr<NumberStage> values_;
    float ignored_[block];
};

}  // namespace

std::unique_ptr<NumberStage> number_decoder(const ColumnEncoding& encoding, EncodedBytes& bytes, DecodeStatus& status) {
    if (encoding.is_string_array())
        return string_stage<NumberStage, float>(encoding, bytes, status, number_meaning);
    const StepChain& chain = encoding.chain;
    if (chain.count == 0) return nullptr;
    const EncodingStep& outer = chain.steps[0];
    if (chain.count == 1 && outer.kind == StepKind::byte_array && is_float_type(outer.type))
        return std::make_unique<FloatBytes>(bytes, outer.type, status);
    if (outer.kind == StepKind::fixed_point) {
        if (!std::isfinite(outer.factor) || outer.factor == 0) return nullptr;
        const FixedPointBlock convert{outer.factor, factor_as_float(outer.factor)};
        if (chain.count == 4 && chain.steps[1].kind == StepKind::delta) {
            std::unique_ptr<NumberStage> fused = packed_elements_as<NumberStage>(chain, 2, [&](auto type) -> std::unique_ptr<NumberStage> {
                return std::make_unique<PackedDeltaFixedPoint<decltype(type)>>(bytes, chain.steps[1], chain.steps[2], convert, status);
            });
            if (fused) return fused;
        }
        return block_numbers_of(int_stages(chain, 1, bytes, status), convert);
    }
    if (outer.kind == StepKind::interval_quantization) {
        if (outer.num_steps < 2 || !std::isfinite(outer.min) || !std::isfinite(outer.max)) return nullptr;
        const double min = outer.min, step = (outer.max - outer.min) / static_cast<double>(outer.num_steps - 1);
        return numbers_of(int_stages(chain, 1, bytes, status),
                          [min, step](std::int64_t k) { return static_cast<float>(min + step * static_cast<double>(k)); });
    }
    return numbers_of(int_stages(chain, 0, bytes, status), [](std::int64_t k) { return static_cast<float>(k); });
}

std::unique_ptr<IntStage> group_decoder(const ColumnEncoding& encoding, EncodedBytes& bytes, DecodeStatus& status) {
    if (encoding.is_string_array())
        return string_stage<IntStage, std::int64_t>(encoding, bytes, status, group_meaning);
    std::unique_ptr<NumberStage> values = number_decoder(encoding, bytes, status);
    if (!values) return nullptr;
    return std::make_unique<NoGroup>(std::move(values));
}

std::unique_ptr<IntStage> integer_decoder(const ColumnEncoding& encoding, EncodedBytes& bytes, DecodeStatus& status) {
    return int_stages(encoding.chain, 0, bytes, status);
}

}  // namespace record_scan
