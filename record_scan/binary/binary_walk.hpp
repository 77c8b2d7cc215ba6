// A walk through a nested file that stops wherever it has something to
// hand out and goes on from there when asked: written as the nesting of
// the file reads, a coroutine per level, each suspended with the ones it
// runs. Its frames are allocated per level walked, never per record.
#pragma once

#include <coroutine>
#include <exception>
#include <utility>

namespace record_scan {

class Walk {
public:
    struct promise_type {
        Walk get_return_object() { return Walk(std::coroutine_handle<promise_type>::from_promise(*this)); }
        std::suspend_always initial_suspend() noexcept { return {}; }
        std::suspend_always final_suspend() noexcept { return {}; }
        std::suspend_always yield_value(bool) noexcept { return {}; }
        void return_void() noexcept {}
        void unhandled_exception() { throw; }
    };

    Walk(Walk&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
    Walk& operator=(Walk&& other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }
    Walk(const Walk&) = delete;
    Walk& operator=(const Walk&) = delete;
    ~Walk() {
        if (handle_) handle_.destroy();
    }

    // Runs to the next stop; false once the walk has ended.
    bool resume() {
        if (!handle_ || handle_.done()) return false;
        handle_.resume();
        return !handle_.done();
    }

private:
    explicit Walk(std::coroutine_handle<promise_type> handle) : handle_(handle) {}
    std::coroutine_handle<promise_type> handle_;
};

}  // namespace record_scan
