// ShutdownSignals: SIGTERM, SIGINT and SIGHUP as a request to exit.
//
// The handlers only write one byte into a pipe (write is safe in a signal
// handler; errno is kept); the user-interface thread's event loop watches
// the pipe's read end and takes the program's normal Exit path from there,
// so playback stops, the settings are saved and the socket is removed.
// One object per process; install and uninstall on the user-interface thread.
#pragma once

#include <csignal>

namespace brellin {

class ShutdownSignals {
public:
    ShutdownSignals() = default;
    ~ShutdownSignals();
    ShutdownSignals(const ShutdownSignals&) = delete;
    ShutdownSignals& operator=(const ShutdownSignals&) = delete;

    // Creates the pipe and installs the handlers (the previous ones are
    // kept for uninstall). False when another object has them installed.
    bool install();
    // Restores the previous handlers and closes the pipe.
    void uninstall();
    // Readable once a signal arrived; -1 when not installed.
    int fd() const { return readEnd; }
    // Drains the pipe: true when a signal arrived since the last call.
    bool takeRequest();

private:
    static constexpr int SIGNAL_COUNT = 3;
    static constexpr int signals[SIGNAL_COUNT] = {SIGTERM, SIGINT, SIGHUP};

    int readEnd = -1;
    struct sigaction previous[SIGNAL_COUNT] = {};
    bool installed = false;
};

}  // namespace brellin
