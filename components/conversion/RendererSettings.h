// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The renderer's two keys in options.ini's "Renderer" section, as the window and the batch
// converter both read them, and the check of a chosen SoundFont.
//
// "SoundFont": the SoundFont the renderer plays MIDI with. An empty path means no choice, so the
// renderer's own search for a General MIDI SoundFont applies.
// "Loudness": how loud MIDI renders come out, a target in LUFS from -30 to -5 (a plain number
// such as -16) or "Off" for the synthesiser's fixed gain. A missing or unreadable value means
// -16, so a hand-edited file can never turn levelling off by mistake.
#pragma once

#include "components/conversion/SettingsKey.h"
#include "components/levelling/LoudnessChoice.h"

#include <QString>

namespace quillory::conversion {

using quillory::renderer::LoudnessChoice;

extern const SettingsKey<QString> SoundFontKey;
extern const SettingsKey<LoudnessChoice> LoudnessKey;

// The key as it stands in settingsFile; empty when the file, the section or the key is missing.
QString ReadSoundFontPath(const QString& settingsFile);
// Stores soundFont under the key, or removes the key for an empty path. Other keys and
// sections stay as they are. False when the file could not be written.
bool WriteSoundFontPath(const QString& soundFont, const QString& settingsFile);

// The key as it stands in settingsFile; the default (-16) when it is missing or no valid value.
LoudnessChoice ReadLoudness(const QString& settingsFile);
// Stores the choice under the key ("-16", "Off"). Other keys and sections stay as they are.
// False when the file could not be written.
bool WriteLoudness(const LoudnessChoice& loudness, const QString& settingsFile);

// Empty when the file at path is a SoundFont (a RIFF file of form "sfbk", as .sf2 and .sf3
// files are); otherwise a sentence saying what is wrong with it.
QString SoundFontProblem(const QString& path);
// The same, and then the file is loaded as a render loads it, which reads all of it: a damaged
// SoundFont often has a sound header. Takes a second or more for a large SoundFont.
QString SoundFontLoadProblem(const QString& path);

} // namespace quillory::conversion
