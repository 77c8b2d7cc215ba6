// Rows of X, Y, Z gathered into memory that becomes a numpy array's own,
// without a copy. Small results live on the heap; a large one moves once
// into mapped memory in huge pages, grown by remapping, so that its pages
// are neither copied on growth nor faulted in one by one.
#pragma once

#include <pybind11/numpy.h>

#include <cstddef>
#include <span>

#include "record_scan.hpp"

namespace record_scan_python {

namespace py = pybind11;

class Rows {
public:
    Rows() = default;
    explicit Rows(std::size_t capacity) { reserve(capacity); }
    ~Rows();
    Rows(const Rows&) = delete;
    Rows& operator=(const Rows&) = delete;

    std::size_t size() const { return count_; }
    std::size_t room() const { return capacity_ - count_; }
    // Room for at least `rows` more rows after those held, grown as
    // needed (throws std::bad_alloc), and all the room there is; rows
    // written there count once added() says so. No GIL needed.
    std::span<record_scan::AtomXyz> room_for(std::size_t rows);
    void added(std::size_t rows) { count_ += rows; }

    // An (n, 3) float32 array that owns the rows; this is left empty. GIL held.
    py::array_t<float> release();

private:
    void reserve(std::size_t capacity);
    void map(std::size_t bytes);

    record_scan::AtomXyz* atoms_ = nullptr;
    std::size_t count_ = 0;
    std::size_t capacity_ = 0;
    std::size_t mapped_bytes_ = 0;  // 0 while the rows are on the heap
};

}  // namespace record_scan_python
