#include "row_output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>

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

// Where rows written from now on begin in a regular file; -1 for others.
long long rows_start(std::FILE* stream) {
    if (stream == nullptr) return -1;
    int descriptor = fileno(stream);
    std::optional<FileStatus> status = status_of(descriptor);
    if (!status || !S_ISREG(status->st_mode)) return -1;
    int flags = fcntl(descriptor, F_GETFL);
    if (flags < 0) return -1;
    // Appending writes go to the end, wherever the offset stands.
    if ((flags & O_APPEND) != 0) return status->st_size;
    return lseek(descriptor, 0, SEEK_CUR);
}

RowOutput with_rows_start(RowOutput output) {
    output.rows_start = rows_start(output.stream);
    return output;
}

// The offset just past the `rows`-th line feed from `start`; -1 when the
// file holds fewer.
off_t end_of_rows(int descriptor, off_t start, std::uint64_t rows) {
    char block[1 << 16];
    off_t at = start;
    while (rows > 0) {
        ssize_t got = pread(descriptor, block, sizeof block, at);
        if (got <= 0) return -1;
        const char* p = block;
        const char* const end = block + got;
        while (rows > 0 && (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) != nullptr) {
            ++p;
            --rows;
        }
        at += rows > 0 ? got : p - block;
    }
    return at;
}

}  // namespace

RowOutput open_row_output(const char* path, std::FILE* input) {
    const bool dash = std::strcmp(path, "-") == 0;
    const std::optional<FileStatus> standard = status_of(STDOUT_FILENO);
    const std::optional<FileStatus> target = dash ? standard : status_of(path);
    const std::optional<FileStatus> source = status_of(fileno(input));
    if (source && S_ISREG(source->st_mode) && same_file(source, target)) return {};
    if (dash || same_file(target, standard)) return with_rows_start({stdout, true});
    if (target && S_ISREG(target->st_mode)) return with_rows_start({replace_regular_file(path), false});
    return with_rows_start({std::fopen(path, "w"), false});
}

bool close_row_output(const RowOutput& output) {
    if (output.standard_output) return std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    return std::fclose(output.stream) == 0;
}

bool keep_first_rows(const RowOutput& output, std::uint64_t rows) {
    if (output.rows_start < 0) return false;
    int descriptor = fileno(output.stream);
    off_t end = -1;
    if ((fcntl(descriptor, F_GETFL) & O_ACCMODE) == O_RDWR) {
        end = end_of_rows(descriptor, static_cast<off_t>(output.rows_start), rows);
    } else {
        // Write-only, as the shell opens `>` and fopen "w": the same file
        // opened again, for reading.
        std::string path = "/proc/self/fd/" + std::to_string(descriptor);
        int reader = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (reader >= 0) {
            end = end_of_rows(reader, static_cast<off_t>(output.rows_start), rows);
            close(reader);
        }
    }
    // Rows that cannot be read back and counted are all taken back: fewer
    // true rows, never a false one.
    if (end < 0) end = static_cast<off_t>(output.rows_start);
    if (ftruncate(descriptor, end) != 0) return false;
    // An appending descriptor writes at the end wherever its offset is.
    return lseek(descriptor, end, SEEK_SET) == end;
}

}  // namespace xyzdump
