// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Where the renderer looks for a General MIDI SoundFont when none is named: a SoundFont shipped
// beside the program wins, then the system's default General MIDI SoundFont, then any other
// SoundFont installed beside it.
#pragma once

#include <filesystem>

namespace quillory::renderer {

inline const std::filesystem::path kSystemSoundFontFolder = "/usr/share/sounds/sf2";

// An empty path when there is none.
std::filesystem::path
findSoundFont(const std::filesystem::path& programFolder,
              const std::filesystem::path& systemFolder = kSystemSoundFontFolder);

} // namespace quillory::renderer
