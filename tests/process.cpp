#include "process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

Outcome run_tool(const std::vector<std::string>& args, const RunOptions& options) {
    std::vector<std::string> argv;
    if (const char* emulator = std::getenv("QUOXEL_EMULATOR"); emulator != nullptr && *emulator != '\0') {
        argv.emplace_back(emulator);
    }
    const char* tool = std::getenv("QUOXEL_TOOL");
    argv.emplace_back(tool != nullptr && *tool != '\0' ? tool : QUOXEL_TOOL);
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);

    ScratchDir capture;
    std::string const out_path = capture.path("out");
    std::string const err_path = capture.path("err");

    std::fflush(nullptr);
    pid_t const pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int const out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        int const err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
        for (int fd : options.closed) close(fd);
        rlimit const limit{options.file_size_limit, options.file_size_limit};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
        signal(SIGXFSZ, options.file_size_signal ? SIG_DFL : SIG_IGN);
        alarm(options.seconds);  // survives exec; its signal ends the tool
        execvp(cargv[0], cargv.data());
        _exit(127);
    }
    int wstatus = 0;
    if (waitpid(pid, &wstatus, 0) != pid) throw std::runtime_error("waitpid failed");
    Outcome result;
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    const Bytes out = read_file(out_path), err = read_file(err_path);
    result.out.assign(out.begin(), out.end());
    result.err.assign(err.begin(), err.end());
    return result;
}
