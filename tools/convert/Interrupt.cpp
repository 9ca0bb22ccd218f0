// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "tools/convert/Interrupt.h"

#include "components/conversion/AbortList.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace convert {

namespace {

// The signal that interrupted the batch, 0 until one did. Set by the handler and read by every
// worker thread: only a lock-free atomic is both safe in a handler and free of data races.
std::atomic<int> interruptSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

// The handler wakes the cleaner thread through this pipe on a second request.
int wakeCleaner[2] = {-1, -1};

[[noreturn]] void endBy(int signal) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal);
}

extern "C" void onInterrupt(int signal) {
    int none = 0;
    if (interruptSignal.compare_exchange_strong(none, signal))
        return;
    if (wakeCleaner[1] < 0)
        endBy(signal);
    const int saved = errno;
    const unsigned char byte = 1;
    [[maybe_unused]] const ssize_t written = write(wakeCleaner[1], &byte, 1);
    errno = saved;
}

// Waits for a second request, then removes every temporary file of the conversions in flight
// (their work files included) and ends the program. The list stays locked: nothing new is added.
void cleanOnSecondRequest() {
    unsigned char byte = 0;
    while (read(wakeCleaner[0], &byte, 1) < 0 && errno == EINTR) {
    }
    quillory::conversion::removeListedForAbort();
    endBy(interruptSignal.load());
}

} // namespace

void catchInterrupts() {
    if (pipe2(wakeCleaner, O_CLOEXEC) == 0)
        std::thread(cleanOnSecondRequest).detach();
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool interrupted() {
    return interruptSignal.load(std::memory_order_relaxed) != 0;
}

void endAsInterrupted() {
    const int signal = interruptSignal.load();
    endBy(signal != 0 ? signal : SIGINT);
}

} // namespace convert
