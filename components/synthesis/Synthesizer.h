// The FluidSynth synthesizer behind the renderer: loads a SoundFont once, plays MIDI events and
// renders float stereo blocks. Not thread-safe: one render uses it at a time.
#pragma once

#include "components/midi/MidiFile.h"
#include "components/synthesis/FluidInstance.h"
#include "components/synthesis/NoteProbe.h"

#include <filesystem>
#include <memory>
#include <string>

namespace quillory::renderer {

class Synthesizer {
public:
    static constexpr float kGain = FluidInstance::kGain;
    static constexpr int kMinRate = 8000;
    static constexpr int kMaxRate = 96000;

    // Loads the SoundFont; throws SynthError when it is missing or not a usable SoundFont.
    explicit Synthesizer(const std::filesystem::path& soundFont, int sampleRate = 44100);
    ~Synthesizer();
    Synthesizer(const Synthesizer&) = delete;
    Synthesizer& operator=(const Synthesizer&) = delete;

    // Throws SynthError naming the rate when it is outside kMinRate to kMaxRate.
    static void checkRate(int sampleRate);
    // Why FluidSynth's loader refuses the SoundFont, in its own words ("SoundFont file size
    // mismatch"), or empty when it loads. It is loaded whole, as a render loads it: a second or
    // more for a large SoundFont, so a window asks from a worker thread.
    static std::string loadProblem(const std::filesystem::path& soundFont);

    const std::filesystem::path& soundFont() const { return soundFont_; }
    int sampleRate() const { return sampleRate_; }

    // Readies the synth for a new song at the given rate. A synth that has played anything is
    // built anew, so nothing of the last song carries over: FluidSynth's reset lets sounding
    // voices ring on, keeps part of its last block, and leaves the effects' modulation where it
    // was. The new synth shares the loaded samples with the old one through FluidSynth's cache.
    void prepare(int sampleRate);
    void play(const MidiEvent& event);
    void render(float* left, float* right, int frames);
    // Reverb and chorus on (as loaded) or off, to measure what they cost.
    void setEffects(bool on);
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
    std::filesystem::path soundFont_;
    int sampleRate_ = 0;
    FluidInstance instance_;
    bool played_ = false;
    std::unique_ptr<NoteProbe> probe_;
};

} // namespace quillory::renderer
