// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// One FluidSynth synthesiser with its settings and the SoundFont loaded, owned and freed as one:
// the program's synthesiser and the quiet one that weighs notes before a song is rendered are
// both made here, with the same gain and sample handling, so that what the second measures holds
// for the first. FluidSynth's log goes nowhere but the reason a SoundFont is refused.
#pragma once

#include "components/midi/MidiFile.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

struct _fluid_hashtable_t;
struct _fluid_synth_t;

namespace quillory::renderer {

class SynthError : public std::runtime_error {
public:
    // reason: FluidSynth's own words, when it refused a SoundFont.
    explicit SynthError(const std::string& what, std::string reason = {})
        : std::runtime_error(what)
        , reason_(std::move(reason)) {}
    const std::string& reason() const { return reason_; }

private:
    std::string reason_;
};

// FluidSynth's version, as the library in use reports it.
std::string fluidSynthVersion();

// SoundFonts played as one: a preset is taken from the first that has it, as FluidSynth's own
// stack of loaded SoundFonts does (the last loaded is searched first, so they load in reverse).
using SoundFontStack = std::vector<std::filesystem::path>;

class FluidInstance {
public:
    // FluidSynth's default of 0.2 takes a dense General MIDI tutti (16 channels of loud chords)
    // to within 1 dB of full scale; this keeps it about 3 dB clear.
    static constexpr float kGain = 0.15f;

    FluidInstance() = default;
    // How the samples are loaded: all at once (shared with any other instance through FluidSynth's
    // sample cache), or each preset's when it is first chosen, which a synthesiser that plays a
    // few notes of a few presets can afford.
    enum class Samples { All, OnDemand };

    // Loads the SoundFont; throws SynthError naming it, with FluidSynth's reason, when it cannot.
    // shareable: with FluidSynth's LADSPA host on, idle until a split song shares its reverb and
    // chorus through it (EffectShare), where the host and the plugin are there. midiChannels:
    // 16, or more for channels of one's own beside a song's.
    FluidInstance(const SoundFontStack& soundFonts, int sampleRate, int polyphony = 256,
                  Samples samples = Samples::All, bool shareable = false, int midiChannels = 16);
    FluidInstance(const std::filesystem::path& soundFont, int sampleRate, int polyphony = 256,
                  Samples samples = Samples::All, bool shareable = false, int midiChannels = 16)
        : FluidInstance(SoundFontStack{soundFont}, sampleRate, polyphony, samples, shareable,
                        midiChannels) {}
    ~FluidInstance();
    FluidInstance(FluidInstance&& other) noexcept;
    FluidInstance& operator=(FluidInstance&& other) noexcept;
    FluidInstance(const FluidInstance&) = delete;
    FluidInstance& operator=(const FluidInstance&) = delete;

    _fluid_synth_t* get() const { return synth_; }
    // Brings the synthesiser back to how it was made, so that the next song sounds as it would
    // on a new one: what is left of FluidSynth's last 64-frame block is rendered away (the next
    // song's events then fall on the same frames), every voice stops, every channel's program,
    // bank, controllers, tuning, pitch-bend range and drum or melodic part go back to their
    // start, the tunings a song defined become equal temperament, reverb and chorus get their
    // start settings and lose their tails and their modulation's place.
    void reset();
    // Renders the next frames into left and right; every frame the synthesiser renders goes
    // through here, so that it knows where FluidSynth's blocks fall.
    void write(float* left, float* right, int frames);
    // Reverb and chorus on (as loaded) or off from the next block on.
    void setEffects(bool on);
    // Sends one event to the synthesiser at once: a channel message, or SysEx without its
    // framing; meta events mean nothing to it.
    void play(const MidiEvent& event) const;
    explicit operator bool() const { return synth_ != nullptr; }

private:
    // Reverb and chorus as the synthesiser was made with them.
    struct Effects {
        double roomSize = 0, damp = 0, width = 0, reverbLevel = 0;
        int chorusVoices = 0, chorusType = 0;
        double chorusLevel = 0, chorusSpeed = 0, chorusDepth = 0;
    };
    void release();
    void keepEffects();
    void countChorusBlocks();
    void alignChorusLine();
    void renderUnheard(std::uint64_t frames);
    void quietEveryVoiceSlot();

    _fluid_hashtable_t* settings_ = nullptr;
    _fluid_synth_t* synth_ = nullptr;
    Effects effects_;
    double sampleRate_ = 0;
    // FluidSynth's chorus writes each block into a delay line of kChorusLineFrames whose write
    // position no reset, setting or rate change brings back, and reads it at a place computed in
    // floating point from that position: so the same song rounds differently with the line
    // elsewhere. Counted here since the synthesiser was made: the frames rendered and the
    // blocks the chorus ran.
    struct ChorusCount {
        std::uint64_t framesWritten = 0;
        std::uint64_t chorusBlocks = 0;
        std::uint64_t blocksCounted = 0;
        bool chorusOn = true;
        // Where a new synthesiser's line is when its first reset lets the effects run again.
        std::optional<std::uint64_t> chorusStart;
    };
    ChorusCount count_;
};

} // namespace quillory::renderer
