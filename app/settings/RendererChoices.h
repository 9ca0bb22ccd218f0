// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The renderer's SoundFont and loudness as the program holds them: read once from the settings
// file in use, like the other settings, and kept for the run; a change is kept and saved.
#pragma once

#include "components/conversion/RendererSettings.h"

#include <QString>

using quillory::conversion::LoudnessChoice;
using quillory::conversion::ReadLoudness;
using quillory::conversion::ReadSoundFontPath;
using quillory::conversion::SoundFontLoadProblem;
using quillory::conversion::SoundFontProblem;
using quillory::conversion::WriteLoudness;
using quillory::conversion::WriteSoundFontPath;

// Read the program's choice from SettingsReadPath(); start-up does this after LoadSettings.
void LoadSoundFontPath();
void LoadLoudness();
// The program's choice, read the first time if nothing loaded it yet. An empty SoundFont path
// means the renderer's own search.
QString SoundFontPath();
LoudnessChoice Loudness();
// Make the choice the program's and store it in SettingsWritePath(). The choice holds for the
// rest of the run even when the file could not be written (the result is then false).
bool SetSoundFontPath(const QString& soundFont);
bool SetLoudness(const LoudnessChoice& loudness);
