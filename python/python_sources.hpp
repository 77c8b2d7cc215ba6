// What a Python caller passes as `source`, as bytes the scanner can read:
// a path, a bytes-like object, or a binary file object.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdio>
#include <memory>
#include <optional>

#include "record_scan.hpp"

namespace record_scan_python {

namespace py = pybind11;

// A Python file object read through its readinto (or read), the GIL taken
// back for each call. An exception it raises ends the input and is kept,
// to be raised once the scanner is done.
class FileObjectSource final : public record_scan::ByteSource {
public:
    explicit FileObjectSource(py::handle file);
    ~FileObjectSource() override;
    Block read(char* into, std::size_t capacity) override;

    // Raises what the file object raised, if anything. GIL held.
    void raise_if_failed();

private:
    Block read_into(char* into, std::size_t capacity);
    Block read_bytes(char* into, std::size_t capacity);

    py::object readinto_;
    py::object read_;
    std::optional<py::error_already_set> failure_;
};

// The input of one call: classified and held while the GIL is, opened and
// read while it is not.
class Input {
public:
    // Raises TypeError for what is no source. GIL held.
    explicit Input(py::handle source);
    ~Input();
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    // Opens a path (nothing to do for the others): false, with errno set,
    // when it cannot be opened. Needs no GIL.
    bool open();
    record_scan::ByteSource& bytes();
    // Closes a path's file. Needs no GIL.
    void close();

    // After a failed open(): the OSError the system reported, with the
    // path as its filename. GIL held.
    [[noreturn]] void raise_open_error(int error) const;
    // An exception a Python file object raised while it was read. GIL held.
    void raise_if_read_failed();
    // The path, or None: the filename of a ReadError.
    py::object filename() const { return path_object_; }

private:
    py::object path_object_;  // the caller's path, as given
    py::bytes path_;          // the same, encoded for the system
    std::FILE* file_ = nullptr;
    std::optional<record_scan::FileSource> file_source_;
    Py_buffer buffer_{};
    bool holds_buffer_ = false;
    std::optional<record_scan::MemorySource> memory_;
    std::optional<FileObjectSource> file_object_;
};

}  // namespace record_scan_python
