// An in-memory input for the scanner that can hand its bytes out in pieces
// of chosen sizes and fail after a given number of bytes.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

#include "record_scan.hpp"

class MemorySource final : public record_scan::ByteSource {
public:
    // `piece` says how many bytes the next read may return at most.
    explicit MemorySource(std::string bytes, std::function<std::size_t()> piece = {},
                          std::size_t fail_after = std::string::npos)
        : bytes_(std::move(bytes)), piece_(std::move(piece)), fail_after_(fail_after) {}

    Block read(char* into, std::size_t capacity) override {
        std::size_t limit = std::min(bytes_.size(), fail_after_);
        std::size_t count = std::min(capacity, limit - offset_);
        if (piece_) count = std::min(count, std::max<std::size_t>(piece_(), 1));
        std::memcpy(into, bytes_.data() + offset_, count);
        offset_ += count;
        return {count, count == 0 && offset_ == fail_after_};
    }

private:
    std::string bytes_;
    std::function<std::size_t()> piece_;
    std::size_t fail_after_;
    std::size_t offset_ = 0;
};
