// A private JACK server for a test: jackd on its dummy backend (no sound
// card, no root), named after the test's process, and the child processes
// the test starts beside it (`sh -c`, output in a file).
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/CommandRun.h"

namespace brellin::testing {

struct Child {
    pid_t pid = -1;
    std::string log;

    Child(const std::string& command, const std::string& logPath) : log(logPath) {
        pid = fork();
        if (pid == 0) {
            const std::string line = "exec " + command + " >" + logPath + " 2>&1";
            execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Child() {
        stop(SIGTERM);
        stop(SIGKILL);
        std::remove(log.c_str());
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // Waits up to `seconds` for it to end; its exit status (128 + the
    // signal that ended it), or -1 while it runs.
    int wait(double seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (pid > 0 && std::chrono::steady_clock::now() < end) {
            int raw = 0;
            if (waitpid(pid, &raw, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }
    void stop(int signal) {
        if (pid <= 0) return;
        kill(pid, signal);
        wait(5);
    }
    std::string output() const { return runCommand("cat " + log).output; }
};

inline bool waitForJackPort(const std::string& server, const std::string& port) {
    for (int i = 0; i < 100; ++i) {
        if (runCommand("jack_lsp -s " + server + " 2>/dev/null").output.find(port) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// jackd -n NAME -d dummy at `rate` and `period`. `running()` is false where
// jackd cannot run (no shared memory); `output()` then says why.
class JackTestServer {
public:
    JackTestServer(const std::string& tag, unsigned rate, unsigned period)
        : name("brellin-" + tag + "-" + std::to_string(getpid())),
          jackd("jackd -n " + name + " -d dummy -r " + std::to_string(rate) + " -p " + std::to_string(period),
                "/tmp/" + name + "-jackd.log") {
        up = waitForJackPort(name, "system:playback_1");
    }
    ~JackTestServer() { stop(); }
    // SIGTERM: a killed jackd would leave its entry in JACK's registry of
    // servers, which holds only a few. A client cut off by its server
    // leaves its semaphore behind in /dev/shm.
    void stop() {
        jackd.stop(SIGTERM);
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored))
            if (entry.path().filename().string().find(name) != std::string::npos)
                std::filesystem::remove(entry.path(), ignored);
    }
    bool running() const { return up; }
    std::string output() const { return jackd.output(); }

    const std::string name;

private:
    Child jackd;
    bool up = false;
};

}  // namespace brellin::testing
