// What an input is, told from its first bytes: never from its name, so that
// pipes and files are recognised alike.
#pragma once

#include <string_view>

#include "input/peekable_source.hpp"

namespace record_scan {

enum class Compression {
    none,
    gzip,  // these four decoded on the fly
    bzip2,
    xz,
    zstd,         // a frame, or a skippable frame (the first of pzstd's output)
    unsupported,  // zip, an archive of files: refused as unreadable, never taken for text
};

// The longest signature looked for; fewer bytes are enough at the end of input.
inline constexpr std::size_t longest_signature_bytes = 6;

Compression recognise_compression(std::string_view start);

// A binary structure file (BinaryCIF or MMTF), after decompression: a
// MessagePack map whose first key is a string. No text of the PDB layout
// or mmCIF begins with these bytes.
bool begins_binary_structure(std::string_view start);

enum class TextLayout { pdb_columns, mmcif };

struct TextStart {
    TextLayout layout = TextLayout::pdb_columns;
    // pdb_columns only: the source now starts part way into a line that
    // begins with white space, which can hold no record.
    bool inside_line = false;
};

// Passes over a UTF-8 byte-order mark and the blank and comment lines at
// the start of a text, then tells the layout by the first line of
// substance: mmCIF when it opens a data block ("data_", after blanks and
// tabs, any letter case). None of what is passed over can hold a record of
// the PDB layout, so the column reading is unchanged for every other text.
TextStart recognise_text(PeekableSource& text);

}  // namespace record_scan
