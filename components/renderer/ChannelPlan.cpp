#include "components/renderer/ChannelPlan.h"

#include <algorithm>
#include <bitset>

namespace quillory::renderer {

namespace {

constexpr std::uint8_t kSustainPedal = 64;
constexpr std::uint8_t kAllSoundOff = 120;
constexpr std::uint8_t kAllNotesOff = 123;

// The notes of one channel as they sound: when each key started, and which keys only the sustain
// pedal still holds.
class ChannelNotes {
public:
    explicit ChannelNotes(double& load)
        : load_(&load) {
        held_.fill(-1.0);
    }

    void start(int key, double now, double voices) {
        stop(key, now);
        held_[std::size_t(key)] = now;
        voices_[std::size_t(key)] = voices;
    }
    void release(int key, double now) {
        if (held_[std::size_t(key)] < 0)
            return;
        if (pedal_)
            sustained_.set(std::size_t(key));
        else
            stop(key, now);
    }
    void pedal(bool down, double now) {
        pedal_ = down;
        if (down)
            return;
        for (int key = 0; key < 128; ++key)
            if (sustained_.test(std::size_t(key)))
                stop(key, now);
    }
    void stopAll(double now) {
        for (int key = 0; key < 128; ++key)
            stop(key, now);
    }

private:
    void stop(int key, double now) {
        double& since = held_[std::size_t(key)];
        if (since < 0)
            return;
        *load_ += voices_[std::size_t(key)] * std::min(now - since + ChannelPlan::kReleaseSeconds,
                                                       ChannelPlan::kLongestNoteSeconds);
        since = -1.0;
        sustained_.reset(std::size_t(key));
    }

    double* load_;
    std::array<double, 128> held_{};
    std::array<double, 128> voices_{};
    std::bitset<128> sustained_;
    bool pedal_ = false;
};

} // namespace

ChannelPlan::ChannelPlan(const MidiFile& song, const VoiceCount& voices) {
    std::vector<ChannelNotes> channels;
    channels.reserve(kMidiChannels);
    for (double& load : loads_)
        channels.emplace_back(load);
    const double unitsPerSecond = static_cast<double>(song.unitsPerSecond());
    MidiFile::Cursor cursor(song);
    MidiEvent event;
    while (cursor.next(event)) {
        if (event.status == 0xFF)
            continue;
        const int started = voices ? voices(event) : 1;
        if (event.status >= 0xF0)
            continue;
        const double now = static_cast<double>(event.time) / unitsPerSecond;
        const int channel = event.status & 0x0F;
        ChannelNotes& notes = channels[std::size_t(channel)];
        switch (event.status & 0xF0) {
        case 0x90:
            if (event.data2 > 0) {
                ++notes_[std::size_t(channel)];
                notes.start(event.data1, now, started);
                break;
            }
            [[fallthrough]];
        case 0x80:
            notes.release(event.data1, now);
            break;
        case 0xB0:
            if (event.data1 == kSustainPedal)
                notes.pedal(event.data2 >= 64, now);
            // 123 to 127: all notes off, and the mode messages that imply it.
            else if (event.data1 == kAllSoundOff || event.data1 >= kAllNotesOff)
                notes.stopAll(now);
            break;
        default:
            break;
        }
    }
    const double end = static_cast<double>(song.endTime()) / unitsPerSecond;
    for (ChannelNotes& notes : channels)
        notes.stopAll(end);
}

int ChannelPlan::channelsInUse() const {
    return static_cast<int>(
        std::count_if(notes_.begin(), notes_.end(), [](std::uint64_t n) { return n > 0; }));
}

namespace {

// Exchanges between the busiest group and the others while one lightens the busier of the two:
// moving a channel over, or swapping two.
void rebalance(const std::array<double, kMidiChannels>& load, std::vector<int>& channels,
               ChannelGroups& groups) {
    for (int round = 0; round < 256; ++round) {
        const int heavy =
            int(std::max_element(groups.loads.begin(), groups.loads.end()) - groups.loads.begin());
        double best = groups.loads[std::size_t(heavy)];
        int from = -1, to = -1, other = -1;
        for (int a : channels) {
            if (groups.owner[std::size_t(a)] != heavy)
                continue;
            for (int g = 0; g < groups.count(); ++g) {
                if (g == heavy)
                    continue;
                const double hl = groups.loads[std::size_t(heavy)];
                const double gl = groups.loads[std::size_t(g)];
                const double la = load[std::size_t(a)];
                if (const double moved = std::max(hl - la, gl + la); moved < best - 1e-9) {
                    best = moved, from = a, to = g, other = -1;
                }
                for (int b : channels) {
                    if (groups.owner[std::size_t(b)] != g)
                        continue;
                    const double lb = load[std::size_t(b)];
                    if (const double swapped = std::max(hl - la + lb, gl + la - lb);
                        swapped < best - 1e-9) {
                        best = swapped, from = a, to = g, other = b;
                    }
                }
            }
        }
        if (from < 0)
            return;
        groups.loads[std::size_t(heavy)] -= load[std::size_t(from)];
        groups.loads[std::size_t(to)] += load[std::size_t(from)];
        groups.owner[std::size_t(from)] = std::uint8_t(to);
        if (other >= 0) {
            groups.loads[std::size_t(to)] -= load[std::size_t(other)];
            groups.loads[std::size_t(heavy)] += load[std::size_t(other)];
            groups.owner[std::size_t(other)] = std::uint8_t(heavy);
        }
    }
}

} // namespace

ChannelGroups ChannelPlan::split(int groups) const {
    std::vector<int> used;
    for (int channel = 0; channel < kMidiChannels; ++channel)
        if (notes_[std::size_t(channel)] > 0)
            used.push_back(channel);
    ChannelGroups result;
    result.loads.assign(std::size_t(std::clamp(groups, 1, std::max(1, int(used.size())))), 0.0);
    // The busiest channels first, each into the group with the least work so far.
    std::stable_sort(used.begin(), used.end(), [this](int a, int b) {
        return loads_[std::size_t(a)] > loads_[std::size_t(b)];
    });
    for (int channel : used) {
        const auto lightest = std::min_element(result.loads.begin(), result.loads.end());
        *lightest += loads_[std::size_t(channel)];
        result.owner[std::size_t(channel)] = std::uint8_t(lightest - result.loads.begin());
    }
    rebalance(loads_, used, result);
    return result;
}

} // namespace quillory::renderer
