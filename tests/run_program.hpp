// Runs one of the tools as a child process and collects what it printed.
#pragma once

#include <string>
#include <vector>

struct ProgramRun {
    std::string out;  // standard output
    int status = -1;  // exit status, or -1 if it did not exit normally
};

// `stdout_path` non-empty sends standard output to that file instead.
ProgramRun run_program(const std::string& program, const std::vector<std::string>& args,
                       const std::string& stdin_path = "/dev/null",
                       const std::string& stdout_path = "");

// A fresh directory for one test's files, removed with everything in it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string write(const std::string& name, const std::string& bytes) const;

private:
    std::string path_;
};

std::string read_file(const std::string& path);
