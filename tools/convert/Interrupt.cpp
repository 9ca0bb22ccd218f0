#include "tools/convert/Interrupt.h"

#include <csignal>

namespace convert {

namespace {

volatile std::sig_atomic_t interruptSeen = 0;

// A second Ctrl+C ends the program at once, for a user who will not wait for the cleanup.
extern "C" void onInterrupt(int signal) {
    interruptSeen = 1;
    std::signal(signal, SIG_DFL);
}

} // namespace

void catchInterrupts() {
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}

bool interrupted() {
    return interruptSeen != 0;
}

} // namespace convert
