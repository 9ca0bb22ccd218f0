// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/synthesis/NotePlan.h"

#include "components/synthesis/SongTail.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace quillory::renderer {

namespace {

constexpr std::uint8_t kSustainPedal = 64;
constexpr std::uint8_t kPortamento = 65;
constexpr std::uint8_t kSostenuto = 66;
constexpr std::uint8_t kLegato = 68;
constexpr std::uint8_t kPortamentoControl = 84;
constexpr std::uint8_t kAllSoundOff = 120;
constexpr std::uint8_t kAllNotesOff = 123;
constexpr std::uint8_t kMonoOn = 126;
constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();
constexpr int kNone = -1;

} // namespace

// The song's events in order, keeping each channel's keys and pedals as FluidSynth keeps them, so
// that each note is known to end when the synthesiser will end it.
class SongLoad::Walk {
public:
    Walk(SongLoad& load, std::uint64_t songEnd)
        : load_(load)
        , last_(songEnd + SongTail::longest(load.sampleRate_)) {
        for (auto& keys : down_)
            keys.fill(kNone);
        for (auto& classes : lastOfClass_)
            classes.fill(kNone);
    }

    void noteOn(int channel, int key, std::uint64_t now, const NoteProbe::Cost& cost) {
        letGo(channel, key, now); // a new note on a key releases the one before
        const int index = int(load_.notes_.size());
        NoteSpan span;
        span.start = now;
        span.voices = std::uint16_t(std::min(cost.voices, 0xFFFF));
        span.exclusiveClass = std::uint8_t(std::clamp(cost.exclusiveClass, 0, 127));
        load_.notes_.push_back(span);
        pending_.push_back({cost, channel, kNever, false, false, false});
        down_[std::size_t(channel)][std::size_t(key)] = index;
        if (span.exclusiveClass > 0) {
            int& last = lastOfClass_[std::size_t(channel)][span.exclusiveClass];
            if (last != kNone)
                cut(last, now + secondsToFrames(pending_[std::size_t(last)].cost.chokedSeconds));
            last = index;
        }
    }

    void noteOff(int channel, int key, std::uint64_t now) {
        const int index = down_[std::size_t(channel)][std::size_t(key)];
        if (index == kNone)
            return;
        Pending& note = pending_[std::size_t(index)];
        note.released = true;
        if (!pedal_.test(std::size_t(channel)) && !note.sostenuto)
            letGo(channel, key, now);
    }

    void controller(int channel, int number, int value, std::uint64_t now) {
        const bool on = value >= 64;
        if (((number == kPortamento || number == kLegato) && on) || number == kPortamentoControl ||
            number == kMonoOn)
            load_.whole_.set(std::size_t(channel));
        if (number == kSustainPedal) {
            pedal_.set(std::size_t(channel), on);
            if (!on)
                letGoReleased(channel, now);
        } else if (number == kSostenuto) {
            holdDownKeys(channel, on, now);
        } else if (number == kAllSoundOff) {
            for (int key = 0; key < kMidiKeys; ++key)
                if (const int index = down_[std::size_t(channel)][std::size_t(key)]; index != kNone)
                    cut(index, now);
            letGoAll(channel, now);
        } else if (number >= kAllNotesOff) {
            letGoAll(channel, now);
        }
    }

    void finish(std::uint64_t songEnd) {
        for (int channel = 0; channel < kMidiChannels; ++channel)
            letGoAll(channel, songEnd);
    }

private:
    struct Pending {
        NoteProbe::Cost cost;
        int channel;
        std::uint64_t cutAt;
        bool released;  // its note-off has come, a pedal may still hold it
        bool sostenuto; // held by the sostenuto pedal
        bool done;      // let go for good: its span is complete
    };

    void letGo(int channel, int key, std::uint64_t now) {
        int& index = down_[std::size_t(channel)][std::size_t(key)];
        if (index == kNone)
            return;
        NoteSpan& span = load_.notes_[std::size_t(index)];
        Pending& note = pending_[std::size_t(index)];
        note.done = true;
        const double rate = load_.sampleRate_;
        span.held = now;
        const double life = note.cost.life(double(now - span.start) / rate);
        const double end = std::min(double(span.start) + life * rate, double(last_));
        span.end = std::min(note.cutAt, std::uint64_t(std::max(double(span.start), end)));
        load_.channelVoiceSeconds_[std::size_t(channel)] += span.voiceSeconds(load_.sampleRate_);
        index = kNone;
    }

    // Ends a note by `at` at the latest: all sound off ends it at once, another note of its
    // exclusive class gives it FluidSynth's fast release.
    void cut(int index, std::uint64_t at) {
        Pending& note = pending_[std::size_t(index)];
        note.cutAt = std::min(note.cutAt, at);
        NoteSpan& span = load_.notes_[std::size_t(index)];
        if (note.done && span.end > at) {
            load_.channelVoiceSeconds_[std::size_t(note.channel)] -=
                double(span.voices) * double(span.end - at) / load_.sampleRate_;
            span.end = std::max(span.start, at);
        }
    }

    void letGoReleased(int channel, std::uint64_t now) {
        for (int key = 0; key < kMidiKeys; ++key) {
            const int index = down_[std::size_t(channel)][std::size_t(key)];
            if (index != kNone && pending_[std::size_t(index)].released &&
                !pending_[std::size_t(index)].sostenuto)
                letGo(channel, key, now);
        }
    }

    // The sostenuto pedal holds the keys down when it goes down, and only those.
    void holdDownKeys(int channel, bool on, std::uint64_t now) {
        for (int key = 0; key < kMidiKeys; ++key) {
            const int index = down_[std::size_t(channel)][std::size_t(key)];
            if (index == kNone)
                continue;
            Pending& note = pending_[std::size_t(index)];
            if (on) {
                note.sostenuto = !note.released;
            } else if (note.sostenuto) {
                note.sostenuto = false;
                if (note.released && !pedal_.test(std::size_t(channel)))
                    letGo(channel, key, now);
            }
        }
    }

    void letGoAll(int channel, std::uint64_t now) {
        for (int key = 0; key < kMidiKeys; ++key)
            letGo(channel, key, now);
    }

    std::uint64_t secondsToFrames(double seconds) const {
        return std::uint64_t(std::llround(seconds * load_.sampleRate_));
    }

    SongLoad& load_;
    std::uint64_t last_;
    std::vector<Pending> pending_;
    std::array<std::array<int, kMidiKeys>, kMidiChannels> down_;
    std::array<std::array<int, kMidiKeys>, kMidiChannels> lastOfClass_;
    std::bitset<kMidiChannels> pedal_;
};

SongLoad::SongLoad(const MidiFile& song, int sampleRate, const Weigh& weigh)
    : sampleRate_(sampleRate) {
    const std::uint64_t songEnd = song.frameAt(song.endTime(), sampleRate);
    seconds_ = double(songEnd) / sampleRate;
    Walk walk(*this, songEnd);
    MidiFile::Cursor cursor(song);
    MidiEvent event;
    const NoteProbe::Cost oneVoice{1, 0, std::numeric_limits<double>::infinity(), 0.0};
    while (cursor.next(event)) {
        if (event.status == 0xFF)
            continue;
        const NoteProbe::Cost cost = weigh ? weigh(event) : oneVoice;
        if (event.status >= 0xF0)
            continue;
        const std::uint64_t now = song.frameAt(event.time, sampleRate);
        const int channel = event.status & 0x0F;
        switch (event.status & 0xF0) {
        case 0x90:
            if (event.data2 > 0) {
                walk.noteOn(channel, event.data1 & 0x7F, now, cost);
                break;
            }
            [[fallthrough]];
        case 0x80:
            walk.noteOff(channel, event.data1 & 0x7F, now);
            break;
        case 0xB0:
            walk.controller(channel, event.data1, event.data2, now);
            break;
        default:
            break;
        }
    }
    walk.finish(songEnd);
}

double SongLoad::voiceSeconds() const {
    return std::accumulate(channelVoiceSeconds_.begin(), channelVoiceSeconds_.end(), 0.0);
}

int SongLoad::channelsInUse() const {
    return int(std::count_if(channelVoiceSeconds_.begin(), channelVoiceSeconds_.end(),
                             [](double seconds) { return seconds > 0; }));
}

double fixedVoices(int lane, bool sharedEffects) {
    if (!sharedEffects)
        return kInstanceVoices;
    return lane == 0 ? kInstanceVoices : kInstanceVoices - kEffectsVoices;
}

double expectedSeconds(const SongLoad& load, int instances, int cores, bool sharedEffects) {
    const double audio = load.seconds();
    const double voices = load.voiceSeconds();
    const double setup = instances > 1 ? kSetupVoices : 0.0;
    double fixed = 0;
    for (int lane = 0; lane < instances; ++lane)
        fixed += fixedVoices(lane, sharedEffects && instances > 1) * audio;
    // The first lane carries its effects however the notes are shared out.
    const double busiest =
        setup + std::max((fixed + voices) / instances, fixedVoices(0, false) * audio);
    const double all = fixed + voices + kOutputVoices * audio + (instances - 1) * kSetupVoices;
    return std::max(busiest, all / std::max(cores, 1));
}

int bestInstances(const SongLoad& load, int most, int cores, bool sharedEffects) {
    int best = 1;
    for (int instances = 2; instances <= most; ++instances)
        if (expectedSeconds(load, instances, cores, sharedEffects) <
            expectedSeconds(load, best, cores, sharedEffects))
            best = instances;
    return best;
}

NoteSharer::NoteSharer(const SongLoad& load, int lanes, bool sharedEffects)
    : load_(load)
    , lanes_(std::size_t(lanes))
    , work_(std::size_t(lanes), 0.0) {
    for (int lane = 0; lane < lanes; ++lane)
        lanes_[std::size_t(lane)].fixed = fixedVoices(lane, sharedEffects && lanes > 1);
    for (auto& keys : keyLane_)
        keys.fill(kNone);
    for (auto& classes : classLane_)
        classes.fill(kNone);
    channelLane_.fill(kNone);
    chooseHomes();
}

// The busiest channel first, each to the lane with the least work so far.
void NoteSharer::chooseHomes() {
    std::array<int, kMidiChannels> order{};
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [this](int a, int b) {
        return load_.voiceSeconds(a) > load_.voiceSeconds(b);
    });
    // A lane that runs effects for others starts that much more busy.
    std::vector<double> planned(lanes_.size(), 0.0);
    for (std::size_t lane = 0; lane < lanes_.size(); ++lane)
        planned[lane] = (lanes_[lane].fixed - lanes_.back().fixed) * load_.seconds();
    for (const int channel : order) {
        const auto lightest = std::min_element(planned.begin(), planned.end()) - planned.begin();
        home_[std::size_t(channel)] = std::int8_t(lightest);
        planned[std::size_t(lightest)] += load_.voiceSeconds(channel);
    }
}

int NoteSharer::laneFor(const MidiEvent& event, std::uint64_t frame) {
    const int kind = event.status & 0xF0;
    const int channel = event.status & 0x0F;
    const int key = event.data1 & 0x7F;
    if (kind == 0x90 && event.data2 > 0)
        return noteOn(channel, key, frame);
    if (kind == 0x80 || kind == 0x90 || kind == 0xA0) {
        const int lane = keyLane_[std::size_t(channel)][std::size_t(key)];
        return lane == kNone ? 0 : lane;
    }
    return -1;
}

int NoteSharer::noteOn(int channel, int key, std::uint64_t frame) {
    // The sharer meets the song's note-ons in the order the load walked them.
    static const NoteSpan unknown{};
    const NoteSpan& note = next_ < load_.notes().size() ? load_.notes()[next_] : unknown;
    ++next_;
    // Notes FluidSynth links to what sounds before them stay where that sounds.
    // A key let go at this very frame was let go by this note: FluidSynth releases the sounding
    // note of a key struck again, on its own synthesiser only.
    int lane = kNone;
    if (frame <= keyHeld_[std::size_t(channel)][std::size_t(key)])
        lane = keyLane_[std::size_t(channel)][std::size_t(key)];
    if (note.exclusiveClass > 0 && frame < classRings_[std::size_t(channel)][note.exclusiveClass])
        lane = classLane_[std::size_t(channel)][note.exclusiveClass];
    if (load_.whole(channel) && channelLane_[std::size_t(channel)] != kNone)
        lane = channelLane_[std::size_t(channel)];
    if (lane == kNone)
        lane = sharedOut(channel, frame);
    keyLane_[std::size_t(channel)][std::size_t(key)] = std::int8_t(lane);
    keyHeld_[std::size_t(channel)][std::size_t(key)] = std::max(note.held, note.start + 1);
    channelLane_[std::size_t(channel)] = std::int8_t(lane);
    if (note.exclusiveClass > 0) {
        classLane_[std::size_t(channel)][note.exclusiveClass] = std::int8_t(lane);
        // A ringing note of the class is choked by the next: its lane keeps the class a second
        // longer than its sound is expected to last, so that a longer ring is still choked.
        classRings_[std::size_t(channel)][note.exclusiveClass] =
            note.end + std::uint64_t(load_.sampleRate());
    }
    Lane& chosen = lanes_[std::size_t(lane)];
    chosen.advance(frame);
    chosen.endings.push({std::max(note.end, frame), note.voices});
    chosen.sounding += note.voices;
    work_[std::size_t(lane)] += note.voiceSeconds(load_.sampleRate());
    return lane;
}

void NoteSharer::Lane::advance(std::uint64_t frame) {
    while (!endings.empty() && endings.top().frame <= frame) {
        const Ending ending = endings.top();
        endings.pop();
        done += (sounding + fixed) * double(ending.frame - std::min(at, ending.frame));
        at = std::max(at, ending.frame);
        sounding -= ending.voices;
    }
    done += (sounding + fixed) * double(frame - std::min(at, frame));
    at = std::max(at, frame);
}

// The channel's home, unless home has got further ahead of the lane furthest behind than the
// queue between them absorbs.
int NoteSharer::sharedOut(int channel, std::uint64_t frame) {
    int behind = 0;
    int sounding = 0;
    for (int i = 0; i < int(lanes_.size()); ++i) {
        Lane& lane = lanes_[std::size_t(i)];
        lane.advance(frame);
        sounding += lane.sounding;
        if (lane.done < lanes_[std::size_t(behind)].done)
            behind = i;
    }
    const int home = home_[std::size_t(channel)];
    double fixed = 0;
    for (const Lane& lane : lanes_)
        fixed += lane.fixed;
    const double perLane = (fixed + double(sounding)) / double(lanes_.size());
    const double drift = kDriftSeconds * load_.sampleRate() * perLane;
    return lanes_[std::size_t(home)].done - lanes_[std::size_t(behind)].done > drift ? behind
                                                                                     : home;
}

} // namespace quillory::renderer
