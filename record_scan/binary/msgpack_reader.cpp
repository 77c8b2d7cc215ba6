#include "binary/msgpack_reader.hpp"

#include <algorithm>
#include <bit>
#include <cstring>


namespace record_scan {
namespace {

std::uint64_t big_endian(const unsigned char* p, unsigned bytes) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < bytes; ++i) value = value << 8 | p[i];
    return value;
}

std::int64_t sign_extended(std::uint64_t value, unsigned bytes) {
    const unsigned shift = 64 - 8 * bytes;
    return static_cast<std::int64_t>(value << shift) >> shift;
}

}  // namespace

MsgpackReader::MsgpackReader(ByteSource& source)
    : source_(source), buffer_(pooled_array<unsigned char>(buffer_bytes)) {}

// At least `wanted` (at most 9) bytes in the buffer, unless the input ends.
bool MsgpackReader::fill(std::size_t wanted) {
    if (end_ - begin_ >= wanted) return true;
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    while (end_ < wanted && !ended_) {
        ByteSource::Block block = source_.read(reinterpret_cast<char*>(buffer_.get()) + end_, buffer_bytes - end_);
        end_ += block.bytes;
        if (block.failed) damaged_ = true;
        ended_ = block.bytes == 0 || block.failed;
    }
    return end_ >= wanted;
}

bool MsgpackReader::next(MsgpackHeader& header) {
    if (damaged_ || !fill(1)) return fail();
    const unsigned char lead = buffer_[begin_];
    header = {};
    auto fixed = [&](MsgpackKind kind, std::uint64_t length) {
        header.kind = kind;
        header.length = length;
        ++begin_;
        return true;
    };
    if (lead <= 0x7f || lead >= 0xe0) {
        header.kind = MsgpackKind::integer;
        header.integer = static_cast<std::int8_t>(lead);
        header.number = static_cast<double>(header.integer);
        ++begin_;
        return true;
    }
    if (lead <= 0x8f) return fixed(MsgpackKind::map, lead & 0x0f);
    if (lead <= 0x9f) return fixed(MsgpackKind::array, lead & 0x0f);
    if (lead <= 0xbf) return fixed(MsgpackKind::string, lead & 0x1f);
    if (lead == 0xc0) return fixed(MsgpackKind::nil, 0);
    if (lead == 0xc2 || lead == 0xc3) {
        fixed(MsgpackKind::boolean, 0);
        header.integer = lead & 1;
        return true;
    }
    // Everything else: a lead byte and a big-endian field after it.
    struct Form {
        MsgpackKind kind;
        unsigned char field;  // bytes of the length or value
        bool is_signed;
    };
    Form form{};
    switch (lead) {
        case 0xc4: form = {MsgpackKind::binary, 1, false}; break;
        case 0xc5: form = {MsgpackKind::binary, 2, false}; break;
        case 0xc6: form = {MsgpackKind::binary, 4, false}; break;
        case 0xc7: form = {MsgpackKind::extension, 1, false}; break;
        case 0xc8: form = {MsgpackKind::extension, 2, false}; break;
        case 0xc9: form = {MsgpackKind::extension, 4, false}; break;
        case 0xca: form = {MsgpackKind::floating, 4, false}; break;
        case 0xcb: form = {MsgpackKind::floating, 8, false}; break;
        case 0xcc: form = {MsgpackKind::integer, 1, false}; break;
        case 0xcd: form = {MsgpackKind::integer, 2, false}; break;
        case 0xce: form = {MsgpackKind::integer, 4, false}; break;
        case 0xcf: form = {MsgpackKind::integer, 8, false}; break;
        case 0xd0: form = {MsgpackKind::integer, 1, true}; break;
        case 0xd1: form = {MsgpackKind::integer, 2, true}; break;
        case 0xd2: form = {MsgpackKind::integer, 4, true}; break;
        case 0xd3: form = {MsgpackKind::integer, 8, true}; break;
        case 0xd4: case 0xd5: case 0xd6: case 0xd7: case 0xd8:  // fixext 1, 2, 4, 8, 16 and its type byte
            header.kind = MsgpackKind::extension;
            header.length = (std::uint64_t{1} << (lead - 0xd4)) + 1;
            ++begin_;
            return true;
        case 0xd9: form = {MsgpackKind::string, 1, false}; break;
        case 0xda: form = {MsgpackKind::string, 2, false}; break;
        case 0xdb: form = {MsgpackKind::string, 4, false}; break;
        case 0xdc: form = {MsgpackKind::array, 2, false}; break;
        case 0xdd: form = {MsgpackKind::array, 4, false}; break;
        case 0xde: form = {MsgpackKind::map, 2, false}; break;
        case 0xdf: form = {MsgpackKind::map, 4, false}; break;
        default: return fail();  // 0xc1, never used
    }
    if (!fill(1u + form.field)) return fail();
    const std::uint64_t field = big_endian(buffer_.get() + begin_ + 1, form.field);
    begin_ += 1u + form.field;
    header.kind = form.kind;
    switch (form.kind) {
        case MsgpackKind::integer:
            if (form.is_signed) header.integer = sign_extended(field, form.field);
            else header.integer = field > INT64_MAX ? INT64_MAX : static_cast<std::int64_t>(field);
            header.number = static_cast<double>(header.integer);
            break;
        case MsgpackKind::floating:
            header.number = form.field == 4 ? std::bit_cast<float>(static_cast<std::uint32_t>(field))
                                            : std::bit_cast<double>(field);
            break;
        case MsgpackKind::extension: header.length = field + 1; break;  // the type byte too
        default: header.length = field;
    }
    return true;
}

std::string_view MsgpackReader::piece(std::size_t most) {
    if (most == 0 || damaged_) return {};
    if (begin_ == end_) {
        begin_ = end_ = 0;
        if (!fill(1)) {
            fail();
            return {};
        }
    }
    const std::size_t bytes = std::min(most, end_ - begin_);
    std::string_view view(reinterpret_cast<const char*>(buffer_.get()) + begin_, bytes);
    begin_ += bytes;
    return view;
}

bool MsgpackReader::skip_bytes(std::uint64_t count) {
    while (count > 0) {
        std::string_view passed = piece(static_cast<std::size_t>(std::min<std::uint64_t>(count, buffer_bytes)));
        if (passed.empty()) return false;
        count -= passed.size();
    }
    return true;
}

bool MsgpackReader::skip_value() {
    MsgpackHeader header;
    return next(header) && skip_rest(header);
}

// Nested values are counted, level by level, rather than recursed into.
bool MsgpackReader::skip_rest(const MsgpackHeader& first) {
    std::uint64_t left[max_depth];
    unsigned depth = 0;
    MsgpackHeader header = first;
    for (;;) {
        switch (header.kind) {
            case MsgpackKind::string:
            case MsgpackKind::binary:
            case MsgpackKind::extension:
                if (!skip_bytes(header.length)) return false;
                break;
            case MsgpackKind::array:
            case MsgpackKind::map:
                if (depth == max_depth) return fail();
                left[depth++] = header.kind == MsgpackKind::map ? 2 * header.length : header.length;
                break;
            default: break;
        }
        while (depth > 0 && left[depth - 1] == 0) --depth;
        if (depth == 0) return true;
        --left[depth - 1];
        if (!next(header)) return false;
    }
}

bool MsgpackReader::at_end() {
    if (damaged_) return false;
    const bool more = fill(1);
    return !more && !damaged_;
}

bool read_short_string(MsgpackReader& reader, const MsgpackHeader& header, char* into, std::size_t capacity,
                       std::string_view& text) {
    if (header.kind != MsgpackKind::string || header.length > capacity) {
        reader.skip_rest(header);
        return false;
    }
    std::size_t got = 0;
    while (got < header.length) {
        std::string_view part = reader.piece(header.length - got);
        if (part.empty()) return false;
        std::memcpy(into + got, part.data(), part.size());
        got += part.size();
    }
    text = {into, got};
    return true;
}

}  // namespace record_scan
