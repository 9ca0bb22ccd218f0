// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/settings/LoudnessSetting.h"

#include "app/settings/Settings.h"

namespace {

const QString Section = QStringLiteral("Renderer");
const QString Key = QStringLiteral("Loudness");

struct RememberedChoice {
    bool known = false;
    LoudnessChoice loudness;
};

RememberedChoice& remembered() {
    static RememberedChoice choice;
    return choice;
}

} // namespace

LoudnessChoice ReadLoudness(const QString& settingsFile) {
    const QString text = ReadIniValue(Section, Key, QString(), settingsFile);
    return LoudnessChoice::parse(text.toStdString()).value_or(LoudnessChoice{});
}

bool WriteLoudness(const LoudnessChoice& loudness, const QString& settingsFile) {
    return WriteIniValue(Section, Key, QString::fromStdString(loudness.text()), settingsFile) != 0;
}

void LoadLoudness() {
    remembered() = {true, ReadLoudness(SettingsReadPath())};
}

LoudnessChoice Loudness() {
    if (!remembered().known)
        LoadLoudness();
    return remembered().loudness;
}

bool SetLoudness(const LoudnessChoice& loudness) {
    remembered() = {true, loudness};
    return WriteLoudness(loudness, SettingsWritePath());
}
