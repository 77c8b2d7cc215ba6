// Streams the atom records of a structure file and delivers their X, Y, Z.
//
// The input is recognised once, at its start: gzip, bzip2, xz and zstd are
// decoded on the fly, zip is refused as unreadable, a UTF-8 byte-order
// mark is dropped, and a text whose first line of substance opens a CIF
// data block is read as mmCIF. A MessagePack map is a binary structure
// file (BinaryCIF or MMTF) and read by its columns. Everything else is the
// fixed-column PDB layout, cut into chunks exactly as a 100-byte fgets buffer would cut it,
// but read in large blocks so that scanning costs little more than finding
// the line ends.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string_view>

namespace record_scan {

struct AtomXyz {
    float x = 0;
    float y = 0;
    float z = 0;
};

enum class ScanOutcome {
    record,        // an AtomXyz has been delivered
    end_of_input,  // the input is exhausted
    incomplete,    // a selected record did not yield three numbers
    read_error,    // the input failed or is damaged: what came before it stands
};

// Written by both tools when a record is incomplete; no line end follows.
inline constexpr std::string_view incomplete_message = "XYZ is not complete";

// Where the scanner's bytes come from. A block read may return fewer bytes
// than asked for; only a count of 0 (or a failure) ends the input.
class ByteSource {
public:
    struct Block {
        std::size_t bytes = 0;
        bool failed = false;  // the bytes before the failure are still valid
    };
    virtual ~ByteSource() = default;
    virtual Block read(char* into, std::size_t capacity) = 0;
};

// Reads an open stdio stream; the stream stays the caller's to close.
class FileSource final : public ByteSource {
public:
    explicit FileSource(std::FILE* stream) : stream_(stream) {}
    Block read(char* into, std::size_t capacity) override;

private:
    std::FILE* stream_;
};

// Reads bytes held in memory (a file mapped or fetched whole), which must
// outlive the source.
class MemorySource final : public ByteSource {
public:
    MemorySource(const void* bytes, std::size_t size)
        : next_(static_cast<const char*>(bytes)), left_(size) {}
    Block read(char* into, std::size_t capacity) override;

private:
    const char* next_;
    std::size_t left_;
};

// Opens a structure file for reading. A directory is a file that cannot be
// opened (errno EISDIR): reading one would only fail later, as a read
// error. "-" gives standard input itself (closing it is fine); "./-" names
// a file called "-".
std::FILE* open_structure_file(const char* path);

// How the common lines of the PDB layout and the loop rows of mmCIF are
// read: every kernel gives the same records. `portable` is plain C++ and
// runs everywhere; another runs only where the machine has the instructions
// it is named for (`avx512` reads the PDB layout as `avx2` does).
enum class Kernel { portable, avx2, avx512 };

// The kernels this machine can run, checked once at run time; the portable
// one first, the fastest last.
std::span<const Kernel> available_kernels();
Kernel fastest_kernel();
std::string_view kernel_name(Kernel kernel);

// The coordinates of one axis for a run of atoms, in file order: the value
// of the run's first atom at `first`, each next one `stride` floats on.
struct AxisRun {
    unsigned axis = 0;  // 0 for X, 1 for Y, 2 for Z
    const float* first = nullptr;
    std::size_t count = 0;
    std::size_t stride = 1;

    float operator[](std::size_t i) const { return first[i * stride]; }
};

class InputReader;

// X, Y, Z of a point, or one value per axis.
using Point = std::array<float, 3>;

class RecordScanner {
public:
    static constexpr std::size_t default_block_bytes = std::size_t{1} << 18;

    // A kernel this machine cannot run is replaced by the portable one.
    explicit RecordScanner(ByteSource& source,
                           std::size_t block_bytes = default_block_bytes,
                           Kernel kernel = fastest_kernel());
    ~RecordScanner();
    RecordScanner(const RecordScanner&) = delete;
    RecordScanner& operator=(const RecordScanner&) = delete;

    // Reads until the next atom record and delivers it; `atom` holds
    // nothing of use unless the outcome is `record`. With compressed input
    // the rest of the stream is checked before `end_of_input` or
    // `incomplete` is given: damage anywhere is a `read_error`.
    ScanOutcome next_record(AtomXyz& atom);

    // The same atoms a batch of records at a time, in file order: `record`
    // with `batch` on the next records (valid until the next call), then
    // the outcome that ended the records. For a consumer of whole records
    // that does better with many at once than with a call for each.
    ScanOutcome next_records(std::span<const AtomXyz>& batch);

    // The same atoms written straight into memory of the caller's: `record`
    // with `count` (1 to into.size()) records at the start of `into`, then
    // the outcome that ended the records (`count` 0). For a consumer that
    // keeps every record, such as an array: the PDB layout's records are
    // written there as they are read, not copied from a batch. An empty
    // `into` reads nothing and gives `record`. Reading this way is reading
    // by batches.
    ScanOutcome next_records(std::span<AtomXyz> into, std::size_t& count);

    // The same atoms for a fold that takes each axis on its own (a maximum
    // per axis, say): `record` with the next run of one axis, the runs of
    // the three axes in no set order, then the outcome that ended the
    // records. Binary formats store X, Y and Z as columns one after
    // another; read this way they need none of them held in memory. A
    // scanner is read one way only: by records, batches (either way) or runs.
    ScanOutcome next_axis_run(AxisRun& run);

    // How many of the records handed out so far are sound: no damage found
    // later in a compressed input can take them back, for every byte they
    // were read from lies in a unit whose check has passed (a gzip member,
    // a zstd frame, an xz or bzip2 block); a record that spans two units
    // belongs to the later one. Binary structure files count a record only
    // once every byte read so far has passed. After a read_error, the
    // records beyond this count must not be kept: they may hold values
    // that are not in the file. Uncompressed input has no check: every
    // record handed out counts. A record is handed out by next_record, in
    // a batch, or by the run of its Z.
    std::uint64_t sound_records() const;

private:
    // reach() folds what it can inside the readers (scanner_folds.hpp).
    friend ScanOutcome reach(RecordScanner& scanner, const Point& centre, Point& radius);
    std::unique_ptr<InputReader> reader_;
    std::uint64_t handed_out_ = 0;
};

// How far the atoms reach from `centre` along each axis, as boxreach
// reports it: per axis the largest |coordinate - centre| in single
// precision over every atom the scanner delivers from here on (0 for none;
// a NaN distance never counts). Reads the scanner to its end and gives the
// outcome that ended the atoms: `end_of_input` when `radius` covers them
// all, otherwise what stopped them (`radius` then holds no answer).
ScanOutcome reach(RecordScanner& scanner, const Point& centre, Point& radius);

}  // namespace record_scan
