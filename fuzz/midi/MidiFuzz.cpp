// libFuzzer target for the MIDI reader: any bytes must either be refused with MidiError or read
// into a song whose events all come in time order within its length.
#include "components/renderer/MidiFile.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

using quillory::renderer::MidiError;
using quillory::renderer::MidiEvent;
using quillory::renderer::MidiFile;

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
    } catch (const MidiError&) {
    }
    return 0;
}
