// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/shared/OpenedFile.h"

#include "platform/Files.h"

#include <QFileInfo>
#include <QMimeData>
#include <QMimeDatabase>
#include <QUrl>

namespace {

const QString CrLf = QStringLiteral("\r\n");

} // namespace

// Without a MIME database to ask (a stripped-down system), the name's suffix decides.
FileKind KindOfFile(const QString& path) {
    if (!platform::FileExists(path))
        return FileKind::Missing;
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    if (type.inherits(QStringLiteral("audio/midi")))
        return FileKind::Midi;
    if (type.inherits(QStringLiteral("audio/x-wav")))
        return FileKind::Wav;
    if (type.isValid() && !type.isDefault())
        return FileKind::Other;
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("mid") || suffix == QLatin1String("midi"))
        return FileKind::Midi;
    return suffix == QLatin1String("wav") ? FileKind::Wav : FileKind::Other;
}

QStringList DraggedFiles(const QMimeData& data) {
    QStringList files;
    for (const QUrl& url : data.urls()) {
        if (!url.isLocalFile())
            return {};
        files << url.toLocalFile();
    }
    return files;
}

QString MissingFileMessage(const QString& path) {
    return QStringLiteral("The below file is not existing:") + CrLf + path;
}

QString UnusableFileMessage(const QString& path, const QString& wanted) {
    return QStringLiteral("The below file is not %1:").arg(wanted) + CrLf + path;
}

QString FirstOfSeveralMessage(qsizetype count, const QString& taken) {
    return QStringLiteral("%1 files were dropped; Quillory takes one at a time, the first:")
               .arg(count) +
           CrLf + taken;
}
