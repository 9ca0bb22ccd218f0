// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The tags of whatever is made from a song, WAV, MP3 or any other format alike.
#pragma once

#include "components/midi/MidiFile.h"
#include "components/midi/TagText.h"

namespace quillory::renderer {

// The song's title (or else the file's base name), its copyright notice, and this program as the
// software.
tags::TextTags songTags(const MidiFile& song);

} // namespace quillory::renderer
