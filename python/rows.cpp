#include "rows.hpp"

#include <sys/mman.h>

#include <algorithm>
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

}  // namespace

Rows::~Rows() {
    if (mapped_bytes_ != 0) munmap(atoms_, mapped_bytes_);
    else std::free(atoms_);
}

void Rows::map(std::size_t bytes) {
    bytes = whole_huge_pages(bytes);
    void* grown;
    if (mapped_bytes_ == 0) {
        grown = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (grown == MAP_FAILED) throw std::bad_alloc();
        std::memcpy(grown, atoms_, count_ * sizeof(record_scan::AtomXyz));
        std::free(atoms_);
    } else {
        grown = mremap(atoms_, mapped_bytes_, bytes, MREMAP_MAYMOVE);
        if (grown == MAP_FAILED) throw std::bad_alloc();
    }
    madvise(grown, bytes, MADV_HUGEPAGE);  // a hint: without it, small pages
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

void Rows::append(std::span<const record_scan::AtomXyz> atoms) {
    if (atoms.size() > room())
        reserve(std::max({count_ + atoms.size(), 2 * capacity_, first_capacity}));
    std::memcpy(atoms_ + count_, atoms.data(), atoms.size_bytes());
    count_ += atoms.size();
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
