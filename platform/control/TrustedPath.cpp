// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "platform/control/TrustedPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>
#endif

namespace platform::control {

#ifdef _WIN32

// Windows guards its program folders with access lists that the installer sets; there is no
// owner-and-mode test to make here.
QString WhyNotTrusted(const QString&) {
    return QString();
}

#else

namespace {

QString userName(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

// A user's private group (the group named after the user, with no other member) is the user.
// Systems that give each user such a group often make new files group-writable.
bool isOwnPrivateGroup(gid_t gid) {
    if (gid != getegid())
        return false;
    std::vector<char> buffer(65536);
    group entry{};
    group* found = nullptr;
    if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    const QByteArray me = userName(geteuid()).toLocal8Bit();
    if (me != found->gr_name)
        return false;
    for (char** member = found->gr_mem; *member; ++member)
        if (me != *member)
            return false;
    return true;
}

bool ownedByAnotherUser(const struct stat& st) {
    return st.st_uid != 0 && st.st_uid != geteuid();
}

bool othersCanWrite(const struct stat& st) {
    return (st.st_mode & S_IWOTH) || ((st.st_mode & S_IWGRP) && !isOwnPrivateGroup(st.st_gid));
}

} // namespace

QString WhyNotTrusted(const QString& path) {
    const QString file = QFileInfo(path).canonicalFilePath();
    if (file.isEmpty())
        return QString();
    struct stat st {};
    if (stat(QFile::encodeName(file).constData(), &st) != 0)
        return QString();
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("%1 is not a regular file").arg(file);
    if (ownedByAnotherUser(st))
        return QStringLiteral("%1 belongs to the user %2").arg(file, userName(st.st_uid));
    if (othersCanWrite(st))
        return QStringLiteral("%1 can be changed by other users").arg(file);

    QDir folder = QFileInfo(file).absoluteDir();
    for (bool own = true;; own = false) {
        const QString name = folder.absolutePath();
        if (stat(QFile::encodeName(name).constData(), &st) != 0)
            return QStringLiteral("the folder %1 cannot be examined").arg(name);
        if (ownedByAnotherUser(st))
            return QStringLiteral("the folder %1 belongs to the user %2")
                .arg(name, userName(st.st_uid));
        // The sticky bit keeps others from replacing what is ours in a shared folder above the
        // file, but in the file's own folder the file itself may be theirs.
        if (othersCanWrite(st) && (own || !(st.st_mode & S_ISVTX)))
            return QStringLiteral("the folder %1 can be written by other users").arg(name);
        if (folder.isRoot() || !folder.cdUp())
            break;
    }
    return QString();
}

#endif

} // namespace platform::control
