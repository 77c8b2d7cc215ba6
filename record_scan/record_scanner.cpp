// The scanner as the tools see it: recognises the input at its start, then
// hands every call to the reader of that layout.
#include <memory>

#include "input/gzip_source.hpp"
#include "input/input_recognition.hpp"
#include "mmcif/mmcif_reader.hpp"
#include "pdb/pdb_layout_reader.hpp"
#include "input/peekable_source.hpp"
#include "record_scan.hpp"

namespace record_scan {

class InputReader {
public:
    InputReader(ByteSource& source, std::size_t block_bytes, Kernel kernel)
        : raw_(source), block_bytes_(block_bytes), kernel_(kernel) {}

    ScanOutcome next_record(AtomXyz& atom) {
        if (pdb_) [[likely]] return settled(pdb_->next_record(atom));
        if (cif_) return settled(cif_->next_record(atom));
        if (refused_) return ScanOutcome::read_error;
        start();
        return next_record(atom);
    }

private:
    void start() {
        ByteSource* text_bytes = &raw_;
        switch (recognise_compression(raw_.peek(longest_signature_bytes))) {
            case Compression::none: break;
            case Compression::gzip:
                gzip_ = std::make_unique<GzipSource>(raw_);
                text_bytes = gzip_.get();
                break;
            case Compression::unsupported: refused_ = true; return;
        }
        text_ = std::make_unique<PeekableSource>(*text_bytes);
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
        if (outcome == ScanOutcome::record || outcome == ScanOutcome::read_error || !gzip_)
            return outcome;
        return gzip_->rest_is_intact() ? outcome : ScanOutcome::read_error;
    }

    PeekableSource raw_;
    std::size_t block_bytes_;
    Kernel kernel_;
    bool refused_ = false;
    std::unique_ptr<GzipSource> gzip_;
    std::unique_ptr<PeekableSource> text_;
    std::unique_ptr<PdbLayoutReader> pdb_;
    std::unique_ptr<MmcifReader> cif_;
};

RecordScanner::RecordScanner(ByteSource& source, std::size_t block_bytes, Kernel kernel)
    : reader_(std::make_unique<InputReader>(source, block_bytes, kernel)) {}

RecordScanner::~RecordScanner() = default;

ScanOutcome RecordScanner::next_record(AtomXyz& atom) { return reader_->next_record(atom); }

}  // namespace record_scan
