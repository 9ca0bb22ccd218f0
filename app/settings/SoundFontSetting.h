// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The SoundFont the renderer plays MIDI with: options.ini, section "Renderer", key "SoundFont".
// An empty path means no choice, so the renderer's own search for a General MIDI SoundFont
// applies. The program keeps the choice in memory once read, like the other settings; the batch
// converter reads the key straight from whichever settings file it was given.
#pragma once

#include <QString>

// The key as it stands in settingsFile; empty when the file, the section or the key is missing.
QString ReadSoundFontPath(const QString& settingsFile);
// Stores soundFont under the key, or removes the key for an empty path. Other keys and
// sections stay as they are. False when the file could not be written.
bool WriteSoundFontPath(const QString& soundFont, const QString& settingsFile);

// Reads the program's choice from SettingsReadPath(); start-up does this after LoadSettings.
void LoadSoundFontPath();
// The program's choice, read the first time if nothing loaded it yet.
QString SoundFontPath();
// Makes soundFont the program's choice and stores it in SettingsWritePath(). The choice holds
// for the rest of the run even when the file could not be written (the result is then false).
bool SetSoundFontPath(const QString& soundFont);

// Empty when the file at path is a SoundFont (a RIFF file of form "sfbk", as .sf2 and .sf3
// files are); otherwise a sentence saying what is wrong with it.
QString SoundFontProblem(const QString& path);
// The same, and then the file is loaded as a render loads it, which reads all of it: a damaged
// SoundFont often has a sound header. Takes a second or more for a large SoundFont.
QString SoundFontLoadProblem(const QString& path);
