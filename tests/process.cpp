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

namespace {

const char* configured(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

}  // namespace

bool can_inject_faults() {
#ifdef QUOXEL_FAULT_PRELOAD
    return configured("QUOXEL_TOOL") == nullptr && configured("QUOXEL_EMULATOR") == nullptr;
#else
    return false;
#endif
}

Outcome run_tool(const std::vector<std::string>& args, const RunOptions& options) {
    if (!options.fault.empty() && !can_inject_faults()) throw std::logic_error("no fault injector for this tool");
    std::vector<std::string> argv;
    if (const char* emulator = configured("QUOXEL_EMULATOR")) argv.emplace_back(emulator);
    const char* tool = configured("QUOXEL_TOOL");
    argv.emplace_back(tool != nullptr ? tool : QUOXEL_TOOL);
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
#ifdef QUOXEL_FAULT_PRELOAD
        if (!options.fault.empty() && (setenv("LD_PRELOAD", QUOXEL_FAULT_PRELOAD, 1) != 0 ||
                                       setenv("QUOXEL_FAIL", options.fault.c_str(), 1) != 0)) {
            _exit(126);
        }
#endif
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
