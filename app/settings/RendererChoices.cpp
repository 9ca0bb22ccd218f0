// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/settings/RendererChoices.h"

#include "app/settings/Settings.h"

namespace {

using quillory::conversion::LoudnessKey;
using quillory::conversion::SettingsKey;
using quillory::conversion::SoundFontKey;

// One key's value as the program keeps it for the run.
template <typename Value>
class RememberedChoice {
public:
    explicit RememberedChoice(const SettingsKey<Value>& key)
        : key_(key) {}

    void load() {
        value_ = quillory::conversion::ReadKey(key_, SettingsReadPath());
        known_ = true;
    }
    const Value& value() {
        if (!known_)
            load();
        return value_;
    }
    bool set(const Value& value) {
        value_ = value;
        known_ = true;
        // Asked of the file the choice was read from: clearing a choice that only a shipped
        // file holds must still be saved, or the next start would bring it back.
        if (key_.toText(value).isEmpty() &&
            quillory::conversion::ReadKeyText(key_, SettingsReadPath()).isEmpty())
            return true;
        return quillory::conversion::WriteKey(key_, value, SettingsWritePath());
    }

private:
    const SettingsKey<Value>& key_;
    bool known_ = false;
    Value value_{};
};

RememberedChoice<QString>& rememberedSoundFont() {
    static RememberedChoice<QString> choice(SoundFontKey);
    return choice;
}

RememberedChoice<LoudnessChoice>& rememberedLoudness() {
    static RememberedChoice<LoudnessChoice> choice(LoudnessKey);
    return choice;
}

} // namespace

void LoadSoundFontPath() {
    rememberedSoundFont().load();
}

void LoadLoudness() {
    rememberedLoudness().load();
}

QString SoundFontPath() {
    return rememberedSoundFont().value();
}

LoudnessChoice Loudness() {
    return rememberedLoudness().value();
}

bool SetSoundFontPath(const QString& soundFont) {
    return rememberedSoundFont().set(soundFont);
}

bool SetLoudness(const LoudnessChoice& loudness) {
    return rememberedLoudness().set(loudness);
}
