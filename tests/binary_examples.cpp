// Writes the shipped binary samples from an mmCIF text with the test
// encoder: the _atom_site loop as an archive-style BinaryCIF (coordinates
// FixedPoint 1000, Delta, IntegerPacking of 2 bytes; integers Delta and
// RunLength; other numbers FixedPoint 100; text as StringArray; '.' and
// '?' in masks), and its coordinates as MMTF with codec 10.
//
//   binary_examples INPUT.cif OUTPUT.bcif OUTPUT.mmtf
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "binary_writer.hpp"
#include "reference_cif.hpp"

namespace {

namespace bw = binary_writer;

bool all_of_form(const std::vector<std::string>& values, bool integer) {
    for (const std::string& v : values) {
        if (v == "." || v == "?") continue;
        char* end;
        std::strtod(v.c_str(), &end);
        if (*end != '\0' || v.empty() || (integer && v.find('.') != std::string::npos)) return false;
    }
    return true;
}

bw::Column encode(const std::string& name, const std::vector<std::string>& values) {
    bw::Ints mask, numbers;
    bool masked = false;
    for (const std::string& v : values) {
        mask.push_back(v == "." ? 1 : v == "?" ? 2 : 0);
        masked = masked || mask.back() != 0;
    }
    const bool coordinate = name.starts_with("Cartn_");
    bw::Column column{name, {}};
    if (all_of_form(values, false) && !masked) {
        const double factor = coordinate ? 1000 : all_of_form(values, true) ? 1 : 100;
        for (const std::string& v : values) numbers.push_back(std::llround(std::strtod(v.c_str(), nullptr) * factor));
        if (coordinate) column.data = bw::fixed_point(numbers, factor, {.delta = true, .packing_bytes = 2, .type = bw::int16});
        else if (factor == 1) column.data = bw::encode_ints(numbers, {.delta = true, .run_length = true, .type = bw::int32});
        else column.data = bw::fixed_point(numbers, factor, {.run_length = true, .type = bw::int32});
        return column;
    }
    std::vector<std::string> strings;
    for (const std::string& v : values) strings.push_back(v == "." || v == "?" ? "" : v);
    column.data = bw::string_array(strings, {.run_length = true, .type = bw::int32});
    if (masked) {
        column.has_mask = true;
        column.mask = bw::encode_ints(mask, {.run_length = true, .type = bw::int32});
    }
    return column;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: binary_examples INPUT.cif OUTPUT.bcif OUTPUT.mmtf\n", stderr);
        return 2;
    }
    std::ifstream input(argv[1], std::ios::binary);
    std::stringstream text;
    text << input.rdbuf();
    const std::vector<reference::cif::Token> tokens = reference::cif::tokens(text.str());
    std::vector<std::string> names;
    std::vector<std::vector<std::string>> columns;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind != reference::cif::TokenKind::loop || !tokens[i + 1].text.starts_with("_atom_site.")) continue;
        std::size_t at = i + 1;
        for (; tokens[at].kind == reference::cif::TokenKind::name; ++at) names.push_back(tokens[at].text.substr(11));
        columns.resize(names.size());
        for (std::size_t v = 0; at < tokens.size() && tokens[at].kind == reference::cif::TokenKind::value; ++at, ++v)
            columns[v % names.size()].push_back(tokens[at].text);
        break;
    }
    bw::Category site{"_atom_site", static_cast<std::int64_t>(columns.empty() ? 0 : columns[0].size()), {}};
    bw::Ints k[3];
    for (std::size_t c = 0; c < names.size(); ++c) {
        site.columns.push_back(encode(names[c], columns[c]));
        if (names[c].starts_with("Cartn_"))
            for (const std::string& v : columns[c]) k[names[c][6] - 'x'].push_back(std::llround(std::strtod(v.c_str(), nullptr) * 1000));
    }
    bw::Category entry{"_entry", 1, {{"id", bw::string_array({"XMPL"}, {.type = bw::int32})}}};
    std::ofstream(argv[2], std::ios::binary) << bw::binarycif({{entry, site}});
    std::ofstream(argv[3], std::ios::binary) << bw::mmtf(k, 10, 1000);
    return 0;
}
