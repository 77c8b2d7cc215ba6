// record_scan for Python: any structure file's coordinates as numpy arrays,
// read by the same library as the tools, with the GIL released while the
// bytes are scanned.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "python_sources.hpp"
#include "record_scan.hpp"
#include "rows.hpp"

namespace record_scan_python {
namespace {

using record_scan::ScanOutcome;

// The tools' messages, without their line feeds.
constexpr const char* rows_read_message = "PQR file can not be read .";
constexpr const char* reach_read_message = "PDB file can not be read .";

// Held for the life of the process, as the interpreter holds the module.
py::handle errors() {
    static py::handle module = py::module_::import("record_scan._errors").release();
    return module;
}

[[noreturn]] void raise_incomplete(py::object rows) {
    py::object error = errors().attr("IncompleteRecord")(
        std::string(record_scan::incomplete_message), rows);
    PyErr_SetObject(error.get_type().ptr(), error.ptr());
    throw py::error_already_set();
}

[[noreturn]] void raise_read_error(const char* message, const Input& input) {
    py::object error = errors().attr("ReadError")(message);
    error.attr("filename") = input.filename();
    PyErr_SetObject(error.get_type().ptr(), error.ptr());
    throw py::error_already_set();
}

// The outcome that ended the atoms, as the exception a caller sees.
void raise_failure(ScanOutcome outcome, Input& input, const char* read_message,
                   const py::object& rows) {
    input.raise_if_read_failed();
    if (outcome == ScanOutcome::incomplete) raise_incomplete(rows);
    if (outcome == ScanOutcome::read_error) raise_read_error(read_message, input);
}

py::array_t<float> coordinates(py::handle source) {
    Input input(source);
    Rows rows;
    ScanOutcome outcome = ScanOutcome::end_of_input;
    int open_error = 0;
    {
        py::gil_scoped_release unlocked;
        if (input.open()) {
            // The records are written straight into the array's memory, as
            // much as it has room for; it grows only when full, so that a
            // small file's array is no larger than before.
            record_scan::RecordScanner scanner(input.bytes());
            std::size_t count;
            while ((outcome = scanner.next_records(rows.room_for(1), count)) == ScanOutcome::record)
                rows.added(count);
        } else {
            open_error = errno;
        }
        input.close();
    }
    if (open_error != 0) input.raise_open_error(open_error);
    py::array_t<float> array = rows.release();
    raise_failure(outcome, input, rows_read_message, array);
    return array;
}

record_scan::Point centre_of(py::handle centre) {
    auto values = py::reinterpret_borrow<py::sequence>(centre);
    if (!py::isinstance<py::sequence>(centre) || values.size() != 3)
        throw py::value_error("centre must be three numbers: X, Y and Z");
    record_scan::Point point;
    for (std::size_t axis = 0; axis < 3; ++axis)
        point[axis] = static_cast<float>(py::float_(values[axis]).cast<double>());
    return point;
}

py::array_t<float> reach(py::handle source, py::handle centre) {
    const record_scan::Point point = centre_of(centre);
    Input input(source);
    record_scan::Point radius{};
    ScanOutcome outcome = ScanOutcome::end_of_input;
    int open_error = 0;
    {
        py::gil_scoped_release unlocked;
        if (input.open()) {
            record_scan::RecordScanner scanner(input.bytes());
            outcome = record_scan::reach(scanner, point, radius);
        } else {
            open_error = errno;
        }
        input.close();
    }
    if (open_error != 0) input.raise_open_error(open_error);
    raise_failure(outcome, input, reach_read_message, py::none());
    py::array_t<float> radii(3);
    std::copy(radius.begin(), radius.end(), radii.mutable_data());
    return radii;
}

// The rows of one input, a batch at a time: the scanner lives between
// calls, so memory is that of one batch whatever the input's size.
class Batches {
public:
    Batches(py::handle source, std::size_t size) : input_(source), size_(size) {
        if (size == 0) throw py::value_error("size must be at least 1");
        int open_error = 0;
        {
            py::gil_scoped_release unlocked;
            if (input_.open()) scanner_ = std::make_unique<record_scan::RecordScanner>(input_.bytes());
            else open_error = errno;
        }
        if (open_error != 0) input_.raise_open_error(open_error);
    }

    py::array_t<float> next() {
        if (!scanner_) throw py::stop_iteration();
        if (busy_) throw std::runtime_error("this batches iterator is in use by another thread");
        Rows rows(size_);
        ScanOutcome outcome = ScanOutcome::record;
        {
            Busy busy(busy_);
            py::gil_scoped_release unlocked;
            outcome = fill(rows);
            if (outcome != ScanOutcome::record) finish();
        }
        if (outcome != ScanOutcome::record) {
            py::array_t<float> before = rows.release();
            raise_failure(outcome, input_, rows_read_message, before);
            if (before.shape(0) == 0) throw py::stop_iteration();
            return before;
        }
        return rows.release();
    }

private:
    // Set while the GIL is let go, so that a second thread's call fails
    // instead of sharing the scanner.
    struct Busy {
        explicit Busy(bool& flag) : flag_(flag) { flag_ = true; }
        ~Busy() { flag_ = false; }
        bool& flag_;
    };

    // Up to `size_` rows; `record` while more may follow.
    ScanOutcome fill(Rows& rows) {
        while (rows.room() > 0) {
            std::size_t count;
            const ScanOutcome outcome = scanner_->next_records(rows.room_for(1), count);
            if (outcome != ScanOutcome::record) return outcome;
            rows.added(count);
        }
        return ScanOutcome::record;
    }

    void finish() {
        scanner_.reset();
        input_.close();
    }

    Input input_;
    std::size_t size_;
    std::unique_ptr<record_scan::RecordScanner> scanner_;
    bool busy_ = false;
};

}  // namespace
}  // namespace record_scan_python

PYBIND11_MODULE(_core, module) {
    namespace py = pybind11;
    using namespace record_scan_python;
    module.doc() = "The compiled reader behind the record_scan package.";

    module.def("coordinates", &coordinates, py::arg("source"), R"(
Every atom's X, Y, Z of a structure file, as an (n, 3) float32 array.

The values are those xyzdump writes for the same input: PDB and PQR,
mmCIF, BinaryCIF and MMTF, each plain or gzip, bzip2, xz or zstd
compressed, recognised by content. A file without atoms gives shape (0, 3).

source: a path (str or os.PathLike), a bytes-like object holding the file
(bytes, bytearray, memoryview, mmap, a uint8 array), or a binary file
object (anything with readinto or read).

Raises IncompleteRecord (its .rows: the rows before it), ReadError, or the
OSError the system reports for a path that cannot be opened.)");

    module.def("reach", &reach, py::arg("source"), py::arg("centre"), R"(
How far the atoms reach from centre along each axis: a (3,) float32 array
of radii, bit for bit boxreach's, the largest |coordinate - centre| per
axis (0 for a file without atoms; a NaN coordinate never counts).

centre: three numbers, X, Y and Z, rounded to float32 as boxreach rounds
its arguments. source as for coordinates(). Nothing is held but the radii.

Raises IncompleteRecord (its .rows is None: no rows are kept), ReadError,
or the OSError the system reports for a path that cannot be opened.)");

    py::class_<Batches>(module, "Batches", R"(
The rows of one input as (k, 3) float32 arrays, 1 <= k <= size, in order;
made by batches().)")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &Batches::next);

    module.def(
        "batches",
        [](py::handle source, std::size_t size) { return std::make_unique<Batches>(source, size); },
        py::arg("source"), py::arg("size") = 65536, R"(
The rows of coordinates(source), in order, as an iterator of (k, 3) float32
arrays with 1 <= k <= size: memory stays that of one batch, whatever the
size of the input.

A path is opened at once, so that an OSError is raised here. A failure is
raised in place of the next batch: IncompleteRecord's .rows holds the rows
read since the last batch handed out.)");
}
