// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// How loud MIDI renders come out: options.ini, section "Renderer", key "Loudness", holds a target
// in LUFS from -30 to -5 (a plain number such as -16) or "Off" for the synthesiser's fixed gain.
// A missing or unreadable value means -16, so a hand-edited file can never turn levelling off by
// mistake. The program keeps the choice in memory once read, like the other settings; the batch
// converter reads the key straight from whichever settings file it was given.
#pragma once

#include "components/levelling/LoudnessChoice.h"

#include <QString>

using quillory::renderer::LoudnessChoice;

// The key as it stands in settingsFile; the default (-16) when it is missing or no valid value.
LoudnessChoice ReadLoudness(const QString& settingsFile);
// Stores the choice under the key ("-16", "Off"). Other keys and sections stay as they are.
// False when the file could not be written.
bool WriteLoudness(const LoudnessChoice& loudness, const QString& settingsFile);

// Reads the program's choice from SettingsReadPath(); start-up does this after LoadSettings.
void LoadLoudness();
// The program's choice, read the first time if nothing loaded it yet.
LoudnessChoice Loudness();
// Makes the choice the program's and stores it in SettingsWritePath(). The choice holds for the
// rest of the run even when the file could not be written (the result is then false).
bool SetLoudness(const LoudnessChoice& loudness);
