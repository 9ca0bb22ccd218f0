#include "tools/convert/Interrupt.h"

#include <csignal>

namespace convert {

namespace {

volatile std::sig_atomic_t interruptSeen = 0;

extern "C" void onInterrupt(int) {
    interruptSeen = 1;
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
