// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Ctrl+C and termination requests. The first one stops the batch: no file starts any more, the
// conversions in flight stop at their next block and remove their temporary files, and the
// program then ends as killed by the signal, once it has reported and tidied up. A shell sees
// exit status 130 after Ctrl+C (143 after SIGTERM), and a script that runs the converter stops
// with it, as it would for any program the user interrupts. A second request, from a user who
// will not wait, removes the temporary files at once and ends the program the same way.
#pragma once

#include <filesystem>

namespace convert {

// Catches SIGINT and SIGTERM from now on.
void catchInterrupts();
bool interrupted();
// Ends the program as the signal that interrupted it would have; the caller has tidied up.
[[noreturn]] void endAsInterrupted();

// A temporary file or folder that a second request removes before the program ends, for as long
// as the object lives.
class RemovedOnAbort {
public:
    explicit RemovedOnAbort(std::filesystem::path path);
    ~RemovedOnAbort();
    RemovedOnAbort(const RemovedOnAbort&) = delete;
    RemovedOnAbort& operator=(const RemovedOnAbort&) = delete;

private:
    std::filesystem::path path_;
};

// Holds a second request's removals off for as long as it lives, for renames that must be made
// all or none: the request then finds them made. No RemovedOnAbort may start or end meanwhile.
class AbortHeldOff {
public:
    AbortHeldOff();
    ~AbortHeldOff();
    AbortHeldOff(const AbortHeldOff&) = delete;
    AbortHeldOff& operator=(const AbortHeldOff&) = delete;
};

} // namespace convert
