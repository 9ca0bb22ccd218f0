// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The FluidSynth synthesizer behind the renderer: loads a SoundFont once, plays MIDI events and
// renders float stereo blocks. Not thread-safe: one render uses it at a time.
#pragma once

#include "components/midi/MidiFile.h"
#include "components/synthesis/EffectShare.h"
#include "components/synthesis/FluidInstance.h"
#include "components/synthesis/NoteLog.h"
#include "components/synthesis/NoteProbe.h"

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace quillory::renderer {

class Synthesizer {
public:
    static constexpr float kGain = FluidInstance::kGain;
    static constexpr int kMinRate = 8000;
    static constexpr int kMaxRate = 96000;

    // Loads the SoundFonts (see SoundFontStack); throws SynthError when one is missing or not a
    // usable SoundFont.
    explicit Synthesizer(SoundFontStack soundFonts, int sampleRate = 44100);
    explicit Synthesizer(const std::filesystem::path& soundFont, int sampleRate = 44100)
        : Synthesizer(SoundFontStack{soundFont}, sampleRate) {}
    ~Synthesizer();
    Synthesizer(const Synthesizer&) = delete;
    Synthesizer& operator=(const Synthesizer&) = delete;

    // Throws SynthError naming the rate when it is outside kMinRate to kMaxRate.
    static void checkRate(int sampleRate);
    // Why FluidSynth's loader refuses the SoundFont, in its own words ("SoundFont file size
    // mismatch"), or empty when it loads. It is loaded whole, as a render loads it: a second or
    // more for a large SoundFont, so a window asks from a worker thread.
    static std::string loadProblem(const std::filesystem::path& soundFont);

    // The first SoundFont, and all of them.
    const std::filesystem::path& soundFont() const { return soundFonts_.front(); }
    const SoundFontStack& soundFonts() const { return soundFonts_; }
    int sampleRate() const { return sampleRate_; }

    // Readies the synth for a new song at the given rate: it is reset fully (FluidInstance::reset),
    // a new one too, so that nothing of an earlier song carries over, a song sounds the same
    // whatever played before, and the SoundFont stays loaded; one asked for another rate is built
    // anew at that rate, sharing the loaded samples with the old one through FluidSynth's cache.
    void prepare(int sampleRate);
    // The further synthesisers a song split over several cores plays on, up to `count`, made at
    // the rate when first asked for and kept with this one for the songs after: a batch worker
    // loads its SoundFont once. Fewer when no more can be made (memory short, the SoundFont
    // gone). Each is readied with prepare() by the song that uses it.
    std::vector<Synthesizer*> spares(unsigned count, int sampleRate);
    // Starts making the spares on a thread of their own, for spares() to take later: a song can
    // weigh its notes meanwhile, and one that is stopped before it needs them does not wait.
    void loadSpares(unsigned count, int sampleRate);
    void play(const MidiEvent& event);
    void render(float* left, float* right, int frames);
    // Writes down every note this song plays into `log` (see NoteLog), after prepare(), which
    // ends it for the next song; nullptr to stop. Rendering then goes block by block.
    void logNotes(NoteLog* log) { log_ = log; }
    // Frames rendered since prepare(): where the song is.
    std::uint64_t position() const { return framesRendered_; }
    // Reverb and chorus on (as loaded) or off, to measure what they cost.
    void setEffects(bool on);
    // For one split song, after prepare(): runs the reverb and chorus for the pool's further
    // synthesisers too (tap < 0), or hands its sends on as the pool's tap `tap` and runs none.
    // False when the effects cannot be shared: they stay as they were.
    bool shareEffects(EffectShare& share, int pool, int tap);
    bool canShareEffects() const;
    bool voicesSounding() const { return activeVoices() > 0; }
    int activeVoices() const;

    using NoteCost = NoteProbe::Cost;
    // Follows a song's events without sounding them, to weigh its notes before it is rendered
    // (see NoteProbe): keeps every event's channel state and returns what a note-on costs
    // (nothing for any other event). The synth itself plays nothing; the probe is made at the
    // first call and kept, and so is what it measured.
    NoteCost weigh(const MidiEvent& event);
    // Starts weighing a new song: its channels as a new song finds them.
    void startWeighing();

private:
    void makeSpares(unsigned count, int sampleRate);
    void awaitSpares(); // joins spareLoader_ if it runs

    SoundFontStack soundFonts_;
    int sampleRate_ = 0;
    FluidInstance instance_;
    std::uint64_t framesRendered_ = 0;
    NoteLog* log_ = nullptr;
    std::vector<std::unique_ptr<Synthesizer>> spares_;
    std::thread spareLoader_; // adds to spares_ until joined
    std::unique_ptr<NoteProbe> probe_;
};

} // namespace quillory::renderer
