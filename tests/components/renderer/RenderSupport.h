// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What the renderer's render tests share: the small test SoundFont, temporary paths, and
// short songs made with the MIDI writer.
#pragma once

#include "components/midi/MidiFile.h"
#include "tests/support/MidiWriter.h"

#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace rendertest {

inline const std::filesystem::path kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
// Real songs nobody here wrote: Debian's planetblupi-music-midi.
inline const std::filesystem::path kRealSongs = "/usr/share/planetblupi/music";

// The last `seconds` of a song as a song of its own, a tick to the millisecond: the events
// before them that are not notes set the channels up at its start.
inline midiwriter::Bytes lastSecondsOf(const quillory::renderer::MidiFile& song, double seconds) {
    const double perSecond = double(song.unitsPerSecond());
    const double end = double(song.endTime()) / perSecond;
    const double from = std::max(0.0, end - seconds);
    midiwriter::Track track;
    track.tempo(0, 1000000);
    std::uint32_t at = 0;
    const auto delta = [&](double time) {
        const auto tick = std::uint32_t(std::llround(std::max(0.0, time - from) * 1000));
        const std::uint32_t wait = tick > at ? tick - at : 0;
        at = std::max(at, tick);
        return wait;
    };
    quillory::renderer::MidiFile::Cursor cursor(song);
    for (quillory::renderer::MidiEvent e; cursor.next(e);) {
        const double time = double(e.time) / perSecond;
        const int kind = e.status & 0xF0;
        if (e.status == 0xFF || e.status == 0xF7 || (time < from && (kind == 0x80 || kind == 0x90)))
            continue;
        const std::uint32_t wait = delta(time);
        if (e.status == 0xF0)
            track.sysex(wait, midiwriter::Bytes(e.payload.begin(), e.payload.end()));
        else if (kind == 0xC0 || kind == 0xD0)
            track.channel(wait, e.status, e.data1);
        else
            track.channel(wait, e.status, e.data1, e.data2);
    }
    track.endOfTrack(delta(end));
    return midiwriter::file(0, 1000, {track});
}

class TempFolder {
public:
    std::filesystem::path path() const { return dir_.path().toStdString(); }
    std::filesystem::path operator/(const std::string& name) const { return path() / name; }
    QString qpath(const std::string& name) const {
        return QString::fromStdString((path() / name).string());
    }

private:
    QTemporaryDir dir_;
};

// While it lives, writes past `bytes` in any file fail with EFBIG, as they would on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved_;
        small.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*oldHandler_)(int) = nullptr;
};

// A quarter of a second of silence, then a chord across two tracks through a tempo change, over
// at exactly 1000 ms: 480 ticks at 0.5 s per quarter, then 480 at 0.25 and 240 at 0.5 again.
inline midiwriter::Bytes chordSong() {
    midiwriter::Track tempo;
    tempo.tempo(0, 500000).tempo(480, 250000).tempo(480, 500000).endOfTrack(240);
    midiwriter::Track notes(true);
    notes.program(0, 0, 0).noteOn(240, 0, 60, 110).noteOn(0, 0, 64, 110).noteOn(0, 0, 67, 110);
    notes.noteOff(480, 0, 60).noteOff(0, 0, 64).noteOff(0, 0, 67).endOfTrack(240);
    midiwriter::Track bass;
    bass.program(0, 1, 33).noteOn(240, 1, 40, 120).noteOff(600, 1, 40).endOfTrack();
    return midiwriter::file(1, 480, {tempo, notes, bass});
}

// A plain song of the given length in seconds: a note per beat at 60 bpm.
inline midiwriter::Bytes steadySong(int seconds) {
    midiwriter::Track track;
    track.tempo(0, 1000000);
    for (int beat = 0; beat < seconds; ++beat)
        track.noteOn(beat ? 10 : 0, 0, 60 + beat % 12).noteOff(90, 0, 60 + beat % 12);
    track.endOfTrack(10);
    return midiwriter::file(0, 100, {track});
}

// Three songs of very different levels, at 96 ticks a quarter and 120 bpm, 6 s each.
// A piano melody, one note at a time: with TimGM6mb about -38 LUFS.
inline midiwriter::Track quietPianoTrack() {
    midiwriter::Track track;
    track.program(0, 0, 0).controller(0, 0, 7, 127);
    const int melody[] = {60, 62, 64, 65, 67, 65, 64, 62, 60, 64, 67, 72};
    for (int key : melody)
        track.noteOn(0, 0, key, 100).noteOff(96, 0, key);
    return track.endOfTrack(96);
}
inline midiwriter::Bytes quietPianoLine() {
    return midiwriter::file(0, 96, {quietPianoTrack()});
}

// Sixteen channels of full-velocity chords at full channel volume, far beyond full scale at a
// synth gain of 1.
inline midiwriter::Bytes denseTutti() {
    static const int programs[] = {0, 4, 24, 32, 40, 48, 56, 61, 65, 0, 73, 80, 88, 11, 19, 26};
    std::vector<midiwriter::Track> tracks;
    for (int ch = 0; ch < 16; ++ch) {
        midiwriter::Track track;
        track.program(0, ch, programs[ch]).controller(0, ch, 7, 127);
        const int root = ch == 9 ? 36 : 48 + 12 * (ch % 3);
        for (int bar = 0; bar < 6; ++bar) {
            for (int step = 0; step < 4; ++step)
                track.noteOn(0, ch, root + step, 127)
                    .noteOn(0, ch, root + step + 4, 127)
                    .noteOn(0, ch, root + step + 7, 127)
                    .noteOff(96, ch, root + step)
                    .noteOff(0, ch, root + step + 4)
                    .noteOff(0, ch, root + step + 7);
        }
        tracks.push_back(track.endOfTrack());
    }
    return midiwriter::file(1, 96, tracks);
}

// A few hard drum hits far apart: loud peaks in a song that is quiet on the whole.
inline midiwriter::Bytes sparseDrumHits() {
    midiwriter::Track track;
    track.controller(0, 9, 7, 127);
    for (int key : {38, 49, 38, 57})
        track.noteOn(0, 9, key, 127).noteOff(24, 9, key).noteOn(168, 9, 42, 20).noteOff(0, 9, 42);
    return midiwriter::file(0, 96, {track.endOfTrack(96)});
}

// A faint pad at a low channel volume, around -60 dBFS: much further than 24 dB below the
// target.
inline midiwriter::Bytes nearSilentSong() {
    midiwriter::Track track;
    track.program(0, 0, 89).controller(0, 0, 7, 40);
    for (int key : {48, 55, 52, 57, 53, 50})
        track.noteOn(0, 0, key, 40).noteOff(192, 0, key);
    return midiwriter::file(0, 96, {track.endOfTrack()});
}

// The threads of this process now, from /proc.
inline int threadCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

// The names of this process's threads now, sorted, from /proc, leaving out those that flush a
// file already in place to the disk: a busy disk keeps them for as long as it likes.
inline std::string workingThreads() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string name;
        std::getline(std::ifstream(entry.path() / "comm"), name);
        if (name != "quillory-flush")
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::string joined;
    for (const std::string& name : names)
        joined += name + ' ';
    return joined;
}

} // namespace rendertest
