// Writes a synthetic structure file for the benchmarks: 80-column ATOM and
// HETATM records (about 98% of lines) between TER, REMARK and END lines,
// coordinates uniform in -999.999..999.999.
//
//   make_structure pdb|pqr MEGABYTES OUTPUT [SEED]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

int main(int argc, char** argv) {
    if (argc < 4 || (std::strcmp(argv[1], "pdb") != 0 && std::strcmp(argv[1], "pqr") != 0)) {
        std::fputs("usage: make_structure pdb|pqr MEGABYTES OUTPUT [SEED]\n", stderr);
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
