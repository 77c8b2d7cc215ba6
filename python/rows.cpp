#include "rows.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace record_scan_python {
namespace {

constexpr std::size_t first_capacity = 4096;

}  // namespace

Rows::~Rows() { std::free(atoms_); }

void Rows::reserve(std::size_t capacity) {
    capacity = std::max<std::size_t>(capacity, 1);  // an empty array still needs a pointer
    void* grown = std::realloc(atoms_, capacity * sizeof(record_scan::AtomXyz));
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
    atoms_ = nullptr;
    count_ = capacity_ = 0;
    py::capsule owner(rows, [](void* owned) { std::free(owned); });
    return py::array_t<float>({count, py::ssize_t{3}}, rows, owner);
}

}  // namespace record_scan_python
