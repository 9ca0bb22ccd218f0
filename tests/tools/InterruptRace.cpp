// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Run under ThreadSanitizer: threads poll the interrupt flag, as the batch's workers do, while a
// real SIGINT sets it. A flag that is not a lock-free atomic is a data race, which fails the run.
#include "tools/convert/Interrupt.h"

#include <csignal>
#include <thread>
#include <unistd.h>
#include <vector>

int main() {
    convert::catchInterrupts();
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i)
        workers.emplace_back([] {
            while (!convert::interrupted())
                usleep(100);
        });
    kill(getpid(), SIGINT);
    for (std::thread& worker : workers)
        worker.join();
}
