// boxreach's fold of the PDB layout's plain lines, over the bytes read by
// read() in the tools' block size, or over a mapping of the whole file:
// what a mapped reading would save, measured beside the tools (which read
// by read(): a mapped file cut short under the reader raises SIGBUS).
//
//   fold_mapped read|map FILE
//
// Prints the least thousandths of each axis, so that both readings can be
// seen to agree, and the milliseconds of the fold.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "pdb/plain_lines/plain_lines.hpp"
#include "record_scan.hpp"

namespace {

using record_scan::FixedPointExtremes;

// Folds the plain lines of text[0, size), stepping over each line the
// kernel leaves; gives how far it got (the rest waits for more bytes).
std::size_t fold(const char* text, std::size_t size, FixedPointExtremes& extremes) {
    static const record_scan::PlainExtremesReader read =
        record_scan::plain_extremes_reader(record_scan::fastest_kernel());
    std::size_t at = 0;
    while (size - at >= record_scan::plain_lines_lookahead) {
        at += read(text + at, size - at, extremes);
        if (size - at < record_scan::plain_lines_lookahead) break;
        const void* line_feed = std::memchr(text + at, '\n', size - at);
        if (line_feed == nullptr) break;
        at = static_cast<std::size_t>(static_cast<const char*>(line_feed) - text) + 1;
    }
    return at;
}

bool fold_read(int fd, FixedPointExtremes& extremes) {
    const std::size_t block = record_scan::RecordScanner::default_block_bytes;
    std::vector<char> buffer(block + record_scan::plain_lines_lookahead);
    std::size_t kept = 0;
    for (;;) {
        const ssize_t got = read(fd, buffer.data() + kept, buffer.size() - kept);
        if (got < 0) return false;
        if (got == 0) return true;
        const std::size_t size = kept + static_cast<std::size_t>(got);
        const std::size_t used = fold(buffer.data(), size, extremes);
        kept = size - used;
        std::memmove(buffer.data(), buffer.data() + used, kept);
    }
}

bool fold_map(int fd, FixedPointExtremes& extremes) {
    struct stat status;
    if (fstat(fd, &status) != 0) return false;
    const std::size_t size = static_cast<std::size_t>(status.st_size);
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapped == MAP_FAILED) return false;
    madvise(mapped, size, MADV_SEQUENTIAL);
    fold(static_cast<const char*>(mapped), size, extremes);
    munmap(mapped, size);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc == 3 ? argv[1] : "";
    if (mode != "read" && mode != "map") {
        std::fputs("usage: fold_mapped read|map FILE\n", stderr);
        return 2;
    }
    const int fd = open(argv[2], O_RDONLY);
    if (fd < 0) {
        std::perror(argv[2]);
        return 2;
    }
    FixedPointExtremes extremes;
    const auto start = std::chrono::steady_clock::now();
    const bool done = mode == "read" ? fold_read(fd, extremes) : fold_map(fd, extremes);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (!done) {
        std::perror(argv[2]);
        return 2;
    }
    std::printf("%s %.1f ms, least %d %d %d\n", argv[1], ms, extremes.least[0], extremes.least[1], extremes.least[2]);
    return 0;
}
