// The scanner as the tools see it: recognises the input at its start, then
// hands every call to the reader of that layout.
#include <memory>
#include <optional>
#include <span>

#include "binary/binary_structure_reader.hpp"
#include "input/decompressing_source.hpp"
#include "input/input_recognition.hpp"
#include "mmcif/cif_outcomes.hpp"
#include "mmcif/mmcif_reader.hpp"
#include "pdb/pdb_layout_reader.hpp"
#include "input/peekable_source.hpp"
#include "record_scan.hpp"
#include "scanner_folds.hpp"

namespace record_scan {
namespace {

std::unique_ptr<Decoder> decoder_for(Compression compression) {
    switch (compression) {
        case Compression::gzip: return make_gzip_decoder();
        case Compression::bzip2: return make_bzip2_decoder();
        case Compression::xz: return make_xz_decoder();
        case Compression::zstd: return make_zstd_decoder();
        case Compression::none:
        case Compression::unsupported: break;
    }
    return nullptr;
}

}  // namespace

class InputReader {
public:
    InputReader(ByteSource& source, std::size_t block_bytes, Kernel kernel)
        : raw_(source), block_bytes_(block_bytes), kernel_(kernel) {}

    ScanOutcome next_record(AtomXyz& atom) {
        if (pdb_) [[likely]] return settled(pdb_->next_record(atom));
        if (cif_) return settled(cif_->next_record(atom));
        if (binary_) return settled(binary_->next_record(atom));
        if (refused_) return ScanOutcome::read_error;
        start();
        return next_record(atom);
    }

    // The PDB layout hands out its decoded records as they are; the others
    // go through records read ahead.
    ScanOutcome next_records(std::span<const AtomXyz>& batch) {
        if (pdb_) [[likely]] return settled(pdb_->next_records(batch));
        if (!started_) {
            start();
            if (pdb_) return next_records(batch);
        }
        if (ended_by_) return *ended_by_;
        read_ahead();
        if (read_ahead_count_ == 0) return *ended_by_;
        batch = {read_ahead_, read_ahead_count_};
        return ScanOutcome::record;
    }

    // The PDB layout hands out its decoded records as they are, and binary
    // files their columns' runs; mmCIF text goes through runs of records
    // read ahead, one axis after another.
    ScanOutcome next_axis_run(AxisRun& run) {
        if (pdb_) [[likely]] return settled(pdb_->next_axis_run(run));
        if (!started_) {
            start();
            if (pdb_) return next_axis_run(run);
        }
        if (binary_) return settled(binary_->next_axis_run(run));
        if (cif_) return cif_axis_run(run);
        if (next_axis_ == 3) {
            if (ended_by_) return *ended_by_;
            read_ahead();
        }
        if (read_ahead_count_ == 0) return *ended_by_;
        run = {next_axis_, &read_ahead_[0].x + next_axis_, read_ahead_count_, 3};
        ++next_axis_;
        return ScanOutcome::record;
    }

    // For a fold of extremes: the PDB layout folds the records of its plain
    // lines (see PdbLayoutReader); every other input hands out runs alone.
    ScanOutcome next_unfolded_run(AxisRun& run, FixedPointExtremes& extremes) {
        if (pdb_) [[likely]] return settled(pdb_->next_unfolded_run(run, extremes));
        if (!started_) {
            start();
            if (pdb_) return next_unfolded_run(run, extremes);
        }
        return next_axis_run(run);
    }

private:
    static constexpr std::size_t read_ahead_capacity = 256;

    // The records waiting in the mmCIF reader, handed out where they lie.
    ScanOutcome cif_axis_run(AxisRun& run) {
        if (next_axis_ == 3) {
            if (ended_by_) return *ended_by_;
            ScanOutcome outcome = settled(cif_->next_records(cif_first_, read_ahead_count_));
            if (outcome != ScanOutcome::record) {
                ended_by_ = outcome;
                return outcome;
            }
            next_axis_ = 0;
        }
        run = {next_axis_, cif_first_ + next_axis_, read_ahead_count_, cif_outcome_floats};
        ++next_axis_;
        return ScanOutcome::record;
    }

    void read_ahead() {
        read_ahead_count_ = 0;
        next_axis_ = 0;
        while (read_ahead_count_ < read_ahead_capacity) {
            ScanOutcome outcome = next_record(read_ahead_[read_ahead_count_]);
            if (outcome != ScanOutcome::record) {
                ended_by_ = outcome;
                return;
            }
            ++read_ahead_count_;
        }
    }

    void start() {
        started_ = true;
        ByteSource* text_bytes = &raw_;
        Compression compression = recognise_compression(raw_.peek(longest_signature_bytes));
        if (compression == Compression::unsupported) {
            refused_ = true;
            return;
        }
        if (compression != Compression::none) {
            decompressed_ = std::make_unique<DecompressingSource>(raw_, decoder_for(compression));
            text_bytes = decompressed_.get();
        }
        text_ = std::make_unique<PeekableSource>(*text_bytes);
        if (begins_binary_structure(text_->peek(longest_signature_bytes))) {
            binary_ = std::make_unique<BinaryStructureReader>(*text_);
            return;
        }
        TextStart start = recognise_text(*text_);
        if (start.layout == TextLayout::mmcif)
            cif_ = std::make_unique<MmcifReader>(*text_, block_bytes_, kernel_);
        else
            pdb_ = std::make_unique<PdbLayoutReader>(*text_, block_bytes_, start.inside_line,
                                                     kernel_);
    }

    // Damage may have turned the text into garbage long before the check
    // at the end of the stream shows it: no answer stands until it does.
    ScanOutcome settled(ScanOutcome outcome) {
        if (outcome == ScanOutcome::record || outcome == ScanOutcome::read_error || !decompressed_)
            return outcome;
        return decompressed_->rest_is_intact() ? outcome : ScanOutcome::read_error;
    }

    PeekableSource raw_;
    std::size_t block_bytes_;
    Kernel kernel_;
    bool started_ = false;
    bool refused_ = false;
    std::unique_ptr<DecompressingSource> decompressed_;
    std::unique_ptr<PeekableSource> text_;
    std::unique_ptr<PdbLayoutReader> pdb_;
    std::unique_ptr<MmcifReader> cif_;
    std::unique_ptr<BinaryStructureReader> binary_;
    static_assert(sizeof(AtomXyz) == 3 * sizeof(float), "runs step over whole atoms");
    AtomXyz read_ahead_[read_ahead_capacity];
    const float* cif_first_ = nullptr;
    std::size_t read_ahead_count_ = 0;
    unsigned next_axis_ = 3;  // of the records read ahead; 3: none left
    std::optional<ScanOutcome> ended_by_;
};

RecordScanner::RecordScanner(ByteSource& source, std::size_t block_bytes, Kernel kernel)
    : reader_(std::make_unique<InputReader>(source, block_bytes, kernel)) {}

RecordScanner::~RecordScanner() = default;

ScanOutcome RecordScanner::next_record(AtomXyz& atom) { return reader_->next_record(atom); }

ScanOutcome RecordScanner::next_records(std::span<const AtomXyz>& batch) { return reader_->next_records(batch); }

ScanOutcome RecordScanner::next_axis_run(AxisRun& run) { return reader_->next_axis_run(run); }

ScanOutcome next_unfolded_run(InputReader& reader, AxisRun& run, FixedPointExtremes& extremes) {
    return reader.next_unfolded_run(run, extremes);
}

}  // namespace record_scan
