// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/synthesis/FluidInstance.h"

#include "components/synthesis/EffectShare.h"

#include <fluidsynth.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace quillory::renderer {

namespace {

// FluidSynth reports through a process-wide log; we keep the first complaint of each thread
// since it was cleared, so that a refused SoundFont can say why, and keep the library quiet on
// stderr. The first is the reason: after it come its other loaders' complaints (Debian's
// FluidSynth also tries the file as DLS) and a bare "Failed to load".
thread_local std::string firstFluidMessage;

void keepFluidMessage(int, const char* message, void*) {
    if (firstFluidMessage.empty() && message)
        firstFluidMessage = message;
}

void installFluidLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_PANIC, keepFluidMessage, nullptr);
        fluid_set_log_function(FLUID_ERR, keepFluidMessage, nullptr);
        fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
        fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
        fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
    });
}

} // namespace

std::string fluidSynthVersion() {
    return fluid_version_str();
}

FluidInstance::FluidInstance(const SoundFontStack& soundFonts, int sampleRate, int polyphony,
                             Samples samples, bool shareable, int midiChannels) {
    installFluidLog();
    settings_ = new_fluid_settings();
    if (!settings_)
        throw SynthError("the synthesizer cannot be created");
    fluid_settings_setnum(settings_, "synth.sample-rate", sampleRate);
    fluid_settings_setnum(settings_, "synth.gain", kGain);
    fluid_settings_setint(settings_, "synth.polyphony", polyphony);
    fluid_settings_setint(settings_, "synth.midi-channels", midiChannels);
    fluid_settings_setint(settings_, "synth.dynamic-sample-loading", samples == Samples::OnDemand);
    // One render drives a synth from one thread, so FluidSynth's own locking is only overhead.
    fluid_settings_setint(settings_, "synth.threadsafe-api", 0);
    if (shareable && EffectShare::available())
        fluid_settings_setint(settings_, "synth.ladspa.active", 1);
    synth_ = new_fluid_synth(settings_);
    if (!synth_) {
        release();
        throw SynthError("the synthesizer cannot be created");
    }
    for (auto font = soundFonts.rbegin(); font != soundFonts.rend(); ++font) {
        firstFluidMessage.clear();
        if (fluid_synth_sfload(synth_, font->string().c_str(), 1) == FLUID_FAILED) {
            release();
            const std::string why =
                firstFluidMessage.empty() ? "FluidSynth gives no reason" : firstFluidMessage;
            throw SynthError("SoundFont " + font->string() + " cannot be loaded (" + why + ")",
                             why);
        }
    }
    sampleRate_ = sampleRate;
    keepEffects();
}

void FluidInstance::keepEffects() {
    Effects& e = effects_;
    fluid_synth_get_reverb_group_roomsize(synth_, 0, &e.roomSize);
    fluid_synth_get_reverb_group_damp(synth_, 0, &e.damp);
    fluid_synth_get_reverb_group_width(synth_, 0, &e.width);
    fluid_synth_get_reverb_group_level(synth_, 0, &e.reverbLevel);
    fluid_synth_get_chorus_group_nr(synth_, 0, &e.chorusVoices);
    fluid_synth_get_chorus_group_type(synth_, 0, &e.chorusType);
    fluid_synth_get_chorus_group_level(synth_, 0, &e.chorusLevel);
    fluid_synth_get_chorus_group_speed(synth_, 0, &e.chorusSpeed);
    fluid_synth_get_chorus_group_depth(synth_, 0, &e.chorusDepth);
}

namespace {

constexpr int kBlock = 64; // FluidSynth's own block
// The frames of FluidSynth's chorus delay line: 2048, and one for its interpolation.
constexpr std::uint64_t kChorusLineFrames = 2049;
// The most frames one call renders while the synthesiser renders what nobody hears.
constexpr std::uint64_t kScratchFrames = 64 * kBlock;

} // namespace

void FluidInstance::write(float* left, float* right, int frames) {
    count_.framesWritten += std::uint64_t(frames);
    fluid_synth_write_float(synth_, frames, left, 0, 1, right, 0, 1);
}

void FluidInstance::renderUnheard(std::uint64_t frames) {
    std::vector<float> scratch(2 * std::min(frames, kScratchFrames));
    const std::size_t half = scratch.size() / 2;
    for (std::uint64_t left = frames; left > 0;) {
        const int piece = int(std::min<std::uint64_t>(left, half));
        write(scratch.data(), scratch.data() + half, piece);
        left -= std::uint64_t(piece);
    }
}

// FluidSynth ramps a new voice's output gains (left, right, reverb and chorus sends) over its
// first block from where the last voice in the same slot left them, and a new synthesiser's
// slots start from nothing. So at no gain every slot gets a voice for one block, which leaves
// all its gains at nothing.
void FluidInstance::quietEveryVoiceSlot() {
    fluid_synth_t* synth = synth_;
    fluid_synth_set_gain(synth, 0.0f);
    const int slots = fluid_synth_get_polyphony(synth);
    for (int program = 0; program < 128; ++program)
        for (int channel = 0; channel < 16; ++channel) {
            if (fluid_synth_get_active_voice_count(synth) >= slots)
                break;
            fluid_synth_program_change(synth, channel, program);
            for (int key = 0; key < 128 && fluid_synth_get_active_voice_count(synth) < slots; ++key)
                fluid_synth_noteon(synth, channel, key, 127);
        }
    renderUnheard(kBlock);
    fluid_synth_all_sounds_off(synth, -1);
    renderUnheard(kBlock);
    fluid_synth_set_gain(synth, FluidInstance::kGain);
}

void FluidInstance::reset() {
    EffectShare::clear(synth_);
    renderUnheard((kBlock - count_.framesWritten % kBlock) % kBlock);
    // Every voice is let go at once, and gone from the mixer after one more block.
    fluid_synth_all_sounds_off(synth_, -1);
    renderUnheard(kBlock);
    alignChorusLine();
    // The quiet voices leave their slots their channel's pan and sends: on channels as a new song
    // finds them, whatever the last song set; and the channels are set back again after them.
    fluid_synth_system_reset(synth_);
    quietEveryVoiceSlot();
    fluid_synth_system_reset(synth_);
    // FluidSynth keeps the tunings a song defined by MIDI Tuning messages, and a later song
    // could select one; a new synthesiser has none, which sounds as equal temperament does.
    std::vector<std::pair<int, int>> tunings;
    int bank = 0, program = 0;
    fluid_synth_tuning_iteration_start(synth_);
    while (fluid_synth_tuning_iteration_next(synth_, &bank, &program))
        tunings.emplace_back(bank, program);
    const double equal[12] = {};
    for (const auto& [b, p] : tunings)
        fluid_synth_activate_octave_tuning(synth_, b, p, "equal", equal, 0);
    const Effects& e = effects_;
    setEffects(true);
    fluid_synth_set_reverb_group_roomsize(synth_, -1, e.roomSize);
    fluid_synth_set_reverb_group_damp(synth_, -1, e.damp);
    fluid_synth_set_reverb_group_width(synth_, -1, e.width);
    fluid_synth_set_reverb_group_level(synth_, -1, e.reverbLevel);
    fluid_synth_set_chorus_group_nr(synth_, -1, e.chorusVoices);
    fluid_synth_set_chorus_group_type(synth_, -1, e.chorusType);
    fluid_synth_set_chorus_group_level(synth_, -1, e.chorusLevel);
    fluid_synth_set_chorus_group_speed(synth_, -1, e.chorusSpeed);
    fluid_synth_set_chorus_group_depth(synth_, -1, e.chorusDepth);
    // Setting the rate again starts the effects' modulation where a new synthesiser starts it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    fluid_synth_set_sample_rate(synth_, float(sampleRate_));
#pragma GCC diagnostic pop
}

void FluidInstance::setEffects(bool on) {
    countChorusBlocks();
    fluid_synth_reverb_on(synth_, -1, on);
    fluid_synth_chorus_on(synth_, -1, on);
    count_.chorusOn = on;
}

// FluidSynth renders a block when the first of its frames is asked for, and an on or off takes
// effect from the next block it renders: the blocks it has rendered so far ran as the chorus was.
void FluidInstance::countChorusBlocks() {
    const std::uint64_t blocks = (count_.framesWritten + kBlock - 1) / kBlock;
    if (count_.chorusOn)
        count_.chorusBlocks += blocks - count_.blocksCounted;
    count_.blocksCounted = blocks;
}

// Runs the chorus alone, on silence (the voices are gone and its line is cleared later), until
// its line is where a new synthesiser's is at this point: then the next song's chorus is read
// from the same places, whatever the synthesiser played before. A new synthesiser waits for
// nothing; one that played waits a little under three seconds of blocks at most, all silent.
void FluidInstance::alignChorusLine() {
    countChorusBlocks();
    fluid_synth_reverb_on(synth_, -1, 0);
    fluid_synth_chorus_on(synth_, -1, 1);
    count_.chorusOn = true;
    const std::uint64_t at = count_.chorusBlocks % kChorusLineFrames;
    if (!count_.chorusStart)
        count_.chorusStart = at;
    renderUnheard((*count_.chorusStart + kChorusLineFrames - at) % kChorusLineFrames * kBlock);
}

void FluidInstance::play(const MidiEvent& event) const {
    fluid_synth_t* synth = synth_;
    const int channel = event.status & 0x0F;
    switch (event.status & 0xF0) {
    case 0x80:
        fluid_synth_noteoff(synth, channel, event.data1);
        break;
    case 0x90:
        fluid_synth_noteon(synth, channel, event.data1, event.data2);
        break;
    case 0xA0:
        fluid_synth_key_pressure(synth, channel, event.data1, event.data2);
        break;
    case 0xB0:
        fluid_synth_cc(synth, channel, event.data1, event.data2);
        break;
    case 0xC0:
        fluid_synth_program_change(synth, channel, event.data1);
        break;
    case 0xD0:
        fluid_synth_channel_pressure(synth, channel, event.data1);
        break;
    case 0xE0:
        fluid_synth_pitch_bend(synth, channel, event.data1 | (event.data2 << 7));
        break;
    case 0xF0:
        if (event.status == 0xF0 && !event.payload.empty()) {
            // FluidSynth wants the message without its framing F0 ... F7 bytes.
            std::size_t length = event.payload.size();
            if (event.payload[length - 1] == 0xF7)
                --length;
            fluid_synth_sysex(synth, reinterpret_cast<const char*>(event.payload.data()),
                              static_cast<int>(length), nullptr, nullptr, nullptr, 0);
        }
        break;
    default:
        break;
    }
}

FluidInstance::~FluidInstance() {
    release();
}

FluidInstance::FluidInstance(FluidInstance&& other) noexcept
    : settings_(std::exchange(other.settings_, nullptr))
    , synth_(std::exchange(other.synth_, nullptr))
    , effects_(other.effects_)
    , sampleRate_(other.sampleRate_)
    , count_(other.count_) {
}

FluidInstance& FluidInstance::operator=(FluidInstance&& other) noexcept {
    if (this != &other) {
        release();
        settings_ = std::exchange(other.settings_, nullptr);
        synth_ = std::exchange(other.synth_, nullptr);
        effects_ = other.effects_;
        sampleRate_ = other.sampleRate_;
        count_ = other.count_;
    }
    return *this;
}

void FluidInstance::release() {
    if (synth_)
        delete_fluid_synth(synth_);
    if (settings_)
        delete_fluid_settings(settings_);
    synth_ = nullptr;
    settings_ = nullptr;
}

} // namespace quillory::renderer
