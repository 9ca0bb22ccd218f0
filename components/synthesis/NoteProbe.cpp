// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/synthesis/NoteProbe.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cmath>
#include <functional>

namespace quillory::renderer {

namespace {

// A note-off comes this soon after the note-on when the release is timed: 48 ms, a whole number of
// FluidSynth's 64-frame blocks, so that every measurement starts on a block as the first did.
constexpr long kHoldFrames = 6 * 64;
// The probe looks at its voices every this many frames: 32 ms at its rate.
constexpr int kStepFrames = 256;
// A sustain this far below full level fades into FluidSynth's noise floor, which ends the voice.
constexpr float kFadingSustainCentibels = 600.0f;
constexpr int kMostVoices = 64;

// Controllers that hold notes or make them lead on from the last one: how long notes sound is
// counted from the events, and one note at a time never leads on.
bool heldOrModal(int controller) {
    switch (controller) {
    case 64: // sustain
    case 65: // portamento
    case 66: // sostenuto
    case 68: // legato
    case 84: // portamento control
        return true;
    default:
        return controller >= 120; // all sound or notes off, and the mode messages
    }
}

} // namespace

double NoteProbe::Cost::life(double held) const {
    return std::min(heldSeconds, held + releaseSeconds);
}

double NoteProbe::Cost::work(double held) const {
    return voices * life(held);
}

std::size_t NoteProbe::KeyHash::operator()(const Key& k) const {
    std::size_t hash = 0;
    for (const int field : {k.font, k.bank, k.program, k.channel, k.key, k.velocity})
        hash = hash * 1000003u ^ std::hash<int>{}(field);
    return hash;
}

NoteProbe::NoteProbe(const SoundFontStack& soundFonts)
    : fluid_(soundFonts, kRate, kMostVoices, FluidInstance::Samples::All, false, 2 * kChannels) {
    fluid_synth_reverb_on(fluid_.get(), -1, 0);
    fluid_synth_chorus_on(fluid_.get(), -1, 0);
}

void NoteProbe::reset() {
    fluid_synth_all_sounds_off(fluid_.get(), -1);
    fluid_synth_system_reset(fluid_.get());
    lasting_.clear();
}

// The preset the channel plays, as FluidSynth resolved it: what fluid_synth_get_program() says of
// a channel's SoundFont after a reset is not yet the one it plays.
NoteProbe::Key NoteProbe::keyOf(int channel, int key, int velocity) const {
    Key note{0, 0, 0, channel, key, velocity};
    if (fluid_preset_t* preset = fluid_synth_get_channel_preset(fluid_.get(), channel)) {
        note.font = fluid_sfont_get_id(fluid_preset_get_sfont(preset));
        note.bank = fluid_preset_get_banknum(preset);
        note.program = fluid_preset_get_num(preset);
    }
    return note;
}

NoteProbe::Cost NoteProbe::weigh(const MidiEvent& event) {
    const int kind = event.status & 0xF0;
    const int channel = event.status & 0x0F;
    if (kind != 0x90 || event.data2 == 0) {
        const bool note = kind == 0x80 || kind == 0x90 || kind == 0xA0;
        if (!note && !(kind == 0xB0 && heldOrModal(event.data1)))
            fluid_.play(event);
        return {0, 0, 0, 0};
    }
    const Key exact = keyOf(channel, event.data1, event.data2);
    auto found = started_.find(exact);
    if (found == started_.end())
        found = started_.emplace(exact, start(channel, event.data1, event.data2)).first;
    const Started& started = found->second;
    if (started.voices == 0)
        return {0, 0, 0, 0};
    // The first note of the song that lasts alike stands for the others: the same note first in
    // the song, whatever songs were weighed before.
    auto life = lasting_.find(started.lasting);
    if (life == lasting_.end()) {
        auto measured = lives_.find(exact);
        if (measured == lives_.end())
            measured = lives_.emplace(exact, measure(exact, started)).first;
        life = lasting_.emplace(started.lasting, measured->second).first;
    }
    Cost cost = life->second;
    cost.voices = started.voices;
    cost.exclusiveClass = started.exclusiveClass;
    return cost;
}

// How long the note sounds, timed on a channel of its own beyond the song's sixteen, which holds
// the note's preset and nothing else: no controller of the song, no pitch bend, no tuning. So
// what is measured depends on the note alone, and the probe may keep it for any later song.
NoteProbe::Cost NoteProbe::measure(const Key& note, const Started& started) {
    fluid_synth_t* synth = fluid_.get();
    const int channel = kChannels + note.channel;
    fluid_synth_set_channel_type(synth, channel,
                                 note.bank == kDrumBank ? CHANNEL_TYPE_DRUM : CHANNEL_TYPE_MELODIC);
    fluid_synth_program_select(synth, channel, note.font, note.bank, note.program);
    Cost cost;
    const auto after = [&](Then then, double longest) {
        const double seconds = soundingSeconds(channel, note.key, note.velocity, then, longest);
        return std::max(0.0, std::min(seconds, kLongestSeconds) - double(kHoldFrames) / kRate);
    };
    if (started.endsAlone)
        cost.heldSeconds =
            soundingSeconds(channel, note.key, note.velocity, Then::Nothing, kLongestHeldSeconds);
    cost.releaseSeconds = after(Then::Off, kLongestSeconds);
    if (started.exclusiveClass > 0)
        cost.chokedSeconds = after(Then::Again, kLongestSeconds);
    return cost;
}

NoteProbe::Started NoteProbe::start(int channel, int key, int velocity) {
    fluid_synth_t* synth = fluid_.get();
    fluid_synth_noteon(synth, channel, key, velocity);
    Started started;
    fluid_voice_t* voices[kMostVoices] = {};
    fluid_synth_get_voicelist(synth, voices, kMostVoices, -1);
    bool keyMatters = false;
    std::uint64_t lasting = 1469598103934665603ull;
    const auto mix = [&lasting](long value) {
        lasting = (lasting ^ std::uint64_t(value)) * 1099511628211ull;
    };
    for (int i = 0; i < kMostVoices && voices[i] != nullptr; ++i) {
        fluid_voice_t* voice = voices[i];
        ++started.voices;
        started.exclusiveClass =
            std::max(started.exclusiveClass, int(fluid_voice_gen_get(voice, GEN_EXCLUSIVECLASS)));
        const int mode = int(fluid_voice_gen_get(voice, GEN_SAMPLEMODE));
        const bool looped = mode == 1 || mode == 3;
        if (!looped || fluid_voice_gen_get(voice, GEN_VOLENVSUSTAIN) >= kFadingSustainCentibels)
            started.endsAlone = true;
        keyMatters = keyMatters || !looped ||
                     fluid_voice_gen_get(voice, GEN_KEYTOVOLENVHOLD) != 0 ||
                     fluid_voice_gen_get(voice, GEN_KEYTOVOLENVDECAY) != 0;
        for (const int gen :
             {GEN_SAMPLEMODE, GEN_VOLENVDELAY, GEN_VOLENVATTACK, GEN_VOLENVHOLD, GEN_VOLENVDECAY,
              GEN_VOLENVSUSTAIN, GEN_VOLENVRELEASE, GEN_ATTENUATION})
            mix(std::lround(fluid_voice_gen_get(voice, gen) / 10.0f));
    }
    if (keyMatters) {
        const Key note = keyOf(channel, key, velocity);
        for (const int field : {note.font, note.bank, note.program, key})
            mix(field);
    }
    started.lasting = lasting;
    silence(channel);
    return started;
}

double NoteProbe::soundingSeconds(int channel, int key, int velocity, Then then,
                                  double longestSeconds) {
    fluid_synth_t* synth = fluid_.get();
    fluid_synth_noteon(synth, channel, key, velocity);
    const int voices = fluid_synth_get_active_voice_count(synth);
    int gone = 0;
    float left[kStepFrames], right[kStepFrames];
    const long longest = long(longestSeconds * kRate);
    for (long frames = 0; frames < longest;) {
        if (frames == kHoldFrames && then == Then::Off)
            fluid_synth_noteoff(synth, channel, key);
        if (frames == kHoldFrames && then == Then::Again) {
            fluid_synth_noteon(synth, channel, key, velocity);
            gone = voices;
        }
        const int step =
            int(frames < kHoldFrames ? std::min<long>(kStepFrames, kHoldFrames - frames)
                                     : long(kStepFrames));
        fluid_.write(left, right, step);
        frames += step;
        if (fluid_synth_get_active_voice_count(synth) <= gone) {
            silence(channel);
            return double(frames) / kRate;
        }
    }
    silence(channel);
    return std::numeric_limits<double>::infinity();
}

// Ends the channel's voices at once; FluidSynth frees them as it renders the next block.
void NoteProbe::silence(int channel) {
    fluid_synth_all_sounds_off(fluid_.get(), channel);
    float left[64], right[64];
    fluid_.write(left, right, 64);
}

} // namespace quillory::renderer
