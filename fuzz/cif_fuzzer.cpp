// The streaming mmCIF reader against the whole-text CIF reading, over
// inputs handed out in pieces of random size (from one byte) through blocks
// of random size, so that every token, quote, comment and text field
// straddles a read boundary somewhere.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.hpp"
#include "memory_source.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The last two bytes steer the reading; the rest follows a data_ line,
    // so that every input is read as mmCIF whatever it begins with.
    const unsigned steer = fuzz::steering(data, size);
    fuzz::Draws draws(steer);
    const std::string text = "data_x\n" + std::string(reinterpret_cast<const char*>(data), size - 2);

    const std::string want = fuzz::describe(reference::read_bytes(text));
    const std::size_t largest_piece = 1 + draws.below(steer & 1 ? 8 : 300);
    // Every kernel this machine can run, the portable one included.
    for (record_scan::Kernel kernel : record_scan::available_kernels()) {
        MemorySource whole(text);
        fuzz::require_same(fuzz::scan_all(whole, record_scan::RecordScanner::default_block_bytes, kernel),
                           want, "whole-input reading");
        MemorySource pieces(text, [&] { return 1 + draws.below(largest_piece); });
        fuzz::require_same(fuzz::scan_all(pieces, 1 + draws.below(300), kernel), want, "piecewise reading");
        MemorySource batches(text, [&] { return 1 + draws.below(largest_piece); });
        fuzz::require_same(fuzz::scan_all_by_batches(batches, 1 + draws.below(300), kernel,
                                                     draws.below(2) ? 0 : 1 + draws.below(300)),
                           want, "piecewise reading by batches");
    }
    return 0;
}
