// Which kernels this machine can run, found once at run time, so that one
// build serves machines with and without the wider instructions.
#include "pdb/plain_lines/plain_lines.hpp"
#include "record_scan.hpp"

#if defined(__x86_64__) && __has_include(<sys/platform/x86.h>)
#if defined(__clang__)
// The header's inline functions are written with C's _Bool, a word clang's C++ does not know.
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool
#else
#include <sys/platform/x86.h>
#endif
#define RECORD_SCAN_FEATURES_FROM_LIBC 1
#endif

namespace record_scan {
namespace {

// What the processor has, as the C library found it at start-up. Asking
// the processor again is an instruction that virtual machines trap: 11 us
// each here, and the compiler runtime's inventory of every feature took
// 80 us of every run, more than reading a small file.
#if defined(RECORD_SCAN_FEATURES_FROM_LIBC)
#define MACHINE_HAS(libc_name, compiler_name) CPU_FEATURE_ACTIVE(libc_name)
#else
#define MACHINE_HAS(libc_name, compiler_name) (__builtin_cpu_init(), __builtin_cpu_supports(compiler_name))
#endif

bool machine_runs(Kernel kernel) {
    switch (kernel) {
        case Kernel::portable: return true;
        case Kernel::avx2:
#if defined(__x86_64__)
            // The mmCIF kernel also counts and deposits bits.
            return MACHINE_HAS(AVX2, "avx2") && MACHINE_HAS(BMI2, "bmi2") && MACHINE_HAS(POPCNT, "popcnt");
#else
            return false;
#endif
        case Kernel::avx512:
#if defined(__x86_64__)
            // The mmCIF kernel and xyzdump's rows pack and permute bytes
            // (VBMI, VBMI2).
            return machine_runs(Kernel::avx2) && MACHINE_HAS(AVX512F, "avx512f") &&
                   MACHINE_HAS(AVX512BW, "avx512bw") && MACHINE_HAS(AVX512VL, "avx512vl") &&
                   MACHINE_HAS(AVX512_VBMI, "avx512vbmi") && MACHINE_HAS(AVX512_VBMI2, "avx512vbmi2");
#else
            return false;
#endif
    }
    return false;
}

struct KernelList {
    Kernel kernels[3] = {};
    std::size_t count = 0;
};

KernelList find_available_kernels() {
    KernelList list;
    for (Kernel kernel : {Kernel::portable, Kernel::avx2, Kernel::avx512})
        if (machine_runs(kernel)) list.kernels[list.count++] = kernel;
    return list;
}

}  // namespace

std::span<const Kernel> available_kernels() {
    static const KernelList list = find_available_kernels();
    return {list.kernels, list.count};
}

Kernel fastest_kernel() { return available_kernels().back(); }

std::string_view kernel_name(Kernel kernel) {
    switch (kernel) {
        case Kernel::portable: return "portable";
        case Kernel::avx2: return "avx2";
        case Kernel::avx512: return "avx512";
    }
    return "unknown";
}

PlainLinesReader plain_lines_reader(Kernel kernel) {
    for (Kernel available : available_kernels()) {
        if (available != kernel) continue;
#if defined(__x86_64__)
        if (kernel == Kernel::avx2) return read_plain_lines_avx2;
        if (kernel == Kernel::avx512) return read_plain_lines_avx512;
#endif
    }
    return read_plain_lines_portable;
}

PlainExtremesReader plain_extremes_reader(Kernel kernel) {
    for (Kernel available : available_kernels()) {
        if (available != kernel) continue;
#if defined(__x86_64__)
        if (kernel == Kernel::avx2) return read_plain_extremes_avx2;
        if (kernel == Kernel::avx512) return read_plain_extremes_avx512;
#endif
    }
    return read_plain_extremes_portable;
}

}  // namespace record_scan
