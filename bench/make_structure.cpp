// Writes a synthetic structure file for the benchmarks: 80-column ATOM and
// HETATM records (about 98% of lines) between TER, REMARK and END lines,
// coordinates uniform in -999.999..999.999. The cif form is an mmCIF text
// in the archive's style: one _atom_site loop of 21 columns, group_PDB
// first, '?' and '.' fields, columns padded to a common width. The chain
// kinds write KILOATOMS thousand atoms along a chain (chain_structure.hpp)
// as archive-style BinaryCIF or as the same atoms in archive-style mmCIF.
//
//   make_structure pdb|pqr|cif MEGABYTES OUTPUT [SEED]
//   make_structure chain-bcif|chain-cif KILOATOMS OUTPUT [SEED]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "chain_structure.hpp"

namespace {

const char* const cif_columns[] = {
    "group_PDB", "id", "type_symbol", "label_atom_id", "label_alt_id", "label_comp_id",
    "label_asym_id", "label_entity_id", "label_seq_id", "pdbx_PDB_ins_code", "Cartn_x", "Cartn_y",
    "Cartn_z", "occupancy", "B_iso_or_equiv", "pdbx_formal_charge", "auth_seq_id", "auth_comp_id",
    "auth_asym_id", "auth_atom_id", "pdbx_PDB_model_num"};

void write_cif(std::FILE* out, long long target, std::mt19937_64& random) {
    std::uniform_int_distribution<int> milli(-999999, 999999);
    std::uniform_int_distribution<int> percent(0, 99);
    static const char* const atoms[] = {"N", "CA", "C", "O", "CB", "CG", "SD", "CE"};
    static const char* const residues[] = {"MET", "ALA", "SER", "GLY", "LEU", "HOH", "SO4"};
    long long written = std::fprintf(out,
        "data_SYNTH\n#\n_entry.id SYNTH\n#\n_cell.length_a 100.000\n_cell.length_b 100.000\n"
        "_cell.length_c 100.000\n#\nloop_\n");
    for (const char* column : cif_columns) written += std::fprintf(out, "_atom_site.%s \n", column);
    for (long long serial = 1; written < target; ++serial) {
        const char* atom = atoms[serial % 8];
        const char* residue = residues[serial / 8 % 7];
        int sequence = static_cast<int>(serial / 8 % 10000) + 1;
        written += std::fprintf(
            out, "%-6s %-7lld %-1.1s %-4s . %-3s A 1 %-4d ? %-8.3f %-8.3f %-8.3f 1.00 %-5.2f ? %-4d %-3s A %-4s 1\n",
            percent(random) < 90 ? "ATOM" : "HETATM", serial, atom, atom, residue, sequence,
            milli(random) / 1000.0, milli(random) / 1000.0, milli(random) / 1000.0,
            percent(random) / 2.0, sequence, residue, atom);
    }
    std::fputs("#\nloop_\n_atom_type.symbol\nC\nN\nO\nS\n#\n", out);
}

}  // namespace

int main(int argc, char** argv) {
    const bool chain = argc >= 4 && (std::strcmp(argv[1], "chain-bcif") == 0 || std::strcmp(argv[1], "chain-cif") == 0);
    const bool known = argc >= 4 && (std::strcmp(argv[1], "pdb") == 0 ||
                                     std::strcmp(argv[1], "pqr") == 0 || std::strcmp(argv[1], "cif") == 0);
    if (!known && !chain) {
        std::fputs("usage: make_structure pdb|pqr|cif MEGABYTES OUTPUT [SEED]\n"
                   "       make_structure chain-bcif|chain-cif KILOATOMS OUTPUT [SEED]\n", stderr);
        return 2;
    }
    const bool pqr = std::strcmp(argv[1], "pqr") == 0;
    const long long target = std::atoll(argv[2]) * 1000 * 1000;
    std::FILE* out = std::fopen(argv[3], "w");
    if (out == nullptr) {
        std::perror(argv[3]);
        return 2;
    }
    std::mt19937_64 random(argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 1);
    if (chain) {
        const long long atoms = std::atoll(argv[2]) * 1000;
        const bool ok = std::strcmp(argv[1], "chain-bcif") == 0 ? write_chain_bcif(out, atoms, random)
                                                                : write_chain_cif(out, atoms, random);
        return std::fclose(out) == 0 && ok ? 0 : 2;
    }
    if (std::strcmp(argv[1], "cif") == 0) {
        write_cif(out, target, random);
        return std::fclose(out) == 0 ? 0 : 2;
    }
    std::uniform_int_distribution<int> milli(-999999, 999999);
    std::uniform_int_distribution<int> percent(0, 99);
    auto coordinate = [&] { return milli(random) / 1000.0; };

    char line[128];
    long long written = 0;
    for (long long serial = 1; written < target; ++serial) {
        int kind = percent(random);
        int length;
        if (kind < 2) {
            static const char* const others[] = {
                "TER                                                                             \n",
                "REMARK 350 SYNTHETIC RECORDS FOR THE BENCHMARK                                  \n",
                "END                                                                             \n"};
            length = std::snprintf(line, sizeof line, "%s", others[serial % 3]);
        } else {
            const char* keyword = kind < 90 ? "ATOM  " : "HETATM";
            double x = coordinate(), y = coordinate(), z = coordinate();
            int atom = static_cast<int>(serial % 100000);
            int residue = static_cast<int>(serial / 8 % 10000);
            if (pqr)
                length = std::snprintf(line, sizeof line,
                                       "%s%5d  CA  ALA A%4d    %8.3f%8.3f%8.3f %7.4f %6.4f           \n",
                                       keyword, atom, residue, x, y, z, (percent(random) - 50) / 100.0,
                                       1.5 + percent(random) / 200.0);
            else
                length = std::snprintf(line, sizeof line,
                                       "%s%5d  CA  ALA A%4d    %8.3f%8.3f%8.3f%6.2f%6.2f           C  \n",
                                       keyword, atom, residue, x, y, z, 1.0, percent(random) / 2.0);
        }
        std::fwrite(line, 1, length, out);
        written += length;
    }
    return std::fclose(out) == 0 ? 0 : 2;
}
