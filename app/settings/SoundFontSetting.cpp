// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/settings/SoundFontSetting.h"

#include "app/settings/Settings.h"
#include "components/synthesis/Synthesizer.h"
#include "platform/Files.h"

#include <QFile>
#include <QFileInfo>

namespace {

const QString Section = QStringLiteral("Renderer");
const QString Key = QStringLiteral("SoundFont");

struct RememberedChoice {
    bool known = false;
    QString soundFont;
};

RememberedChoice& remembered() {
    static RememberedChoice choice;
    return choice;
}

} // namespace

QString ReadSoundFontPath(const QString& settingsFile) {
    return ReadIniValue(Section, Key, QString(), settingsFile);
}

bool WriteSoundFontPath(const QString& soundFont, const QString& settingsFile) {
    // Removing a key that is not there must not create a settings file.
    if (soundFont.isEmpty() && ReadSoundFontPath(settingsFile).isEmpty())
        return true;
    return WriteIniValue(Section, Key, soundFont, settingsFile) != 0;
}

void LoadSoundFontPath() {
    remembered() = {true, ReadSoundFontPath(SettingsReadPath())};
}

QString SoundFontPath() {
    if (!remembered().known)
        LoadSoundFontPath();
    return remembered().soundFont;
}

bool SetSoundFontPath(const QString& soundFont) {
    remembered() = {true, soundFont};
    // Asked of the file the choice was read from: clearing a choice that only a shipped file
    // holds must still be saved, or the next start would bring it back.
    if (soundFont.isEmpty() && ReadSoundFontPath(SettingsReadPath()).isEmpty())
        return true;
    return WriteSoundFontPath(soundFont, SettingsWritePath());
}

QString SoundFontProblem(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("The file does not exist.");
    if (!info.isFile())
        return QStringLiteral("This is a folder, not a file.");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("The file cannot be read.");
    const QByteArray header = file.read(12);
    if (header.size() < 12 || !header.startsWith("RIFF") || header.mid(8, 4) != "sfbk")
        return QStringLiteral("The file is not a SoundFont (.sf2 or .sf3).");
    return QString();
}

QString SoundFontLoadProblem(const QString& path) {
    if (QString problem = SoundFontProblem(path); !problem.isEmpty())
        return problem;
    const std::string why = quillory::renderer::Synthesizer::loadProblem(platform::ToFsPath(path));
    if (why.empty())
        return QString();
    return QStringLiteral("FluidSynth cannot load it: ") + QString::fromStdString(why) +
           QLatin1Char('.');
}
