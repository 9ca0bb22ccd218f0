// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Asking the desktop to open a document or start a program, behind a seam tests replace.
// Windows program names the program asks for ("sndvol32.exe", "IExplore.exe") are mapped to
// the desktop's own mixer and browser. Anything else is a document: it is opened by its type
// with the desktop's application for that type, and never run, whatever its permission bits.
//
// On a free desktop the opener (xdg-open) is a program of its own that learns only after it has
// started whether anything can show the document, so the outcome comes back later, through a
// callback: a window that asked can then say so when nothing opened.
#pragma once

#include <QString>
#include <functional>

class QObject;

namespace platform {

struct ShellRequest {
    QString operation; // "open"
    QString file;
    QString parameters;
    QString directory;
};

// The outcome of a request: empty when something was started, otherwise why nothing was, as a
// phrase to follow "could not be opened: " ("no application on this computer opens it").
using ShellDone = std::function<void(const QString& failure)>;

class Shell {
public:
    virtual ~Shell() = default;
    // Starts what the request asks for and calls done once, on the calling thread: at once when
    // nothing can be started (a document that does not exist, no opener), otherwise when the
    // desktop's opener has answered. An opener that shows the document itself runs on until it
    // is closed; after a few seconds without a failure it counts as a success.
    virtual void execute(const ShellRequest& request, ShellDone done) = 0;
    // True when an application of the desktop shows documents of this file's type. When none
    // does, opening it ends in nothing or in the wrong program (a browser offering it as a
    // download, say).
    virtual bool hasViewerFor(const QString& document) = 0;
};

Shell& CurrentShell();
// Installs a replacement (nullptr restores the real one); the caller keeps ownership.
void SetShell(Shell* shell);

// done is dropped once context is destroyed, so a window that closed hears nothing.
void ShellExecute(const QString& operation, const QString& file, const QString& parameters,
                  const QString& directory, QObject* context, ShellDone done);
bool ShellHasViewerFor(const QString& document);

// How a free desktop says which application opens a MIME type: a desktop entry id
// ("xchm.desktop"), the path of a desktop entry, or empty for none.
using DefaultApplicationQuery = std::function<QString(const QString& mimeType)>;

// The real shell's answer on a free desktop: the document exists, query names an application
// for its type (as the shared MIME database gives it, by name and content), and that
// application's desktop entry is installed, where xdg-open looks for it.
bool XdgHasViewerFor(const QString& document, const DefaultApplicationQuery& query);

// Asks xdg-mime, which answers from the same associations xdg-open opens documents with.
// Empty when xdg-mime is missing, fails or gives no answer.
QString XdgDefaultApplication(const QString& mimeType);

} // namespace platform
