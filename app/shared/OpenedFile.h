// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Files handed to the program from outside its dialogs: named on the command line, dropped on a
// window, or opened with Quillory from a file manager. Their type, told by the shared MIME
// database from name and content, says which window takes them.
#pragma once

#include <QString>
#include <QStringList>

class QMimeData;

enum class FileKind { Midi, Wav, Missing, Other };

FileKind KindOfFile(const QString& path);

// The local files of a drag, in their order; a drag that carries anything else (text, a web
// address) gives none.
QStringList DraggedFiles(const QMimeData& data);

// The message for a file that is not there, or not of a type the window takes.
QString MissingFileMessage(const QString& path);
QString UnusableFileMessage(const QString& path, const QString& wanted);
// Said when several files were dropped and only the first was taken.
QString FirstOfSeveralMessage(qsizetype count, const QString& taken);
