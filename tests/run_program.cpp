#include "run_program.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

ProgramRun run_program(const std::string& program, const std::vector<std::string>& args,
                       const std::string& stdin_path, const std::string& stdout_path) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) throw std::runtime_error("pipe failed");
    pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        int in = open(stdin_path.c_str(), O_RDONLY);
        int out = stdout_path.empty() ? pipe_ends[1] : open(stdout_path.c_str(), O_WRONLY);
        if (in < 0 || out < 0) _exit(127);
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        close(pipe_ends[0]);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipe_ends[1]);
    ProgramRun run;
    char block[4096];
    ssize_t got;
    while ((got = read(pipe_ends[0], block, sizeof block)) > 0) run.out.append(block, got);
    close(pipe_ends[0]);
    int wait_status = 0;
    waitpid(child, &wait_status, 0);
    if (WIFEXITED(wait_status)) run.status = WEXITSTATUS(wait_status);
    return run;
}

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "structure-tools-XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::write(const std::string& name, const std::string& bytes) const {
    std::string file = path_ + "/" + name;
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
