// Runs a shell command the way a user would and keeps what it wrote to
// standard output and how it ended.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace brellin::testing {

struct CommandRun {
    int status = -1;  // the exit status; -1 when it did not exit (a crash) or did not start
    std::string output;
};

inline CommandRun runCommand(const std::string& command) {
    CommandRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
    const int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

}  // namespace brellin::testing
