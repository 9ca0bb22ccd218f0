// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// libFuzzer target for the MIDI reader: any bytes must either be refused with MidiError or read
// into a song whose events all come in time order within its length, and whose title and
// copyright are tag-ready: UTF-8, no control characters, at most 250 characters.
#include "components/midi/MidiFile.h"
#include "components/midi/TagText.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using quillory::renderer::MidiError;
using quillory::renderer::MidiEvent;
using quillory::renderer::MidiFile;

namespace {

bool tagReady(const std::string& text) {
    if (!quillory::tags::isValidUtf8(text))
        return false;
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 || b == 0x7F)
            return false;
        // C1 controls, U+0080 to U+009F, are C2 80 to C2 9F.
        if (b == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0)
            return false;
        chars += (b & 0xC0) != 0x80;
    }
    return chars <= quillory::tags::kMaxTagChars;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const MidiFile file =
            MidiFile::parse(std::vector<std::uint8_t>(data, data + size), "fuzz.mid");
        auto cursor = file.events();
        MidiEvent event;
        std::uint64_t last = 0;
        while (cursor.next(event)) {
            if (event.time < last || event.time > file.endTime())
                std::abort();
            last = event.time;
            if (file.frameAt(event.time, 96000) > file.frameAt(file.endTime(), 96000))
                std::abort();
        }
        if (last != file.endTime() || file.lengthMs() > 12 * 3600e3)
            std::abort();
        if (!tagReady(file.title()) || !tagReady(file.copyright()))
            std::abort();
    } catch (const MidiError&) {
    }
    return 0;
}
