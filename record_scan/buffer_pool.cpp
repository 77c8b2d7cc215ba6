#include "buffer_pool.hpp"

#include <cstdlib>
#include <new>

namespace record_scan {
namespace {

// A scanner holds at most a handful of large buffers; a thread keeps as
// many as two scanners use, and nothing small, which malloc serves well.
constexpr std::size_t kept_buffers = 12;
constexpr std::size_t smallest_kept_bytes = std::size_t{16} << 10;

class ThreadPool {
public:
    ~ThreadPool() {
        for (Kept& kept : kept_) std::free(kept.buffer);
    }

    void* take(std::size_t bytes) {
        for (Kept& kept : kept_)
            if (kept.buffer != nullptr && kept.bytes == bytes) {
                void* buffer = kept.buffer;
                kept = {};
                return buffer;
            }
        return nullptr;
    }

    bool keep(void* buffer, std::size_t bytes) {
        if (bytes < smallest_kept_bytes) return false;
        for (Kept& kept : kept_)
            if (kept.buffer == nullptr) {
                kept = {buffer, bytes};
                return true;
            }
        return false;
    }

private:
    struct Kept {
        void* buffer = nullptr;
        std::size_t bytes = 0;
    };
    Kept kept_[kept_buffers];
};

thread_local ThreadPool pool;

}  // namespace

void* take_buffer(std::size_t bytes) {
    if (void* kept = pool.take(bytes)) return kept;
    void* buffer = std::malloc(bytes == 0 ? 1 : bytes);
    if (buffer == nullptr) throw std::bad_alloc();
    return buffer;
}

void give_back_buffer(void* buffer, std::size_t bytes) noexcept {
    if (buffer != nullptr && !pool.keep(buffer, bytes)) std::free(buffer);
}

}  // namespace record_scan
