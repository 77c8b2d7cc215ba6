// The floor for reading a file: every byte looked at, its line feeds
// counted, and nothing else. Two ways, each timed by bench/run.sh: read()
// into the tools' block size, and mmap() of the whole file, read as it
// is paged in. The faster of the two is the floor a tool is measured by.
//
//   touch read FILE      touch map FILE
//   touch kernel         the kernel path the tools take on this machine
//
// Prints the count of line feeds, so that the work cannot be left out.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "record_scan.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

using LineFeedCounter = std::size_t (*)(const char* bytes, std::size_t size);

std::size_t count_portable(const char* bytes, std::size_t size) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < size; ++i) count += bytes[i] == '\n';
    return count;
}

#if defined(__x86_64__)
// 128 bytes a round in four vectors, the compare results summed as bytes
// (each a 0 or -1) and folded into 64-bit counts every 255 rounds at most.
[[gnu::target("avx2")]] std::size_t count_avx2(const char* bytes, std::size_t size) {
    const __m256i feed = _mm256_set1_epi8('\n');
    std::size_t count = 0;
    std::size_t i = 0;
    while (i + 128 <= size) {
        __m256i sums[4] = {};
        for (int round = 0; round < 255 && i + 128 <= size; ++round, i += 128)
            for (int v = 0; v < 4; ++v) {
                __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i + 32 * v));
                sums[v] = _mm256_sub_epi8(sums[v], _mm256_cmpeq_epi8(block, feed));
            }
        for (__m256i sum : sums) {
            __m256i wide = _mm256_sad_epu8(sum, _mm256_setzero_si256());
            count += static_cast<std::size_t>(_mm256_extract_epi64(wide, 0) + _mm256_extract_epi64(wide, 1) +
                                              _mm256_extract_epi64(wide, 2) + _mm256_extract_epi64(wide, 3));
        }
    }
    return count + count_portable(bytes + i, size - i);
}
#endif

LineFeedCounter fastest_counter() {
#if defined(__x86_64__)
    for (record_scan::Kernel kernel : record_scan::available_kernels())
        if (kernel == record_scan::Kernel::avx2) return count_avx2;
#endif
    return count_portable;
}

bool count_by_reading(int descriptor, LineFeedCounter count, std::size_t& feeds) {
    constexpr std::size_t block_bytes = record_scan::RecordScanner::default_block_bytes;
    auto block = std::make_unique_for_overwrite<char[]>(block_bytes);
    for (;;) {
        ssize_t got = read(descriptor, block.get(), block_bytes);
        if (got < 0) return false;
        if (got == 0) return true;
        feeds += count(block.get(), static_cast<std::size_t>(got));
    }
}

bool count_by_mapping(int descriptor, LineFeedCounter count, std::size_t& feeds) {
    struct stat status;
    if (fstat(descriptor, &status) != 0) return false;
    auto size = static_cast<std::size_t>(status.st_size);
    if (size == 0) return true;
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, descriptor, 0);
    if (mapped == MAP_FAILED) return false;
    feeds += count(static_cast<const char*>(mapped), size);
    return munmap(mapped, size) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "kernel") == 0) {
        std::printf("%s\n", std::string(record_scan::kernel_name(record_scan::fastest_kernel())).c_str());
        return 0;
    }
    bool by_map = argc == 3 && std::strcmp(argv[1], "map") == 0;
    if (argc != 3 || (!by_map && std::strcmp(argv[1], "read") != 0)) {
        std::fputs("usage: touch read|map FILE, or touch kernel\n", stderr);
        return 2;
    }
    int descriptor = open(argv[2], O_RDONLY);
    if (descriptor < 0) {
        std::perror(argv[2]);
        return 2;
    }
    std::size_t feeds = 0;
    LineFeedCounter count = fastest_counter();
    bool done = by_map ? count_by_mapping(descriptor, count, feeds) : count_by_reading(descriptor, count, feeds);
    close(descriptor);
    if (!done) {
        std::perror(argv[2]);
        return 2;
    }
    std::printf("%zu\n", feeds);
    return 0;
}
