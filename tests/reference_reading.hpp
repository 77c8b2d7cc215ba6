// The plain, obviously correct reading that every fast path is checked
// against: chunks cut by a getc loop as a 100-byte fgets buffer cuts them,
// numbers read by sscanf, and on top the rules for touching fields, short
// chunks, the rest of long lines and read errors. In front of it, the
// input recognised as a whole: gzip inflated by zlib in one go, bzip2, xz
// and zstd decoded whole (reference_decompression.hpp), zip refused, a
// byte-order mark dropped, mmCIF handed to the whole-text CIF reading.
#pragma once

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <zlib.h>

#include "pdb/pdb_layout_reader.hpp"
#include "record_scan.hpp"
#include "reference_cif.hpp"
#include "reference_decompression.hpp"

namespace reference {

using record_scan::AtomXyz;

// One coordinate field by its columns: one number, nothing but blanks around.
inline std::optional<float> column_field(const std::string& chunk, std::size_t first) {
    if (chunk.size() < 54) return std::nullopt;
    std::string field = chunk.substr(first, 8);
    if (field.find_first_of(std::string("\t\r\n\0", 4)) != std::string::npos) return std::nullopt;
    std::size_t begin = field.find_first_not_of(' ');
    if (begin == std::string::npos) return std::nullopt;
    field = field.substr(begin, field.find_last_not_of(' ') + 1 - begin);
    for (char c : field)
        if (std::isspace(static_cast<unsigned char>(c))) return std::nullopt;
    float value;
    int used = 0;
    if (std::sscanf(field.c_str(), "%f%n", &value, &used) != 1 ||
        used != static_cast<int>(field.size()))
        return std::nullopt;
    return value;
}

// The coordinates of a selected chunk, or nothing when it is incomplete.
inline std::optional<AtomXyz> scan_chunk(const std::string& chunk) {
    if (chunk.size() < 30) return std::nullopt;
    std::string text = chunk.substr(30);
    text = text.substr(0, text.find('\0'));
    float v[3];
    int end[3];
    int count = std::sscanf(text.c_str(), "%f%n%f%n%f%n", &v[0], &end[0], &v[1], &end[1], &v[2],
                            &end[2]);
    for (int i = 0; i < count; ++i) {
        if (end[i] < static_cast<int>(text.size()) && text[end[i]] == '.') {
            auto x = column_field(chunk, 30), y = column_field(chunk, 38), z = column_field(chunk, 46);
            if (!x || !y || !z) return std::nullopt;
            return AtomXyz{*x, *y, *z};
        }
    }
    if (count != 3) return std::nullopt;
    return AtomXyz{v[0], v[1], v[2]};
}

struct Reading {
    std::vector<AtomXyz> records;
    record_scan::ScanOutcome end = record_scan::ScanOutcome::end_of_input;
    // Set for damaged compressed data and for a failed read of an mmCIF
    // text: a reader may have delivered any records before the read error
    // (how many depends on where it noticed), so only `end` is known.
    bool only_end_known = false;
    // A failed read of an mmCIF text whose readable part already holds an
    // incomplete row: "incomplete" is as right as the read error.
    bool end_may_be_incomplete = false;
    // A binary structure file (BinaryCIF or MMTF), which this reading does
    // not decode: nothing of it is known (tests/binary_formats_test.cpp and
    // fuzz/binary_fuzzer.cpp read those).
    bool binary = false;
};

// Reads a whole stream chunk by chunk with getc, up to the first outcome
// that is not a record.
inline Reading read_stream(std::FILE* stream) {
    Reading reading;
    bool continues_line = false;
    for (;;) {
        std::string chunk;
        int c;
        while (chunk.size() < record_scan::max_chunk_bytes && (c = std::getc(stream)) != EOF) {
            chunk += static_cast<char>(c);
            if (c == '\n') break;
        }
        if (std::ferror(stream)) {
            reading.end = record_scan::ScanOutcome::read_error;
            return reading;
        }
        if (chunk.empty()) return reading;
        bool tail = continues_line;
        continues_line = chunk.size() == record_scan::max_chunk_bytes && chunk.back() != '\n';
        if (tail) continue;
        if (std::strncmp(chunk.c_str(), "ATOM", 4) != 0 && std::strncmp(chunk.c_str(), "HETATM", 6) != 0)
            continue;
        std::optional<AtomXyz> atom = scan_chunk(chunk);
        if (!atom) {
            reading.end = record_scan::ScanOutcome::incomplete;
            return reading;
        }
        reading.records.push_back(*atom);
    }
}

// The same over bytes in memory that fail to read after `fail_after` of them.
inline Reading read_pdb_layout(const std::string& bytes, std::size_t fail_after = std::string::npos) {
    struct Cookie {
        const std::string* bytes;
        std::size_t offset;
        std::size_t fail_after;
    } cookie{&bytes, 0, fail_after};
    cookie_io_functions_t io{};
    io.read = [](void* state, char* into, std::size_t size) -> ssize_t {
        auto* c = static_cast<Cookie*>(state);
        if (c->offset >= c->fail_after && c->fail_after != std::string::npos) return -1;
        std::size_t limit = std::min(c->bytes->size(), c->fail_after);
        std::size_t count = std::min(size, limit - c->offset);
        std::memcpy(into, c->bytes->data() + c->offset, count);
        c->offset += count;
        return static_cast<ssize_t>(count);
    };
    std::FILE* stream = fopencookie(&cookie, "r", io);
    Reading reading = read_stream(stream);
    std::fclose(stream);
    return reading;
}

inline bool starts_with(const std::string& bytes, const std::string& prefix) {
    return bytes.compare(0, prefix.size(), prefix) == 0;
}

// Every member of a gzip stream inflated by zlib; nothing when the stream
// is damaged, cut short, or followed by bytes that begin no member.
inline std::optional<std::string> gunzip(const std::string& bytes) {
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK) return std::nullopt;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    std::string text;
    std::optional<std::string> result;
    for (;;) {
        char out[1 << 16];
        stream.next_out = reinterpret_cast<Bytef*>(out);
        stream.avail_out = sizeof out;
        const int status = inflate(&stream, Z_NO_FLUSH);
        text.append(out, sizeof out - stream.avail_out);
        if (status == Z_STREAM_END && stream.avail_in == 0) {
            result = std::move(text);
            break;
        }
        if (status == Z_STREAM_END) inflateReset(&stream);  // the next member's header is checked
        else if (status != Z_OK) break;                     // damaged, or cut short (Z_BUF_ERROR)
    }
    inflateEnd(&stream);
    return result;
}

// The whole-input decoder of a compressed input, told by its signature;
// none for anything else.
using Decompression = std::optional<std::string> (*)(const std::string&);
inline Decompression decompression_of(const std::string& bytes) {
    if (starts_with(bytes, "\x1F\x8B")) return gunzip;
    if (starts_with(bytes, "BZh") && bytes.size() > 3 && bytes[3] >= '1' && bytes[3] <= '9') return bunzip2;
    if (starts_with(bytes, std::string("\xFD" "7zXZ\0", 6))) return unxz;
    const bool skippable_frame = bytes.size() >= 4 && (bytes[0] & 0xF0) == 0x50 && bytes.substr(1, 3) == "\x2A\x4D\x18";
    if (starts_with(bytes, "\x28\xB5\x2F\xFD") || skippable_frame) return unzstd;
    return nullptr;
}

// zip, an archive of files, is never taken for text.
inline bool refused_compression(const std::string& bytes) { return starts_with(bytes, "PK\x03\x04"); }

// Where the data_ line begins when the first line that is neither blank
// nor a comment opens a CIF data block (after blanks and tabs, any case).
inline std::optional<std::size_t> data_line_start(const std::string& text) {
    for (std::size_t begin = 0; begin < text.size();) {
        std::size_t end = std::min(text.find('\n', begin), text.size());
        std::size_t first = begin;
        while (first < end && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
        if (first < end && text[first] != '#') {
            std::size_t keyword = text.find_first_not_of(" \t", begin);
            if (cif::lowered(text.substr(keyword, 5)) == "data_") return begin;
            return std::nullopt;
        }
        begin = end + 1;
    }
    return std::nullopt;
}

// The atoms of a whole mmCIF text.
inline Reading read_cif(const std::string& text) {
    Reading reading;
    reading.end = cif::Reader().read(text, reading.records);
    return reading;
}

// A MessagePack map whose first key is a string.
inline bool is_binary_structure(const std::string& bytes) {
    if (bytes.empty()) return false;
    const auto lead = static_cast<unsigned char>(bytes[0]);
    const std::size_t header = lead > 0x80 && lead <= 0x8f ? 1 : lead == 0xde ? 3 : lead == 0xdf ? 5 : 0;
    if (header == 0 || bytes.size() <= header) return false;
    const auto key = static_cast<unsigned char>(bytes[header]);
    return (key >= 0xa0 && key <= 0xbf) || (key >= 0xd9 && key <= 0xdb);
}

// A text after decompression: its byte-order mark dropped, then read as
// mmCIF or by the PDB layout.
inline Reading read_text(const std::string& text, std::size_t fail_after = std::string::npos) {
    if (is_binary_structure(text.substr(0, fail_after))) {
        Reading binary;
        binary.binary = true;
        return binary;
    }
    const std::string mark = "\xEF\xBB\xBF";
    std::string body = text;
    if (starts_with(text, mark) && (fail_after == std::string::npos || fail_after >= mark.size())) {
        body = text.substr(mark.size());
        if (fail_after != std::string::npos) fail_after -= mark.size();
    }
    const std::string readable = body.substr(0, fail_after);
    const std::optional<std::size_t> cif_start = data_line_start(readable);
    if (!cif_start) return read_pdb_layout(body, fail_after);
    if (fail_after == std::string::npos) return read_cif(body.substr(*cif_start));
    Reading failed{{}, record_scan::ScanOutcome::read_error, true};
    failed.end_may_be_incomplete = read_cif(readable.substr(*cif_start)).end == record_scan::ScanOutcome::incomplete;
    return failed;
}

// Any input as the tools get it, failing to read after `fail_after` bytes.
inline Reading read_bytes(const std::string& bytes, std::size_t fail_after = std::string::npos) {
    const Reading damaged{{}, record_scan::ScanOutcome::read_error, true};
    if (Decompression decompress = decompression_of(bytes)) {
        if (fail_after != std::string::npos) return damaged;
        std::optional<std::string> text = decompress(bytes);
        return text ? read_text(*text) : damaged;
    }
    if (refused_compression(bytes)) return {{}, record_scan::ScanOutcome::read_error};
    return read_text(bytes, fail_after);
}

// What boxreach should print for a reading about the centre given as text.
inline std::string boxreach_output(const Reading& reading, const std::string (&centre)[3]) {
    if (reading.end == record_scan::ScanOutcome::incomplete) return "XYZ is not complete";
    if (reading.end == record_scan::ScanOutcome::read_error) return "PDB file can not be read .\n";
    float c[3], r[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) c[i] = static_cast<float>(std::strtod(centre[i].c_str(), nullptr));
    for (const AtomXyz& atom : reading.records) {
        const float v[3] = {atom.x, atom.y, atom.z};
        for (int i = 0; i < 3; ++i)
            if (std::fabs(v[i] - c[i]) > r[i]) r[i] = std::fabs(v[i] - c[i]);
    }
    char text[512];
    std::snprintf(text, sizeof text,
                  "Radius X Y Z = %10.3f %10.3f %10.3f\nDiameter X Y Z = %10.3f %10.3f %10.3f\n",
                  double{r[0]}, double{r[1]}, double{r[2]}, double{r[0] + r[0]},
                  double{r[1] + r[1]}, double{r[2] + r[2]});
    return text;
}

// The rows xyzdump should write for a reading.
inline std::string xyzdump_rows(const Reading& reading) {
    std::string rows;
    for (const AtomXyz& atom : reading.records) {
        char row[512];
        std::snprintf(row, sizeof row, "%f,%f,%f\n", double{atom.x}, double{atom.y}, double{atom.z});
        rows += row;
    }
    return rows;
}

}  // namespace reference
