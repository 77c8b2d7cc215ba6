#include "input/peekable_source.hpp"

#include <algorithm>
#include <cstring>


namespace record_scan {

PeekableSource::PeekableSource(ByteSource& source)
    : source_(source), window_(pooled_array<char>(window_bytes)) {}

std::string_view PeekableSource::peek(std::size_t wanted) {
    wanted = std::min(wanted, window_bytes);
    if (end_ - begin_ < wanted && begin_ > 0) {
        std::memmove(window_.get(), window_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    while (end_ - begin_ < wanted && !ended_ && !failed_) {
        // No more than a look needs: the reader after it takes the rest
        // straight into its own buffer, and a small input touches little.
        std::size_t room = std::min(window_bytes - end_,
                                    std::max(wanted - (end_ - begin_), look_bytes));
        Block block = source_.read(window_.get() + end_, room);
        end_ += block.bytes;
        failed_ = block.failed;
        ended_ = block.bytes == 0;
    }
    return {window_.get() + begin_, end_ - begin_};
}

void PeekableSource::consume(std::size_t bytes) {
    bytes = std::min(bytes, end_ - begin_);
    begin_ += bytes;
    position_ += bytes;
}

ByteSource::Block PeekableSource::read(char* into, std::size_t capacity) {
    if (begin_ < end_) {
        std::size_t bytes = std::min(capacity, end_ - begin_);
        std::memcpy(into, window_.get() + begin_, bytes);
        begin_ += bytes;
        position_ += bytes;
        return {bytes, false};
    }
    if (failed_ || ended_) return {0, failed_};
    Block block = source_.read(into, capacity);
    position_ += block.bytes;
    return block;
}

}  // namespace record_scan
