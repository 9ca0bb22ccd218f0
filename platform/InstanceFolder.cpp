// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/InstanceFolder.h"

#include "platform/FileLock.h"
#include "platform/Files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <filesystem>
#include <mutex>
#include <set>

namespace platform {

namespace {

const QString LockSuffix = QStringLiteral(".lock");
const QString WorkLockName = QStringLiteral(".lock");
// Only a clash with instances on other systems sharing this home folder, or folders that could
// not be removed, makes a second name necessary; a hundred is far beyond either.
constexpr int MaxNameTries = 100;

struct Claim {
    QString workFolder;
    QString folder;
    FileLock lock;
};

Claim& current() {
    static Claim claim;
    return claim;
}

// The batch converter's workers may ask for the folder at the same time.
std::mutex& claimMutex() {
    static std::mutex mutex;
    return mutex;
}

QString inFolder(const QString& folder, const QString& name) {
    return folder + PathSeparator() + name;
}

QString lockPathOf(const QString& folder) {
    return folder + LockSuffix;
}

// A folder itself, not a link to one.
bool isRealFolder(const QString& path) {
    const QFileInfo info(path);
    return !info.isSymLink() && info.isDir();
}

bool anythingAt(const QString& path) {
    const QFileInfo info(path);
    return info.isSymLink() || info.exists();
}

FileLock lockWorkFolder(const QString& work) {
    return FileLock::acquire(inFolder(work, WorkLockName), FileLock::Wait::Yes);
}

// Instance names are a process id, with "-<n>" when that name was taken.
bool isInstanceName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^[0-9]+(-[0-9]+)?$"));
    return pattern.match(name).hasMatch();
}

// The instance folders in the work folder, and the lock files whose folder may already be gone.
// Anything else there (results kept for the user, for one) is not ours to judge.
std::set<QString> instanceNames(const QString& work) {
    std::set<QString> names;
    const auto entries = QDir(work).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                  QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink())
            continue;
        QString name = entry.fileName();
        if (entry.isFile() && name.endsWith(LockSuffix))
            name.chop(LockSuffix.size());
        else if (!entry.isDir())
            continue;
        if (isInstanceName(name))
            names.insert(name);
    }
    return names;
}

// The standard library's removal deletes links themselves and never descends through them.
void removeTree(const QString& folder) {
    std::error_code ignored;
    std::filesystem::remove_all(ToFsPath(folder), ignored);
}

// The caller holds the work folder's lock, so no instance is between taking its lock and
// making its folder.
void removeEnded(const QString& work) {
    for (const QString& name : instanceNames(work)) {
        const QString folder = inFolder(work, name);
        const FileLock lock = FileLock::acquire(lockPathOf(folder), FileLock::Wait::No);
        if (!lock.held())
            continue; // its instance runs, or its lock is not a file we can open
        if (isRealFolder(folder))
            removeTree(folder);
        if (!anythingAt(folder))
            QFile::remove(lockPathOf(folder));
    }
}

QString candidateName(qint64 pid, int attempt) {
    return attempt == 0 ? QString::number(pid) : QStringLiteral("%1-%2").arg(pid).arg(attempt);
}

// The caller holds the work folder's lock. The lock is taken before the folder is made, so a
// folder is never seen without a live holder.
Claim claimIn(const QString& work) {
    const qint64 pid = QCoreApplication::applicationPid();
    for (int attempt = 0; attempt < MaxNameTries; ++attempt) {
        const QString folder = inFolder(work, candidateName(pid, attempt));
        FileLock lock = FileLock::acquire(lockPathOf(folder), FileLock::Wait::No);
        if (!lock.held() || anythingAt(folder))
            continue;
        if (!QDir().mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            break;
        return Claim{work, folder, std::move(lock)};
    }
    return Claim{work, QString(), FileLock()};
}

} // namespace

QString InstanceFolder() {
    const std::lock_guard<std::mutex> serialised(claimMutex());
    const QString work = WorkFolder();
    Claim& claim = current();
    if (claim.workFolder != work || !claim.lock.held() || !isRealFolder(claim.folder)) {
        claim = Claim{};
        const FileLock guard = lockWorkFolder(work);
        if (guard.held())
            removeEnded(work);
        claim = claimIn(work);
    }
    return claim.lock.held() ? claim.folder : work;
}

void RemoveEndedInstanceFolders(const QString& workFolder) {
    const FileLock guard = lockWorkFolder(workFolder);
    if (guard.held())
        removeEnded(workFolder);
}

InstanceFolderClaim::InstanceFolderClaim() {
    InstanceFolder();
}

InstanceFolderClaim::~InstanceFolderClaim() {
    const std::lock_guard<std::mutex> serialised(claimMutex());
    Claim& claim = current();
    if (!claim.lock.held())
        return;
    const FileLock guard = lockWorkFolder(claim.workFolder);
    removeTree(claim.folder);
    // Unlinking a lock file is safe only while nobody can be opening it.
    if (guard.held())
        QFile::remove(lockPathOf(claim.folder));
    claim = Claim{};
}

} // namespace platform
