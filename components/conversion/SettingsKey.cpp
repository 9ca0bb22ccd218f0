// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/conversion/SettingsKey.h"

#include "components/conversion/IniValue.h"

namespace quillory::conversion {

QString ReadKeyText(const SettingsKeyName& key, const QString& file) {
    return ReadIniValue(QString::fromLatin1(key.section), QString::fromLatin1(key.name), QString(),
                        file);
}

bool WriteKeyText(const SettingsKeyName& key, const QString& text, const QString& file) {
    if (text.isEmpty() && ReadKeyText(key, file).isEmpty())
        return true;
    return WriteIniValue(QString::fromLatin1(key.section), QString::fromLatin1(key.name), text,
                         file) != 0;
}

} // namespace quillory::conversion
