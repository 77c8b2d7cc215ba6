// The scanner's large buffers (blocks, windows, a decoder's state) kept by
// each thread for its next scanner. A process that reads file after file,
// a Python program or a server, would otherwise hand the memory back at
// each scanner's end and fault every page of it in again at the next
// start, which costs a small file more than reading it.
#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>

namespace record_scan {

// Memory of `bytes` bytes, uninitialised: a buffer this thread gave back
// earlier, or a new one. Throws std::bad_alloc.
void* take_buffer(std::size_t bytes);
// Keeps the buffer for this thread's next take of the same size, or frees it.
void give_back_buffer(void* buffer, std::size_t bytes) noexcept;

struct GiveBack {
    std::size_t bytes = 0;
    void operator()(void* buffer) const noexcept { give_back_buffer(buffer, bytes); }
};

template <typename T>
using PooledArray = std::unique_ptr<T[], GiveBack>;

// `count` elements of a trivial type, uninitialised, as
// std::make_unique_for_overwrite<T[]> would give them.
template <typename T>
PooledArray<T> pooled_array(std::size_t count) {
    static_assert(std::is_trivial_v<T>, "pooled memory holds plain bytes and numbers");
    const std::size_t bytes = count * sizeof(T);
    return PooledArray<T>(static_cast<T*>(take_buffer(bytes)), GiveBack{bytes});
}

// One object of a trivial C type (a decoder's state), uninitialised.
template <typename T>
std::unique_ptr<T, GiveBack> pooled_object() {
    static_assert(std::is_trivial_v<T>, "pooled memory holds plain bytes and numbers");
    return std::unique_ptr<T, GiveBack>(static_cast<T*>(take_buffer(sizeof(T))), GiveBack{sizeof(T)});
}

}  // namespace record_scan
