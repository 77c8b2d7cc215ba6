// Writes a file to standard output COUNT times over, then one last line:
// inputs of many gigabytes for a pipe, at the speed of memory.
//
//   stream_repeated FILE COUNT LAST_LINE
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fputs("usage: stream_repeated FILE COUNT LAST_LINE\n", stderr);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string block((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (long long i = std::atoll(argv[2]); i > 0; --i)
        if (std::fwrite(block.data(), 1, block.size(), stdout) != block.size()) return 2;
    std::fputs(argv[3], stdout);
    return std::fflush(stdout) == 0 ? 0 : 2;
}
