#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "record_scan.hpp"

namespace record_scan {
namespace {

// Standard input stands for the file when it is open and no directory (a
// shell can open a directory with `< dir`; reading it would only fail later).
std::FILE* standard_input() {
    struct stat status;
    if (fstat(fileno(stdin), &status) != 0) return nullptr;
    if (S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        return nullptr;
    }
    return stdin;
}

}  // namespace

// "-" is standard input, as Unix tools read it; "./-" reaches a file so named.
std::FILE* open_structure_file(const char* path) {
    if (std::strcmp(path, "-") == 0) return standard_input();
    // stat() rather than std::filesystem: linked statically, that would add a
    // megabyte to each tool.
    struct stat status;
    if (stat(path, &status) == 0 && S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        return nullptr;
    }
    return std::fopen(path, "r");
}

ByteSource::Block FileSource::read(char* into, std::size_t capacity) {
    std::size_t bytes = std::fread(into, 1, capacity, stream_);
    return {bytes, bytes < capacity && std::ferror(stream_) != 0};
}

}  // namespace record_scan
