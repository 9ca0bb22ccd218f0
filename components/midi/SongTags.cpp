// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/midi/SongTags.h"

#include <filesystem>
#include <string>

namespace quillory::renderer {

tags::TextTags songTags(const MidiFile& song) {
    tags::TextTags tags;
    tags.title = song.title().empty()
                     ? tags::cleanTagText(std::filesystem::path(song.name()).stem().string())
                     : song.title();
    tags.copyright = song.copyright();
    tags.software = std::string(tags::kSoftware);
    return tags;
}

} // namespace quillory::renderer
