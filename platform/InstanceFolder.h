// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Each running instance of the program (a Quillory window, the batch converter) keeps its
// temporary files in a folder of its own inside the private work folder, so two instances never
// reuse or delete each other's files. Beside the folder lies its lock file, "<name>.lock", held
// for as long as the instance runs. The folders of instances that ended without tidying up (a
// crash, kill -9, a logout) are removed by the next instance that starts. Claiming a folder and
// clearing ended ones happen under one more lock, ".lock" in the work folder, so a clean-up never
// sees a folder that is half claimed.
#pragma once

#include <QString>

namespace platform {

// This instance's folder inside WorkFolder(), owner-only. The first call claims it: it clears
// the folders of ended instances, then makes ours, named after the process id. Claimed anew
// when the work folder has moved or the folder has vanished. Never ends in a separator; the
// work folder itself when no folder of our own could be made. Safe to call from any thread.
QString InstanceFolder();

// Removes the folders in workFolder whose instances no longer run (their lock is free), with
// everything in them, and their lock files. Folders of running instances, files (such as kept
// results) and symbolic links are left alone; links inside a removed folder are removed, never
// followed.
void RemoveEndedInstanceFolders(const QString& workFolder);

// Holds this instance's folder for the life of the object: construction claims it at start-up,
// destruction removes it with whatever is still in it.
class InstanceFolderClaim {
public:
    InstanceFolderClaim();
    ~InstanceFolderClaim();
    InstanceFolderClaim(const InstanceFolderClaim&) = delete;
    InstanceFolderClaim& operator=(const InstanceFolderClaim&) = delete;
};

} // namespace platform
