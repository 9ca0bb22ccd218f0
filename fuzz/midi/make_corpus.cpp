// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Writes the MIDI fuzzer's seed corpus: small valid files of every format, division and event
// kind, and a few broken ones, so the fuzzer starts from files that reach deep into the reader.
#include "tests/support/MidiWriter.h"

#include <cstdio>
#include <string>

using midiwriter::Track;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: midi_make_corpus FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    const auto put = [&](const std::string& name, const midiwriter::Bytes& bytes) {
        midiwriter::save(folder / (name + ".mid"), bytes);
    };
    Track melody(true);
    melody.program(0, 0, 5)
        .controller(0, 0, 7, 100)
        .noteOn(0, 0, 60)
        .noteOn(0, 0, 64)
        .noteOff(96, 0, 60)
        .noteOff(0, 0, 64)
        .channel(0, 0xE0, 0, 64)
        .channel(4, 0xD0, 30)
        .channel(0, 0xA0, 60, 20)
        .endOfTrack(10);
    Track conductor;
    conductor.tempo(0, 400000)
        .meta(0, 0x58, {4, 2, 24, 8})
        .meta(0, 0x03, {'s', 'e', 'e', 'd'})
        .tempo(192, 700000)
        .endOfTrack(96);
    Track sysex;
    sysex.sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
        .raw({0x00, 0xF7, 0x02, 0x43, 0xF7})
        .noteOn(5, 9, 36)
        .noteOff(5, 9, 36)
        .endOfTrack();
    put("format0", midiwriter::file(0, 96, {melody}));
    put("format1", midiwriter::file(1, 480, {conductor, melody, sysex}));
    put("format2", midiwriter::file(2, 96, {conductor, melody}));
    put("smpte25", midiwriter::file(0, 0xE728, {melody}));
    put("smpte2997", midiwriter::file(1, 0xE350, {conductor, sysex}));
    put("no_end_of_track", midiwriter::file(0, 96, {Track().noteOn(0, 0, 60).noteOff(10, 0, 60)}));
    midiwriter::Bytes extra = midiwriter::header(1, 2, 96);
    midiwriter::appendChunk(extra, "XTRA", {1, 2, 3, 4});
    midiwriter::appendChunk(extra, "MTrk", melody.bytes());
    midiwriter::appendChunk(extra, "MTrk", sysex.bytes());
    put("unknown_chunk", extra);
    put("running_status_gap", midiwriter::file(0, 96, {Track().raw({0x00, 0x3C, 0x40})}));
    put("long_varlen",
        midiwriter::file(0, 96, {Track().raw({0x8F, 0xFF, 0xFF, 0x7F, 0x90, 60, 1})}));
    put("tempo_zero", midiwriter::file(0, 96, {Track().tempo(0, 0)}));
    Track named;
    named.meta(0, 0x03, {'C', 'a', 'f', 0xE9, '\t', 'N', 0x00, 'x'})
        .meta(0, 0x02, {0xC2, 0xA9, ' ', '1', '9', '9', '9'})
        .noteOn(0, 0, 60)
        .noteOff(96, 0, 60)
        .endOfTrack();
    put("names", midiwriter::file(0, 96, {named}));
    put("rmid", midiwriter::rmid(midiwriter::file(1, 480, {conductor, melody})));
    // A name that claims more bytes than its track holds.
    put("name_cut_short",
        midiwriter::file(1, 96, {Track().raw({0x00, 0xFF, 0x03, 0x7F, 'a', 'b'}), melody}));
    midiwriter::Bytes binary(600);
    for (std::size_t i = 0; i < binary.size(); ++i)
        binary[i] = std::uint8_t(i * 37);
    put("name_binary", midiwriter::file(0, 96, {Track().meta(0, 0x03, binary).endOfTrack()}));
    return 0;
}
