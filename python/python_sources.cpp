#include "python_sources.hpp"

#include <cerrno>
#include <cstring>
#include <string>

namespace record_scan_python {
namespace {

constexpr const char* text_mode_message =
    "source is a text-mode file: open it in binary mode ('rb'); the scanner reads bytes";

bool is_text_file(py::handle source) {
    // Held for the life of the process: no reference is dropped at its exit,
    // when the interpreter is gone.
    static py::handle text_base = py::object(py::module_::import("io").attr("TextIOBase")).release();
    return py::isinstance(source, text_base);
}

bool is_path(py::handle source) {
    return PyUnicode_Check(source.ptr()) || py::hasattr(source, "__fspath__");
}

}  // namespace

FileObjectSource::FileObjectSource(py::handle file) {
    if (is_text_file(file)) throw py::type_error(text_mode_message);
    if (py::hasattr(file, "readinto")) readinto_ = file.attr("readinto");
    else read_ = file.attr("read");
}

// The bound methods are Python objects: let them go with the GIL held.
FileObjectSource::~FileObjectSource() {
    py::gil_scoped_acquire gil;
    readinto_ = py::object();
    read_ = py::object();
    failure_.reset();
}

record_scan::ByteSource::Block FileObjectSource::read(char* into, std::size_t capacity) {
    py::gil_scoped_acquire gil;
    try {
        return readinto_ ? read_into(into, capacity) : read_bytes(into, capacity);
    } catch (py::error_already_set& error) {
        failure_.emplace(std::move(error));
    } catch (const std::exception& error) {
        // A type error of ours, or one pybind11 met converting a result.
        PyErr_SetString(PyExc_TypeError, error.what());
        failure_.emplace();
    }
    return {0, true};
}

// Straight into the scanner's buffer; the view is released at once, so
// that the file object cannot keep a way into memory that is not its own.
record_scan::ByteSource::Block FileObjectSource::read_into(char* into, std::size_t capacity) {
    py::object view = py::reinterpret_steal<py::object>(
        PyMemoryView_FromMemory(into, static_cast<Py_ssize_t>(capacity), PyBUF_WRITE));
    if (!view) throw py::error_already_set();
    py::object got;
    try {
        got = readinto_(view);
    } catch (...) {
        view.attr("release")();
        throw;
    }
    view.attr("release")();
    if (got.is_none())
        throw py::type_error("source's readinto returned None: a non-blocking file has no data");
    auto count = got.cast<long long>();
    if (count < 0 || static_cast<unsigned long long>(count) > capacity)
        throw py::value_error("source's readinto returned " + std::to_string(count) +
                              " for a buffer of " + std::to_string(capacity) + " bytes");
    return {static_cast<std::size_t>(count), false};
}

record_scan::ByteSource::Block FileObjectSource::read_bytes(char* into, std::size_t capacity) {
    py::object got = read_(capacity);
    if (PyUnicode_Check(got.ptr())) throw py::type_error(text_mode_message);
    if (got.is_none())
        throw py::type_error("source's read returned None: a non-blocking file has no data");
    py::buffer_info data = py::reinterpret_borrow<py::buffer>(got).request();
    auto count = static_cast<std::size_t>(data.size * data.itemsize);
    if (count > capacity)
        throw py::value_error("source's read returned more bytes than were asked for");
    if (count > 0) std::memcpy(into, data.ptr, count);
    return {count, false};
}

void FileObjectSource::raise_if_failed() {
    if (!failure_) return;
    py::error_already_set failure = std::move(*failure_);
    failure_.reset();
    throw failure;
}

Input::Input(py::handle source) {
    if (is_path(source)) {
        path_object_ = py::reinterpret_borrow<py::object>(source);
        static py::handle fsencode = py::object(py::module_::import("os").attr("fsencode")).release();
        path_ = fsencode(source);
        // A path names a file, "-" included: Python has sys.stdin.buffer.
        if (std::string(path_) == "-") path_ = py::bytes("./-");
        return;
    }
    if (PyObject_CheckBuffer(source.ptr())) {
        if (PyObject_GetBuffer(source.ptr(), &buffer_, PyBUF_SIMPLE) != 0) {
            PyErr_Clear();
            throw py::type_error("a bytes-like source must be one contiguous block of memory");
        }
        holds_buffer_ = true;
        memory_.emplace(buffer_.buf, static_cast<std::size_t>(buffer_.len));
        return;
    }
    if (py::hasattr(source, "readinto") || py::hasattr(source, "read")) {
        file_object_.emplace(source);
        return;
    }
    throw py::type_error(
        "source must be a path (str or os.PathLike), a bytes-like object or a binary file "
        "object, not " + std::string(py::str(py::type::handle_of(source).attr("__name__"))));
}

Input::~Input() {
    close();
    if (holds_buffer_) PyBuffer_Release(&buffer_);
}

bool Input::open() {
    if (!path_object_) return true;
    file_ = record_scan::open_structure_file(PyBytes_AS_STRING(path_.ptr()));
    if (file_ == nullptr) return false;
    file_source_.emplace(file_);
    return true;
}

record_scan::ByteSource& Input::bytes() {
    if (file_source_) return *file_source_;
    if (memory_) return *memory_;
    return *file_object_;
}

void Input::close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    file_source_.reset();
}

void Input::raise_open_error(int error) const {
    errno = error;
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path_object_.ptr());
    throw py::error_already_set();
}

void Input::raise_if_read_failed() {
    if (file_object_) file_object_->raise_if_failed();
}

}  // namespace record_scan_python
