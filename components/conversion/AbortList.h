// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The temporary files and folders of the conversions in flight, which a user who will not wait
// for them to tidy up (a second Ctrl+C) has removed at once. Whoever makes one lists it here for
// as long as it exists; the program that catches the request removes them all on its way out.
// Work files of the levelling keep a list of their own (FloatIntermediate::removeAll), which the
// same removal takes in.
#pragma once

#include <filesystem>

namespace quillory::conversion {

// A temporary file or folder that removeListedForAbort removes, for as long as the object lives.
class RemovedOnAbort {
public:
    explicit RemovedOnAbort(std::filesystem::path path);
    ~RemovedOnAbort();
    RemovedOnAbort(const RemovedOnAbort&) = delete;
    RemovedOnAbort& operator=(const RemovedOnAbort&) = delete;

private:
    std::filesystem::path path_;
};

// Holds the removal off for as long as it lives, for renames that must be made all or none: the
// removal then finds them made. No RemovedOnAbort may start or end meanwhile.
class AbortHeldOff {
public:
    AbortHeldOff();
    ~AbortHeldOff();
    AbortHeldOff(const AbortHeldOff&) = delete;
    AbortHeldOff& operator=(const AbortHeldOff&) = delete;
};

// Removes every listed file and folder and every work file, for a program about to end. The list
// stays locked from then on, so that nothing is added to it or taken off it meanwhile.
void removeListedForAbort();

} // namespace quillory::conversion
