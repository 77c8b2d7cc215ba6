#include "row_output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <optional>

#include "record_scan.hpp"
#include "structure_data.hpp"

namespace xyzdump {
namespace {

using FileStatus = struct stat;

std::optional<FileStatus> status_of(int descriptor) {
    FileStatus status;
    if (fstat(descriptor, &status) != 0) return std::nullopt;
    return status;
}

// Follows links, so /dev/stdout and /proc/self/fd/1 give the file behind them.
std::optional<FileStatus> status_of(const char* path) {
    FileStatus status;
    if (stat(path, &status) != 0) return std::nullopt;
    return status;
}

bool same_file(const std::optional<FileStatus>& a, const std::optional<FileStatus>& b) {
    return a && b && a->st_dev == b->st_dev && a->st_ino == b->st_ino;
}

// Looks through a second descriptor, so that the stream the rows are written
// through has seen no reading; the shared offset is then put back at 0.
bool holds_structure_data(int descriptor) {
    int reader = dup(descriptor);
    std::FILE* stream = reader < 0 ? nullptr : fdopen(reader, "r");
    if (stream == nullptr) {
        if (reader >= 0) close(reader);
        return true;  // what cannot be looked at is not emptied
    }
    bool found = record_scan::holds_structure_data(stream);
    std::fclose(stream);
    return found || lseek(descriptor, 0, SEEK_SET) != 0;
}

// Opened without emptying, and emptied only once it is known to hold no
// structure data. A file that cannot be read is therefore not emptied unseen.
std::FILE* replace_regular_file(const char* path) {
    int descriptor = open(path, O_RDWR | O_CLOEXEC);
    if (descriptor < 0) return nullptr;
    std::FILE* stream = nullptr;
    if (!holds_structure_data(descriptor) && ftruncate(descriptor, 0) == 0)
        stream = fdopen(descriptor, "w");
    if (stream == nullptr) close(descriptor);
    return stream;
}

}  // namespace

RowOutput open_row_output(const char* path, std::FILE* input) {
    const bool dash = std::strcmp(path, "-") == 0;
    const std::optional<FileStatus> standard = status_of(STDOUT_FILENO);
    const std::optional<FileStatus> target = dash ? standard : status_of(path);
    const std::optional<FileStatus> source = status_of(fileno(input));
    if (source && S_ISREG(source->st_mode) && same_file(source, target)) return {};
    if (dash || same_file(target, standard)) return {stdout, true};
    if (target && S_ISREG(target->st_mode)) return {replace_regular_file(path), false};
    return {std::fopen(path, "w"), false};
}

bool close_row_output(const RowOutput& output) {
    if (output.standard_output) return std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    return std::fclose(output.stream) == 0;
}

}  // namespace xyzdump
