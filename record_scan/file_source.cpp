#include <filesystem>

#include "record_scan.hpp"

namespace record_scan {

std::FILE* open_structure_file(const char* path) {
    std::error_code ignored;
    return std::filesystem::is_directory(path, ignored) ? nullptr : std::fopen(path, "r");
}

ByteSource::Block FileSource::read(char* into, std::size_t capacity) {
    std::size_t bytes = std::fread(into, 1, capacity, stream_);
    return {bytes, bytes < capacity && std::ferror(stream_) != 0};
}

}  // namespace record_scan
