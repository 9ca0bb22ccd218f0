// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/conversion/RendererSettings.h"

#include "components/synthesis/Synthesizer.h"
#include "platform/Files.h"

#include <QFile>
#include <QFileInfo>

namespace quillory::conversion {

namespace {

QString pathText(const QString& path) {
    return path;
}

LoudnessChoice loudnessOf(const QString& text) {
    return LoudnessChoice::parse(text.toStdString()).value_or(LoudnessChoice{});
}

QString loudnessText(const LoudnessChoice& loudness) {
    return QString::fromStdString(loudness.text());
}

} // namespace

constinit const SettingsKey<QString> SoundFontKey{{"Renderer", "SoundFont"}, &pathText, &pathText};
constinit const SettingsKey<LoudnessChoice> LoudnessKey{
    {"Renderer", "Loudness"}, &loudnessOf, &loudnessText};

QString ReadSoundFontPath(const QString& settingsFile) {
    return ReadKey(SoundFontKey, settingsFile);
}

bool WriteSoundFontPath(const QString& soundFont, const QString& settingsFile) {
    return WriteKey(SoundFontKey, soundFont, settingsFile);
}

LoudnessChoice ReadLoudness(const QString& settingsFile) {
    return ReadKey(LoudnessKey, settingsFile);
}

bool WriteLoudness(const LoudnessChoice& loudness, const QString& settingsFile) {
    return WriteKey(LoudnessKey, loudness, settingsFile);
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

} // namespace quillory::conversion
