#include "rows.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace record_scan_python {
namespace {

constexpr std::size_t first_capacity = 4096;
// Past this the rows are mapped: below it a mapping costs more than it saves.
constexpr std::size_t heap_bytes_at_most = std::size_t{4} << 20;
constexpr std::size_t huge_page_bytes = std::size_t{2} << 20;

std::size_t whole_huge_pages(std::size_t bytes) {
    return (bytes + huge_page_bytes - 1) / huge_page_bytes * huge_page_bytes;
}

// What a capsule must know to give a mapping back.
struct Mapping {
    void* address;
    std::size_t bytes;
};

// A place for `bytes` (whole huge pages) that starts on a huge page: only
// there can the kernel map all of it in huge pages, and keep them when the
// rows move on growing, rather than split them into small pages (which
// cost the 200 MB PDB's 30 MB of rows a third of their reading).
void* huge_page_place(std::size_t bytes) {
    void* reserved = mmap(nullptr, bytes + huge_page_bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (reserved == MAP_FAILED) throw std::bad_alloc();
    char* start = static_cast<char*>(reserved);
    char* aligned = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(start) + huge_page_bytes - 1) &
                                            ~(std::uintptr_t{huge_page_bytes} - 1));
    if (aligned != start) munmap(start, static_cast<std::size_t>(aligned - start));
    munmap(aligned + bytes, static_cast<std::size_t>(start + huge_page_bytes - aligned));
    return aligned;
}

}  // namespace

Rows::~Rows() {
    if (mapped_bytes_ != 0) munmap(atoms_, mapped_bytes_);
    else std::free(atoms_);
}

void Rows::map(std::size_t bytes) {
    bytes = whole_huge_pages(bytes);
    void* place = huge_page_place(bytes);
    void* grown;
    if (mapped_bytes_ == 0) {
        grown = mmap(place, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (grown == MAP_FAILED) {
            munmap(place, bytes);
            throw std::bad_alloc();
        }
        madvise(grown, bytes, MADV_HUGEPAGE);  // a hint: without it, small pages
        std::memcpy(grown, atoms_, count_ * sizeof(record_scan::AtomXyz));
        std::free(atoms_);
    } else {
        // The hint goes along with the pages.
        grown = mremap(atoms_, mapped_bytes_, bytes, MREMAP_MAYMOVE | MREMAP_FIXED, place);
        if (grown == MAP_FAILED) {
            munmap(place, bytes);
            throw std::bad_alloc();
        }
    }
    atoms_ = static_cast<record_scan::AtomXyz*>(grown);
    mapped_bytes_ = bytes;
    capacity_ = bytes / sizeof(record_scan::AtomXyz);
}

void Rows::reserve(std::size_t capacity) {
    capacity = std::max<std::size_t>(capacity, 1);  // an empty array still needs a pointer
    const std::size_t bytes = capacity * sizeof(record_scan::AtomXyz);
    if (mapped_bytes_ != 0 || bytes > heap_bytes_at_most) return map(bytes);
    void* grown = std::realloc(atoms_, bytes);
    if (grown == nullptr) throw std::bad_alloc();
    atoms_ = static_cast<record_scan::AtomXyz*>(grown);
    capacity_ = capacity;
}

std::span<record_scan::AtomXyz> Rows::room_for(std::size_t rows) {
    if (rows > room()) reserve(std::max({count_ + rows, 2 * capacity_, first_capacity}));
    return {atoms_ + count_, room()};
}

py::array_t<float> Rows::release() {
    if (atoms_ == nullptr) reserve(1);
    static_assert(sizeof(record_scan::AtomXyz) == 3 * sizeof(float), "rows of three floats");
    auto* rows = reinterpret_cast<float*>(atoms_);
    auto count = static_cast<py::ssize_t>(count_);
    py::capsule owner;
    if (mapped_bytes_ == 0) {
        owner = py::capsule(rows, [](void* owned) { std::free(owned); });
    } else {
        // What lies past the rows is given back now, whole pages of it.
        std::size_t used = whole_huge_pages(count_ * sizeof(record_scan::AtomXyz));
        if (used < mapped_bytes_) munmap(reinterpret_cast<char*>(atoms_) + used, mapped_bytes_ - used);
        auto* mapping = new Mapping{atoms_, used};
        owner = py::capsule(mapping, [](void* owned) {
            auto* m = static_cast<Mapping*>(owned);
            munmap(m->address, m->bytes);
            delete m;
        });
    }
    atoms_ = nullptr;
    count_ = capacity_ = mapped_bytes_ = 0;
    return py::array_t<float>({count, py::ssize_t{3}}, rows, owner);
}

}  // namespace record_scan_python
