// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Where each kind of file dialog last chose a file, so that it opens there the next time, also
// after a restart, as a common file dialog with no initial folder does on its home platform.
// Kept in the per-user state file $XDG_STATE_HOME/quillory/state.ini (normally
// ~/.local/state/quillory/state.ini): options.ini holds the settings and nothing else.
#pragma once

#include <QString>

enum class DialogFolder {
    Midi,   // the main window's Open dialog
    Target, // the main window's Save dialog
    Tool,   // the WAV-to-MP3 tool's two dialogs
};

QString StateFilePath();
// The folder, while it still exists; otherwise empty, and the dialog opens where it would.
QString RememberedFolder(DialogFolder kind);
// Keeps the folder of a file just chosen. A state file that cannot be written is no reason to
// bother the user: the dialog then opens where it would have anyway.
void RememberFolder(DialogFolder kind, const QString& chosenFile);
