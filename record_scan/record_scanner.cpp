// The scanner as the tools see it: recognises the input at its start, then
// hands every call to the reader of that layout.
#include <algorithm>
#include <cstdint>
#include <limits>
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
        if (binary_) return counted_binary(settled(binary_->next_record(atom)), 1);
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

    // The PDB layout writes its records where the caller wants them; the
    // others' batches are copied there, what does not fit kept for the
    // next call.
    ScanOutcome next_records(AtomXyz* into, std::size_t capacity, std::size_t& count) {
        count = 0;
        if (!started_) start();
        if (pdb_) [[likely]] return settled(pdb_->next_records(into, capacity, count));
        if (unread_.empty()) {
            ScanOutcome outcome = next_records(unread_);
            if (outcome != ScanOutcome::record) return outcome;
        }
        count = std::min(capacity, unread_.size());
        std::copy_n(unread_.data(), count, into);
        unread_ = unread_.subspan(count);
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
        if (binary_) {
            ScanOutcome outcome = settled(binary_->next_axis_run(run));
            return counted_binary(outcome, run.axis == 2 ? run.count : 0);
        }
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

    // Of the records read so far, how many no damage found later can take
    // back; every one when each byte decoded so far has passed its check.
    std::uint64_t sound_records() const {
        if (!decompressed_ || decompressed_->checked_bytes() == decompressed_->handed_out_bytes())
            return std::numeric_limits<std::uint64_t>::max();
        if (pdb_) return pdb_->sound_records();
        if (cif_) return cif_->sound_records();
        return binary_sound_;
    }

private:
    static constexpr std::size_t read_ahead_capacity = 256;

    // A binary file's values lie anywhere in it (a column read before its
    // row count, say): its records stand once every byte read has passed its check.
    ScanOutcome counted_binary(ScanOutcome outcome, std::size_t records) {
        if (outcome != ScanOutcome::record) return outcome;
        binary_records_ += records;
        if (!decompressed_ || decompressed_->checked_bytes() == decompressed_->handed_out_bytes())
            binary_sound_ = binary_records_;
        return outcome;
    }

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
        if (cif_) {
            read_ahead_cif();
            return;
        }
        while (read_ahead_count_ < read_ahead_capacity) {
            ScanOutcome outcome = next_record(read_ahead_[read_ahead_count_]);
            if (outcome != ScanOutcome::record) {
                ended_by_ = outcome;
                return;
            }
            ++read_ahead_count_;
        }
    }

    // The records waiting in the mmCIF reader, copied out in one step
    // rather than asked for one at a time.
    void read_ahead_cif() {
        static_assert(OutcomeQueue::capacity <= read_ahead_capacity, "the queue's records fit");
        const float* first = nullptr;
        std::size_t count = 0;
        ScanOutcome outcome = settled(cif_->next_records(first, count));
        if (outcome != ScanOutcome::record) {
            ended_by_ = outcome;
            return;
        }
        for (std::size_t i = 0; i < count; ++i, first += cif_outcome_floats)
            read_ahead_[i] = {first[0], first[1], first[2]};
        read_ahead_count_ = count;
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
        CheckedText checked;
        if (decompressed_) checked = CheckedText(decompressed_.get(), text_->position());
        if (start.layout == TextLayout::mmcif)
            cif_ = std::make_unique<MmcifReader>(*text_, block_bytes_, kernel_, checked);
        else
            pdb_ = std::make_unique<PdbLayoutReader>(*text_, block_bytes_, start.inside_line,
                                                     kernel_, checked);
    }

    // Damage may have turned the text into garbage long before the check
    // at the end of the stream shows it: no answer stands until it does.
    // A read error stands either way, but whether the stream is intact
    // tells which records stand: all, when a binary file's own structure
    // is at fault, none from a damaged unit on.
    ScanOutcome settled(ScanOutcome outcome) {
        if (outcome == ScanOutcome::record || !decompressed_) return outcome;
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
    std::span<const AtomXyz> unread_;  // of a batch copied out in part
    std::uint64_t binary_records_ = 0;
    std::uint64_t binary_sound_ = 0;
};

RecordScanner::RecordScanner(ByteSource& source, std::size_t block_bytes, Kernel kernel)
    : reader_(std::make_unique<InputReader>(source, block_bytes, kernel)) {}

RecordScanner::~RecordScanner() = default;

ScanOutcome RecordScanner::next_record(AtomXyz& atom) {
    ScanOutcome outcome = reader_->next_record(atom);
    handed_out_ += outcome == ScanOutcome::record;
    return outcome;
}

ScanOutcome RecordScanner::next_records(std::span<const AtomXyz>& batch) {
    ScanOutcome outcome = reader_->next_records(batch);
    if (outcome == ScanOutcome::record) handed_out_ += batch.size();
    return outcome;
}

ScanOutcome RecordScanner::next_records(std::span<AtomXyz> into, std::size_t& count) {
    // No room, nothing read: not even the end, which the next call with room gives.
    if (into.empty()) {
        count = 0;
        return ScanOutcome::record;
    }
    ScanOutcome outcome = reader_->next_records(into.data(), into.size(), count);
    handed_out_ += count;
    return outcome;
}

// A record is handed out with its Z run (each reading gives Z last, or
// counts no record as sound before the whole file is checked).
ScanOutcome RecordScanner::next_axis_run(AxisRun& run) {
    ScanOutcome outcome = reader_->next_axis_run(run);
    if (outcome == ScanOutcome::record && run.axis == 2) handed_out_ += run.count;
    return outcome;
}

std::uint64_t RecordScanner::sound_records() const { return std::min(handed_out_, reader_->sound_records()); }

ScanOutcome next_unfolded_run(InputReader& reader, AxisRun& run, FixedPointExtremes& extremes) {
    return reader.next_unfolded_run(run, extremes);
}

}  // namespace record_scan
