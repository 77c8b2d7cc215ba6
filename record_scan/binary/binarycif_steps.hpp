// The decoding of a BinaryCIF column as a stream: each step kind a stage
// that pulls blocks of values from the one inside it, the innermost from
// the encoded bytes, so that no column is ever held decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include <utility>
#include <algorithm>

#include "binary/binarycif_encoding.hpp"
#include "binary/msgpack_reader.hpp"

namespace record_scan {

// Where a column's encoded bytes come from.
class EncodedBytes {
public:
    virtual ~EncodedBytes() = default;
    // The next bytes; empty when all are handed out or the input failed.
    virtual std::string_view next_piece() = 0;
};

// Bytes held in memory, handed out whole.
class HeldBytes final : public EncodedBytes {
public:
    explicit HeldBytes(std::string_view bytes) : rest_(bytes) {}
    std::string_view next_piece() override { return std::exchange(rest_, {}); }

private:
    std::string_view rest_;
};

// Bytes kept until their column can be decoded, in chunks of a fixed size:
// they grow as the bytes arrive (never by a claimed length) and are never
// moved, so that holding a column costs its bytes and no copy of them.
class HeldChunks {
public:
    static constexpr std::size_t chunk_bytes = std::size_t{1} << 16;
    void append(std::string_view bytes) {
        while (!bytes.empty()) {
            if (chunks_.empty() || chunks_.back().size() == chunk_bytes) {
                chunks_.emplace_back();
                chunks_.back().reserve(chunk_bytes);
            }
            std::string& last = chunks_.back();
            const std::size_t taken = std::min(bytes.size(), chunk_bytes - last.size());
            last.append(bytes.data(), taken);
            bytes.remove_prefix(taken);
        }
    }
    void clear() { chunks_.clear(); }
    const std::vector<std::string>& chunks() const { return chunks_; }

private:
    std::vector<std::string> chunks_;  // none empty
};

// Held bytes, handed out a chunk at a time.
class HeldPieces final : public EncodedBytes {
public:
    explicit HeldPieces(const HeldChunks& held) : chunks_(held.chunks()) {}
    std::string_view next_piece() override { return at_ < chunks_.size() ? std::string_view(chunks_[at_++]) : std::string_view(); }

private:
    const std::vector<std::string>& chunks_;
    std::size_t at_ = 0;
};

// The bytes of the bin value passing by in the file.
class PassingBytes final : public EncodedBytes {
public:
    PassingBytes(MsgpackReader& reader, std::uint64_t length) : reader_(reader), left_(length) {}
    std::string_view next_piece() override {
        std::string_view piece = reader_.piece(static_cast<std::size_t>(std::min<std::uint64_t>(left_, MsgpackReader::buffer_bytes)));
        left_ -= piece.size();
        return piece;
    }
    bool all_read() const { return left_ == 0; }

private:
    MsgpackReader& reader_;
    std::uint64_t left_;
};

// What decoding found besides the values.
struct DecodeStatus {
    static constexpr std::size_t none = ~std::size_t{0};
    bool damaged = false;
    // The first row whose value is no number (a string that is none, or
    // null); from there on such a row's value is a NaN. Before it, and in
    // a column without one, a NaN is a value as it stands.
    std::size_t first_not_number = none;
};

// Stages hand out `wanted` values, fewer only when the column ends (or is damaged).
class IntStage {
public:
    virtual ~IntStage() = default;
    virtual std::size_t pull(std::int64_t* out, std::size_t wanted) = 0;
    // Passes over the next `count` values where the stage knows, without
    // writing each out, that they are all one value (the rest of a run, as
    // the archive writes group_PDB), and gives it; otherwise passes over
    // nothing and gives nothing, and pull() reads them.
    virtual std::optional<std::int64_t> pass_if_one_value(std::size_t /*count*/) { return std::nullopt; }
};

class NumberStage {
public:
    virtual ~NumberStage() = default;
    virtual std::size_t pull(float* out, std::size_t wanted) = 0;
};

// The decoders of a column for what it is read for: null when its steps
// do not chain (a step given values of a kind it can not take).
// Coordinates, as single-precision values.
std::unique_ptr<NumberStage> number_decoder(const ColumnEncoding& encoding, EncodedBytes& bytes, DecodeStatus& status);
// group_PDB: 1 for the rows whose value is ATOM or HETATM, else 0.
std::unique_ptr<IntStage> group_decoder(const ColumnEncoding& encoding, EncodedBytes& bytes, DecodeStatus& status);
// A mask: 0 for a value present, else '.' or '?'.
std::unique_ptr<IntStage> integer_decoder(const ColumnEncoding& encoding, EncodedBytes& bytes, DecodeStatus& status);

}  // namespace record_scan
