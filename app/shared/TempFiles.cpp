// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/shared/TempFiles.h"

#include "components/conversion/TempFiles.h"
#include "platform/InstanceFolder.h"

QString WindowsFolder() {
    return platform::InstanceFolder();
}

QString NewTempPath(const QString& extension) {
    return quillory::conversion::NewTempPath(WindowsFolder(), extension);
}

void DeleteTempFiles() {
    quillory::conversion::DeleteTempFiles(WindowsFolder());
}
