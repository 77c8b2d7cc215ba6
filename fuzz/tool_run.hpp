// Runs a tool's entry point in this process, with its standard output
// caught in a file, on files in one scratch directory.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "run_program.hpp"

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
inline const ScratchDir& scratch() {
    static const ScratchDir dir;
    return dir;
}

}  // namespace fuzz
