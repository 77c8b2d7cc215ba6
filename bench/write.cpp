// The floor for writing a CSV file: BYTES bytes of rows, as xyzdump writes
// them, into a new file in the tools' block size, and nothing else.
//
//   write BYTES OUTPUT
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "record_scan.hpp"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: write BYTES OUTPUT\n", stderr);
        return 2;
    }
    std::size_t left = std::strtoull(argv[1], nullptr, 10);
    int descriptor = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (descriptor < 0) {
        std::perror(argv[2]);
        return 2;
    }
    // A block of rows of a typical width, made once.
    constexpr std::size_t block_bytes = record_scan::RecordScanner::default_block_bytes;
    auto block = std::make_unique_for_overwrite<char[]>(block_bytes);
    constexpr char row[] = "-123.456000,78.900000,-0.125000\n";
    for (std::size_t i = 0; i < block_bytes; ++i) block[i] = row[i % (sizeof row - 1)];
    while (left > 0) {
        std::size_t bytes = left < block_bytes ? left : block_bytes;
        ssize_t put = ::write(descriptor, block.get(), bytes);
        if (put <= 0) {
            std::perror(argv[2]);
            return 2;
        }
        left -= static_cast<std::size_t>(put);
    }
    return close(descriptor) == 0 ? 0 : 2;
}
