// The reference writing the benchmark compares xyzdump with: fgets into
// 100 bytes, the keyword tests, sscanf "%f%f%f", fprintf "%f,%f,%f\n".
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    std::FILE* in = std::fopen(argv[1], "r");
    if (in == nullptr) return 2;
    std::FILE* out = std::fopen(argv[2], "w");
    if (out == nullptr) return 2;
    char buf[100];
    while (std::fgets(buf, sizeof buf, in) != nullptr) {
        if (std::strncmp(buf, "ATOM", 4) != 0 && std::strncmp(buf, "HETATM", 6) != 0) continue;
        float x, y, z;
        if (std::sscanf(buf + 30, "%f%f%f", &x, &y, &z) != 3) {
            std::fputs("XYZ is not complete", stdout);
            return 2;
        }
        std::fprintf(out, "%f,%f,%f\n", x, y, z);
    }
    std::fclose(in);
    std::fclose(out);
    return 1;
}
