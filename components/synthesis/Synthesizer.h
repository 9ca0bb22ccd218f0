// The FluidSynth synthesizer behind the renderer: loads a SoundFont once, plays MIDI events and
// renders float stereo blocks. Not thread-safe: one render uses it at a time.
#pragma once

#include "components/midi/MidiFile.h"

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <unordered_map>

struct _fluid_hashtable_t;
struct _fluid_synth_t;

namespace quillory::renderer {

class SynthError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Synthesizer {
public:
    // FluidSynth's default of 0.2 takes a dense General MIDI tutti (16 channels of loud chords)
    // to within 1 dB of full scale; this keeps it about 3 dB clear.
    static constexpr float kGain = 0.15f;
    static constexpr int kMinRate = 8000;
    static constexpr int kMaxRate = 96000;

    // Loads the SoundFont; throws SynthError when it is missing or not a usable SoundFont.
    explicit Synthesizer(const std::filesystem::path& soundFont, int sampleRate = 44100);
    ~Synthesizer();
    Synthesizer(const Synthesizer&) = delete;
    Synthesizer& operator=(const Synthesizer&) = delete;

    // Throws SynthError naming the rate when it is outside kMinRate to kMaxRate.
    static void checkRate(int sampleRate);

    const std::filesystem::path& soundFont() const { return soundFont_; }
    int sampleRate() const { return sampleRate_; }

    // Readies the synth for a new song at the given rate. A synth that has played anything is
    // built anew, so nothing of the last song carries over: FluidSynth's reset lets sounding
    // voices ring on, keeps part of its last block, and leaves the effects' modulation where it
    // was. The new synth shares the loaded samples with the old one through FluidSynth's cache.
    void prepare(int sampleRate);
    void play(const MidiEvent& event);
    void render(float* left, float* right, int frames);
    bool voicesSounding() const;
    // What a note-on starts: how many voices, and the SoundFont's exclusive class of any of them
    // (0 for none): a note of a class silences the channel's sounding notes of the same class,
    // as a closed hi-hat chokes an open one.
    struct NoteCost {
        int voices = 0;
        int exclusiveClass = 0;
    };
    // Follows a song's events without sounding them, to weigh its channels before it is rendered:
    // keeps every event's channel state and returns what a note-on starts (nothing for any other
    // event). Costs are remembered per channel, preset, key and velocity. The synth counts as
    // played, so the next prepare() builds it anew.
    NoteCost weigh(const MidiEvent& event);
    int voicesStarted(const MidiEvent& event) { return weigh(event).voices; }

private:
    struct Instance {
        _fluid_hashtable_t* settings = nullptr;
        _fluid_synth_t* synth = nullptr;
    };
    Instance create(int sampleRate) const;
    static void destroy(Instance& instance);

    std::filesystem::path soundFont_;
    int sampleRate_ = 0;
    Instance instance_;
    bool played_ = false;
    // Everything that decides which voices a note starts, each field whole: FluidSynth banks run
    // to 16383 and SoundFont ids are counted up, so no packing of them into fewer bits is safe.
    struct NoteKey {
        int font, bank, program, channel, key, velocity;
        bool operator==(const NoteKey&) const = default;
    };
    struct NoteKeyHash {
        std::size_t operator()(const NoteKey& k) const;
    };
    std::unordered_map<NoteKey, NoteCost, NoteKeyHash> costPerNote_;
};

} // namespace quillory::renderer
