// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// File operations on top of QtCore, with the Windows rules the program was written against:
// wildcard names match without regard to case, and only ordinary files are found.
#include "platform/Files.h"

#include "platform/DiskFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

namespace platform {

namespace {

bool isOrdinaryFile(const QFileInfo& info) {
    return info.isFile() || info.isSymLink();
}

QRegularExpression wildcard(const QString& pattern) {
    return QRegularExpression(QRegularExpression::wildcardToRegularExpression(
                                  pattern, QRegularExpression::UnanchoredWildcardConversion),
                              QRegularExpression::CaseInsensitiveOption);
}

bool anchoredMatch(const QRegularExpression& re, const QString& name) {
    const auto m = re.match(name);
    return m.hasMatch() && m.capturedStart() == 0 && m.capturedLength() == name.size();
}

} // namespace

QChar PathSeparator() {
#ifdef _WIN32
    return QLatin1Char('\\');
#else
    return QLatin1Char('/');
#endif
}

bool FileExists(const QString& path) {
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

QStringList FindFiles(const QString& patternPath) {
    const QFileInfo pattern(patternPath);
    const QString namePattern = pattern.fileName();
    if (namePattern.isEmpty())
        return {};
    const QDir folder = pattern.dir();
    const QRegularExpression re = wildcard(namePattern);
    QStringList found;
    const auto entries =
        folder.entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (isOrdinaryFile(entry) && anchoredMatch(re, entry.fileName()))
            found << folder.filePath(entry.fileName());
    }
    return found;
}

int DeleteFiles(const QString& patternPath) {
    int deleted = 0;
    for (const QString& path : FindFiles(patternPath)) {
        if (QFile::remove(path))
            ++deleted;
    }
    return deleted;
}

bool DeleteFile(const QString& path) {
    const QFileInfo info(path);
    if (!isOrdinaryFile(info))
        return false;
    return QFile::remove(path);
}

bool CopyFile(const QString& source, const QString& target) {
    QFile in(source);
    if (!QFileInfo(source).isFile() || !in.open(QIODevice::ReadOnly))
        return false;
    QSaveFile out(target);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    QByteArray block;
    while (!(block = in.read(1 << 20)).isEmpty()) {
        if (out.write(block) != block.size()) {
            out.cancelWriting();
            return false;
        }
    }
    if (in.error() != QFile::NoError) {
        out.cancelWriting();
        return false;
    }
    // QSaveFile keeps a replaced file's mode and writes through a link; the group is ours to keep.
    if (QFileInfo(target).isFile())
        AdoptModeAndGroup(int(out.handle()), ToFsPath(target));
    return out.commit();
}

std::filesystem::path ToFsPath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

QString ProgramFolder() {
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

QString WorkFolder() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    const QString folder = QDir(base).filePath(QStringLiteral("quillory/work"));
    if (!QFileInfo(folder).isDir())
        QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QString path = QDir::toNativeSeparators(QDir::cleanPath(folder));
    while (path.size() > 1 && path.endsWith(PathSeparator()))
        path.chop(1);
    return path;
}

} // namespace platform
