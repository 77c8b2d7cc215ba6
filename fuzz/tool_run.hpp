// Runs a tool's entry point in this process on files in a scratch
// directory, with its standard output caught in a file.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fuzz {

struct ToolRun {
    std::string out;
    int status;
};

inline ToolRun run_entry(int (*entry)(int, char**), std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    std::FILE* capture = std::tmpfile();
    dup2(fileno(capture), STDOUT_FILENO);
    int status = entry(static_cast<int>(args.size()), argv.data());
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::rewind(capture);
    std::string out;
    for (int c; (c = std::getc(capture)) != EOF;) out += static_cast<char>(c);
    std::fclose(capture);
    return {out, status};
}

// One directory for the whole fuzzing run, its files rewritten each input.
inline const std::string& scratch_dir() {
    static const std::string dir = [] {
        std::string pattern = "/tmp/structure-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        return pattern;
    }();
    return dir;
}

inline std::string write_scratch(const char* name, const std::string& bytes) {
    std::string path = scratch_dir() + "/" + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path;
}

inline std::string read_scratch(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace fuzz
