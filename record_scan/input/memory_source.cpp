#include <algorithm>
#include <cstring>

#include "record_scan.hpp"

namespace record_scan {

ByteSource::Block MemorySource::read(char* into, std::size_t capacity) {
    std::size_t bytes = std::min(capacity, left_);
    if (bytes == 0) return {0, false};
    std::memcpy(into, next_, bytes);
    next_ += bytes;
    left_ -= bytes;
    return {bytes, false};
}

}  // namespace record_scan
