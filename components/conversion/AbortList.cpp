// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/conversion/AbortList.h"

#include "components/levelling/FloatIntermediate.h"

#include <mutex>
#include <set>

namespace quillory::conversion {

namespace fs = std::filesystem;

namespace {

struct AbortList {
    std::mutex mutex;
    std::multiset<fs::path> paths;
};

// Never destroyed: the thread that removes the files may use it while the program ends.
AbortList& abortList() {
    static AbortList* const list = new AbortList;
    return *list;
}

} // namespace

RemovedOnAbort::RemovedOnAbort(fs::path path)
    : path_(std::move(path)) {
    AbortList& list = abortList();
    const std::lock_guard lock(list.mutex);
    list.paths.insert(path_);
}

RemovedOnAbort::~RemovedOnAbort() {
    AbortList& list = abortList();
    const std::lock_guard lock(list.mutex);
    list.paths.erase(list.paths.find(path_));
}

AbortHeldOff::AbortHeldOff() {
    abortList().mutex.lock();
}

AbortHeldOff::~AbortHeldOff() {
    abortList().mutex.unlock();
}

void removeListedForAbort() {
    AbortList& list = abortList();
    list.mutex.lock();
    quillory::renderer::FloatIntermediate::removeAll();
    for (const fs::path& path : list.paths) {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
}

} // namespace quillory::conversion
