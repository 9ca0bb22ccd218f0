// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The temporary work files of this running program: "__qlr_<n>.wav" and "__qlr_<n>.mp3" in
// this instance's own folder inside the private work folder.
#pragma once

#include <QString>

// The folder of the temporary files (this instance's), without a trailing separator.
QString WindowsFolder();
// A full path "__qlr_<n><extension>" that does not exist yet; n counts from 1 on every call.
QString NewTempPath(const QString& extension);
// Deletes every "__qlr_*.wav" and "__qlr_*.mp3" in this instance's folder, silently.
void DeleteTempFiles();
