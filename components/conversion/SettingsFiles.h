// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Where options.ini is read from and saved to: beside the program while it can be written
// there, otherwise in the user's configuration folder with the program's own file as the
// shipped starting point. The window and quillory-convert decide it alike, so both read the
// same file.
#pragma once

#include <QString>

namespace quillory::conversion {

// Which files hold the settings. Saves go to `saved`. A `shipped` file is read in its place
// while `saved` does not exist: an administrator's options.ini beside an installed program, or
// a read-only one. The first save starts `saved` as a byte-for-byte copy of it, so none of its
// other keys and sections are lost, and from then on `saved` alone counts.
struct SettingsFiles {
    QString saved;
    QString shipped; // empty when there is none; when set, `saved` is in the user's folder

    // The file that reads see now.
    QString toRead() const;
    // `saved`, first made from `shipped` when it does not exist yet, its folder created.
    QString toWrite() const;

    bool operator==(const SettingsFiles&) const = default;
};

// For a program in programFolder: options.ini beside the program while it can be written
// there (a build tree); otherwise options.ini in the user's configuration folder, with the one
// beside the program as the shipped file.
SettingsFiles SettingsFilesFor(const QString& programFolder);

} // namespace quillory::conversion
