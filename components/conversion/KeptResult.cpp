// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/conversion/KeptResult.h"

#include "components/conversion/TempFiles.h"
#include "platform/Files.h"

#include <QFile>
#include <QFileInfo>

namespace quillory::conversion {

namespace {

// The target's name, unless it would be taken for a temporary file or an instance's lock and
// deleted with them.
QString keptName(const QString& target) {
    QString name = QFileInfo(target).fileName();
    if (name.isEmpty())
        name = QStringLiteral("result.mp3");
    if (name.startsWith(QLatin1String(TempFileTag), Qt::CaseInsensitive) ||
        name.endsWith(QLatin1String(".lock"), Qt::CaseInsensitive))
        name.prepend(QStringLiteral("kept"));
    return name;
}

QString freePath(const QString& folder, const QString& name) {
    const QFileInfo info(name);
    const QString stem = info.completeBaseName();
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    QString candidate = folder + platform::PathSeparator() + name;
    for (int n = 2; QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink(); ++n)
        candidate =
            folder + platform::PathSeparator() + stem + QStringLiteral(" (%1)").arg(n) + suffix;
    return candidate;
}

} // namespace

QString KeepEncodedFile(const QString& encodedTemp, const QString& target) {
    const QString kept = freePath(platform::WorkFolder(), keptName(target));
    return QFile::rename(encodedTemp, kept) ? kept : QString();
}

QString UncopiedResultMessage(const QString& target, const QString& kept) {
    const QString crLf = QStringLiteral("\r\n");
    QString text = QStringLiteral("The MP3 file could not be copied to:") + crLf + target;
    text += kept.isEmpty() ? crLf + QStringLiteral("The encoded file could not be kept either.")
                           : crLf + QStringLiteral("It has been kept as:") + crLf + kept;
    return text;
}

} // namespace quillory::conversion
