// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/synthesis/NoteLog.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace quillory::renderer {

namespace {

constexpr int kMostVoices = 4096;

} // namespace

void ChannelTunings::follow(const MidiEvent& event) {
    const int kind = event.status & 0xF0;
    const auto channel = std::size_t(event.status & 0x0F);
    if (kind == 0xB0) {
        switch (event.data1) {
        case 101: // RPN
            rpnMsb_[channel] = event.data2;
            break;
        case 100:
            rpnLsb_[channel] = event.data2;
            break;
        case 99: // an NRPN ends the RPN's data entry
        case 98:
        case 121: // reset all controllers
            rpnMsb_[channel] = rpnLsb_[channel] = kNoParameter;
            break;
        case 6: // data entry: tuning program (RPN 3) or bank (RPN 4)
            if (rpnMsb_[channel] == 0 && rpnLsb_[channel] == 3)
                active_[channel] = std::pair{bank_[channel], int(event.data2)};
            else if (rpnMsb_[channel] == 0 && rpnLsb_[channel] == 4)
                bank_[channel] = event.data2;
            break;
        default:
            break;
        }
        return;
    }
    // An octave tuning (F0 7E/7F dev 08 08/09 ff gg hh ...) applies tuning 0 of bank 0 to the
    // channels of its mask: ff holds channels 15 and 16, gg 8 to 14, hh 1 to 7.
    const auto& p = event.payload;
    if (event.status != 0xF0 || p.size() < 7 || (p[0] != 0x7E && p[0] != 0x7F) ||
        (p[1] != 0x7F && p[1] != 0x00) || p[2] != 0x08 || (p[3] != 0x08 && p[3] != 0x09))
        return;
    const std::uint32_t mask = std::uint32_t(p[4] & 0x03) << 14 | std::uint32_t(p[5] & 0x7F) << 7 |
                               std::uint32_t(p[6] & 0x7F);
    for (std::size_t c = 0; c < 16; ++c)
        if (mask & (1u << c))
            active_[c] = std::pair{0, 0};
}

void NoteLog::event(const MidiEvent& event, std::uint64_t frame) {
    tuning_.follow(event);
    const int kind = event.status & 0xF0;
    const int channel = event.status & 0x0F;
    if (kind == 0x80 || (kind == 0x90 && event.data2 == 0)) {
        noteOff(channel, event.data1, frame);
    } else if (kind == 0xB0 && (event.data1 == 64 || event.data1 == 66 || event.data1 == 121)) {
        if (event.data1 != 66)
            sustain_[std::size_t(channel)] = event.data1 == 64 && event.data2 >= 64;
        if (event.data1 != 64)
            sostenuto_[std::size_t(channel)] = event.data1 == 66 && event.data2 >= 64;
    } else if (kind == 0xB0 && (event.data1 == 120 || event.data1 >= 123)) {
        // All sound off, all notes off and the mode messages let go of every key.
        std::vector<int> keys;
        for (const auto& [down, note] : keyDown_)
            if (down.first == channel)
                keys.push_back(down.second);
        for (const int key : keys)
            noteOff(channel, key, frame);
    }
}

// The pitch FluidSynth gives the key, in cents (6900 is A at 440 Hz): the channel's tuning, its
// coarse and fine tuning and the pitch wheel, as they are at the note-on.
double NoteLog::frequencyOf(_fluid_synth_t* synth, int channel, int key) const {
    double cents = key * 100.0;
    if (const auto tuning = tuning_.of(channel)) {
        double pitch[128];
        if (fluid_synth_tuning_dump(synth, tuning->first, tuning->second, nullptr, 0, pitch) ==
            FLUID_OK)
            cents = pitch[key];
    }
    int bend = 8192, range = 2;
    fluid_synth_get_pitch_bend(synth, channel, &bend);
    fluid_synth_get_pitch_wheel_sens(synth, channel, &range);
    cents += (bend - 8192) / 8192.0 * range * 100.0;
    cents += fluid_synth_get_gen(synth, channel, GEN_COARSETUNE) * 100.0;
    cents += fluid_synth_get_gen(synth, channel, GEN_FINETUNE);
    return 440.0 * std::pow(2.0, (cents - 6900.0) / 1200.0);
}

void NoteLog::noteOn(_fluid_synth_t* synth, int channel, int key, int velocity,
                     std::uint64_t frame) {
    NoteLabel note;
    note.onset = effectiveFrame(frame);
    note.channel = channel;
    note.key = key;
    note.velocity = velocity;
    fluid_preset_t* preset = fluid_synth_get_channel_preset(synth, channel);
    if (preset) {
        note.bank = fluid_preset_get_banknum(preset);
        note.program = fluid_preset_get_num(preset);
    }
    note.frequencyHz = frequencyOf(synth, channel, key);
    // A key struck again is let go by the new note.
    if (const auto down = keyDown_.find({channel, key}); down != keyDown_.end())
        notes_[down->second].keyOffset = std::min(notes_[down->second].keyOffset, note.onset);
    const std::size_t index = notes_.size();
    keyDown_[{channel, key}] = index;
    // The new note's voices carry the newest id.
    static thread_local std::vector<fluid_voice_t*> voices(kMostVoices);
    fluid_synth_get_voicelist(synth, voices.data(), kMostVoices, -1);
    unsigned newest = lastId_;
    for (int i = 0; i < kMostVoices && voices[std::size_t(i)]; ++i) {
        const unsigned id = fluid_voice_get_id(voices[std::size_t(i)]);
        if (id > lastId_ && fluid_voice_get_channel(voices[std::size_t(i)]) == channel &&
            fluid_voice_get_key(voices[std::size_t(i)]) == key) {
            byVoiceId_[id] = Sounding{index};
            newest = std::max(newest, id);
        }
    }
    if (newest == lastId_)
        note.silent =
            !preset ? "no preset"
            : fluid_synth_get_active_voice_count(synth) >= fluid_synth_get_polyphony(synth)
                ? "no free voice"
                : "no sample for the key and velocity";
    lastId_ = std::max(lastId_, newest);
    notes_.push_back(std::move(note));
    releasedAt_.push_back(NoteLabel::kOpen);
}

void NoteLog::noteOff(int channel, int key, std::uint64_t frame) {
    const auto down = keyDown_.find({channel, key});
    if (down == keyDown_.end())
        return;
    NoteLabel& note = notes_[down->second];
    note.keyOffset = std::min(note.keyOffset, effectiveFrame(frame));
    keyDown_.erase(down);
}

void NoteLog::blockRendered(_fluid_synth_t* synth, std::uint64_t blockStart) {
    if (byVoiceId_.empty())
        return;
    static thread_local std::vector<fluid_voice_t*> voices(kMostVoices);
    fluid_synth_get_voicelist(synth, voices.data(), kMostVoices, -1);
    // Per note: whether a voice still sounds, and whether one is still held.
    std::map<std::size_t, std::pair<bool, bool>> state;
    for (int i = 0; i < kMostVoices && voices[std::size_t(i)]; ++i) {
        fluid_voice_t* voice = voices[std::size_t(i)];
        const auto found = byVoiceId_.find(fluid_voice_get_id(voice));
        if (found == byVoiceId_.end())
            continue;
        auto& [sounds, held] = state[found->second.note];
        const auto channel = std::size_t(fluid_voice_get_channel(voice));
        sounds = sounds || fluid_voice_is_playing(voice);
        held = held || fluid_voice_is_on(voice) ||
               (fluid_voice_is_sustained(voice) && sustain_[channel]) ||
               (fluid_voice_is_sostenuto(voice) && sostenuto_[channel]);
    }
    for (auto it = byVoiceId_.begin(); it != byVoiceId_.end();) {
        Sounding& sounding = it->second;
        NoteLabel& note = notes_[sounding.note];
        const auto [sounds, held] = state[sounding.note];
        std::uint64_t& released = releasedAt_[sounding.note];
        if (!held && released == NoteLabel::kOpen)
            released = std::max(note.onset, blockStart);
        if (!sounds) {
            // Gone before it sounded a block: another note took its voices.
            if (!sounding.started)
                note.silent = "voices stolen at once";
            note.soundEnd = std::max(note.onset, blockStart + kFluidBlock - 1);
        }
        sounding.started = sounding.started || blockStart >= note.onset;
        it = sounds ? std::next(it) : byVoiceId_.erase(it);
    }
}

void NoteLog::close(std::uint64_t frames) {
    const std::uint64_t last = frames > 0 ? frames - 1 : 0;
    for (std::size_t i = 0; i < notes_.size(); ++i) {
        NoteLabel& note = notes_[i];
        note.onset = std::min(note.onset, last);
        note.keyOffset = std::max(note.onset, std::min(note.keyOffset, frames));
        // Let go for good once the key is up and no pedal holds a voice: a sound that ended on
        // its own while the key was down ends with the key.
        std::uint64_t released = releasedAt_[i];
        if (released == NoteLabel::kOpen) // held to the end, or no voice ever held
            released = note.silent.empty() ? frames : note.keyOffset;
        note.offset = std::min(frames, std::max(note.keyOffset, released));
        note.soundEnd = std::min(note.soundEnd, last);
    }
    byVoiceId_.clear();
    keyDown_.clear();
    releasedAt_.clear();
}

std::vector<NoteLabel> mergedLabels(std::vector<std::vector<NoteLabel>> lanes) {
    std::vector<NoteLabel> all;
    for (auto& lane : lanes)
        all.insert(all.end(), std::make_move_iterator(lane.begin()),
                   std::make_move_iterator(lane.end()));
    std::stable_sort(all.begin(), all.end(), [](const NoteLabel& a, const NoteLabel& b) {
        return std::tie(a.onset, a.channel, a.key) < std::tie(b.onset, b.channel, b.key);
    });
    return all;
}

} // namespace quillory::renderer
