#include "ui/shell/ShutdownSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace brellin {

namespace {

// The write end the handler uses; -1 while no object is installed.
std::atomic<int> signalPipe{-1};

extern "C" void onShutdownSignal(int) {
    const int saved = errno;
    const int fd = signalPipe.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const char one = 1;
        [[maybe_unused]] ssize_t ignored = ::write(fd, &one, 1);
    }
    errno = saved;
}

}  // namespace

ShutdownSignals::~ShutdownSignals() { uninstall(); }

bool ShutdownSignals::install() {
    if (installed) return true;
    int ends[2];
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) return false;
    int expected = -1;
    if (!signalPipe.compare_exchange_strong(expected, ends[1])) {
        ::close(ends[0]);
        ::close(ends[1]);
        return false;
    }
    readEnd = ends[0];
    struct sigaction action = {};
    action.sa_handler = onShutdownSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < SIGNAL_COUNT; ++i) ::sigaction(signals[i], &action, &previous[i]);
    installed = true;
    return true;
}

void ShutdownSignals::uninstall() {
    if (!installed) return;
    for (int i = 0; i < SIGNAL_COUNT; ++i) ::sigaction(signals[i], &previous[i], nullptr);
    const int writeEnd = signalPipe.exchange(-1);
    if (writeEnd >= 0) ::close(writeEnd);
    ::close(readEnd);
    readEnd = -1;
    installed = false;
}

bool ShutdownSignals::takeRequest() {
    if (readEnd < 0) return false;
    bool any = false;
    char sink[32];
    ssize_t n;
    while ((n = ::read(readEnd, sink, sizeof sink)) > 0) any = true;
    return any;
}

}  // namespace brellin
