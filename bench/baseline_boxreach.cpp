// The reference reading the benchmark compares boxreach with: fgets into
// 100 bytes, the two keyword tests, sscanf "%f%f%f", three running maxima.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 5) return 2;
    std::FILE* in = std::fopen(argv[1], "r");
    if (in == nullptr) return 2;
    float cx = static_cast<float>(std::atof(argv[2]));
    float cy = static_cast<float>(std::atof(argv[3]));
    float cz = static_cast<float>(std::atof(argv[4]));
    float rx = 0, ry = 0, rz = 0;
    char buf[100];
    while (std::fgets(buf, sizeof buf, in) != nullptr) {
        if (std::strncmp(buf, "ATOM", 4) != 0 && std::strncmp(buf, "HETATM", 6) != 0) continue;
        float x, y, z;
        if (std::sscanf(buf + 30, "%f%f%f", &x, &y, &z) != 3) {
            std::fputs("XYZ is not complete", stdout);
            return 2;
        }
        if (std::fabs(x - cx) > rx) rx = std::fabs(x - cx);
        if (std::fabs(y - cy) > ry) ry = std::fabs(y - cy);
        if (std::fabs(z - cz) > rz) rz = std::fabs(z - cz);
    }
    std::printf("Radius X Y Z = %10.3f %10.3f %10.3f\n", rx, ry, rz);
    std::printf("Diameter X Y Z = %10.3f %10.3f %10.3f\n", rx + rx, ry + ry, rz + rz);
    std::fclose(in);
    return 1;
}
