// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/CommonDialog.h"

#include "platform/Replaceable.h"

#include <QDir>
#include <QFileDialog>
#include <QStringList>

namespace platform {

namespace {

class RealFileDialogs final : public FileDialogs {
public:
    std::optional<QString> run(QWidget* owner, const FileDialogRequest& request) override {
        QFileDialog dialog(owner);
        const bool save = request.kind == FileDialogKind::Save;
        dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        const QStringList filters = ToQtFilters(request.filter);
        dialog.setNameFilters(filters);
        if (request.filterIndex >= 1 && request.filterIndex <= filters.size())
            dialog.selectNameFilter(filters[request.filterIndex - 1]);
        if (!request.initDir.isEmpty())
            dialog.setDirectory(request.initDir);
        if (!(request.flags & OfnOverwritePrompt))
            dialog.setOption(QFileDialog::DontConfirmOverwrite);
        if (!request.fileName.isEmpty())
            dialog.selectFile(request.fileName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
    }
};

} // namespace

FileDialogs& CurrentFileDialogs() {
    return Replaceable<FileDialogs, RealFileDialogs>::current();
}

void SetFileDialogs(FileDialogs* dialogs) {
    Replaceable<FileDialogs, RealFileDialogs>::install(dialogs);
}

QStringList ToQtFilters(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString label = parts[i];
        const qsizetype paren = label.indexOf(QLatin1Char('('));
        if (paren > 0)
            label = label.left(paren).trimmed();
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << QStringLiteral("%1 (%2)").arg(label, patterns);
    }
    return filters;
}

int CommonDialog::ShowOpen() {
    return show(FileDialogKind::Open);
}

int CommonDialog::ShowSave() {
    return show(FileDialogKind::Save);
}

int CommonDialog::show(FileDialogKind kind) {
    const FileDialogRequest request{kind, Filter, FilterIndex, FileName, Flags, InitDir};
    const std::optional<QString> chosen = CurrentFileDialogs().run(owner_, request);
    if (!chosen)
        return CancelError ? CdlCancel : 0;
    FileName = *chosen;
    return 0;
}

} // namespace platform
