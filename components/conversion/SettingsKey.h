// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// One key of a settings file that holds one value of its own, beside the eight output settings:
// where it stands, what its text means and how a value is written. Every such key reads and
// writes through here, so a missing key, an empty value and the rest of the file are treated
// alike for all of them.
#pragma once

#include <QString>

namespace quillory::conversion {

struct SettingsKeyName {
    const char* section;
    const char* name;
};

template <typename Value>
struct SettingsKey : SettingsKeyName {
    // What the key's text means; a key that is missing reads as an empty text.
    Value (*fromText)(const QString& text);
    // The text that stores a value; an empty one removes the key.
    QString (*toText)(const Value& value);
};

// The trimmed text of the key in file; empty when the file, the section or the key is missing.
QString ReadKeyText(const SettingsKeyName& key, const QString& file);
// Stores text under the key, or removes the key for an empty text. Other keys and sections stay
// as they are, and removing a key that is not there leaves the file alone, or absent. False
// when the file could not be written.
bool WriteKeyText(const SettingsKeyName& key, const QString& text, const QString& file);

template <typename Value>
Value ReadKey(const SettingsKey<Value>& key, const QString& file) {
    return key.fromText(ReadKeyText(key, file));
}

template <typename Value>
bool WriteKey(const SettingsKey<Value>& key, const Value& value, const QString& file) {
    return WriteKeyText(key, key.toText(value), file);
}

} // namespace quillory::conversion
