// What the renderer's render tests share: the small test SoundFont, temporary paths, and
// short songs made with the MIDI writer.
#pragma once

#include "tests/support/MidiWriter.h"

#include <QTemporaryDir>

#include <csignal>
#include <filesystem>
#include <string>
#include <sys/resource.h>

namespace rendertest {

inline const std::filesystem::path kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

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

} // namespace rendertest
