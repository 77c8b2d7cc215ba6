// gzip input, inflated on the fly in constant memory: every member of a
// multi-member stream, each checked against its CRC-32 and length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "record_scan.hpp"

namespace record_scan {

// One deflate engine behind a small interface: ISA-L where the build found
// it, zlib otherwise. Each parses and checks the gzip wrapper itself.
class Inflater {
public:
    enum class Status { inflating, member_ended, damaged };
    struct Step {
        std::size_t produced = 0;
        Status status = Status::inflating;
    };

    static std::unique_ptr<Inflater> make();
    virtual ~Inflater() = default;

    virtual void start_member() = 0;
    virtual void give_input(const std::uint8_t* bytes, std::size_t count) = 0;
    virtual std::size_t input_left() const = 0;
    virtual Step inflate(char* into, std::size_t capacity) = 0;
};

class GzipSource final : public ByteSource {
public:
    // Over the compressed bytes, from the first byte of the first member.
    explicit GzipSource(ByteSource& compressed);

    Block read(char* into, std::size_t capacity) override;

    // Inflates and checks whatever is left of the stream, dropping the
    // text: false when the stream is damaged, cut short, or followed by
    // bytes that do not begin another member.
    bool rest_is_intact();

private:
    enum class Phase { inflating, between_members, ended, damaged };

    Block refill();
    bool next_member_follows();
    bool gather_member_start();

    ByteSource& compressed_;
    std::unique_ptr<Inflater> inflater_;
    std::unique_ptr<std::uint8_t[]> input_;
    std::size_t given_ = 0;  // bytes of input_ last handed to the inflater
    bool member_starts_ = true;
    Phase phase_ = Phase::inflating;
};

}  // namespace record_scan
