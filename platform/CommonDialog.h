// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The common file dialog as the windows drive it: properties set before each use, Cancel
// reported as error 32755. The dialog itself is a replaceable seam for tests.
#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace platform {

constexpr int CdlCancel = 32755;

constexpr int OfnReadOnly = 0x1;
constexpr int OfnOverwritePrompt = 0x2;
constexpr int OfnFileMustExist = 0x1000;
constexpr int OfnExplorer = 0x80000;
constexpr int OfnLongNames = 0x200000;

enum class FileDialogKind { Open, Save };

struct FileDialogRequest {
    FileDialogKind kind = FileDialogKind::Open;
    QString filter; // "Text(*.a;*.b)|*.a;*.b|..."
    int filterIndex = 1;
    QString fileName;
    int flags = 0;
    // The folder the dialog opens in; empty for wherever it opens on its own.
    QString initDir;
};

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // The chosen path, or nothing when the user cancelled.
    virtual std::optional<QString> run(QWidget* owner, const FileDialogRequest& request) = 0;
};

FileDialogs& CurrentFileDialogs();
// Installs replacement dialogs (nullptr restores the real ones); the caller keeps ownership.
void SetFileDialogs(FileDialogs* dialogs);

// Turns "Text(*.a;*.b)|*.a;*.b" into Qt's "Text (*.a *.b)" filter list.
QStringList ToQtFilters(const QString& filter);

class CommonDialog {
public:
    explicit CommonDialog(QWidget* owner = nullptr)
        : owner_(owner) {}

    bool CancelError = false;
    QString Filter;
    QString FileName;
    int Flags = 0;
    int FilterIndex = 1;
    QString InitDir;

    // 0 when a file was chosen; CdlCancel when the user cancelled and CancelError is set.
    int ShowOpen();
    int ShowSave();

private:
    int show(FileDialogKind kind);
    QWidget* owner_;
};

} // namespace platform
