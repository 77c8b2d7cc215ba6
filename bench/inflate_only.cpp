// Inflates a gzip file with the tools' own engine and drops the text: the
// time of decompression alone, which reading a compressed input can at best
// approach.
//
//   inflate_only FILE.gz
#include <cstdio>
#include <memory>

#include "input/decompressing_source.hpp"

int main(int argc, char** argv) {
    std::FILE* input = argc > 1 ? std::fopen(argv[1], "rb") : nullptr;
    if (input == nullptr) {
        std::fputs("usage: inflate_only FILE.gz\n", stderr);
        return 2;
    }
    record_scan::FileSource file(input);
    record_scan::DecompressingSource text(file, record_scan::make_gzip_decoder());
    constexpr std::size_t block_bytes = std::size_t{1} << 18;
    auto block = std::make_unique_for_overwrite<char[]>(block_bytes);
    record_scan::ByteSource::Block got;
    do got = text.read(block.get(), block_bytes);
    while (got.bytes > 0);
    std::fclose(input);
    return got.failed ? 2 : 0;
}
