#include "components/synthesis/ChannelPlan.h"

#include <algorithm>
#include <bitset>

namespace quillory::renderer {

namespace {

constexpr std::uint8_t kSustainPedal = 64;
constexpr std::uint8_t kPortamento = 65;
constexpr std::uint8_t kLegato = 68;
constexpr std::uint8_t kPortamentoControl = 84;
constexpr std::uint8_t kMonoOn = 126;
constexpr std::uint8_t kAllSoundOff = 120;
constexpr std::uint8_t kAllNotesOff = 123;

// The notes of one channel as they sound: when each key started, and which keys only the sustain
// pedal still holds.
class ChannelNotes {
public:
    ChannelNotes(double& load, std::array<double, kMidiKeys>& keyLoads)
        : load_(&load)
        , keyLoads_(&keyLoads) {
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
        const double work =
            voices_[std::size_t(key)] *
            std::min(now - since + ChannelPlan::kReleaseSeconds, ChannelPlan::kLongestNoteSeconds);
        *load_ += work;
        (*keyLoads_)[std::size_t(key)] += work;
        since = -1.0;
        sustained_.reset(std::size_t(key));
    }

    double* load_;
    std::array<double, kMidiKeys>* keyLoads_;
    std::array<double, 128> held_{};
    std::array<double, 128> voices_{};
    std::bitset<128> sustained_;
    bool pedal_ = false;
};

} // namespace

ChannelPlan::ChannelPlan(const MidiFile& song, const VoiceCount& voices) {
    std::vector<ChannelNotes> channels;
    channels.reserve(kMidiChannels);
    for (int channel = 0; channel < kMidiChannels; ++channel) {
        channels.emplace_back(loads_[std::size_t(channel)], keyLoads_[std::size_t(channel)]);
        for (int key = 0; key < kMidiKeys; ++key)
            keyParent_[std::size_t(channel)][std::size_t(key)] = std::uint8_t(key);
        classKey_[std::size_t(channel)].fill(-1);
    }
    const double unitsPerSecond = static_cast<double>(song.unitsPerSecond());
    MidiFile::Cursor cursor(song);
    MidiEvent event;
    while (cursor.next(event)) {
        if (event.status == 0xFF)
            continue;
        const NoteCost started = voices ? voices(event) : NoteCost{};
        if (event.status >= 0xF0)
            continue;
        const double now = static_cast<double>(event.time) / unitsPerSecond;
        const int channel = event.status & 0x0F;
        ChannelNotes& notes = channels[std::size_t(channel)];
        switch (event.status & 0xF0) {
        case 0x90:
            if (event.data2 > 0) {
                ++notes_[std::size_t(channel)];
                notes.start(event.data1, now, started.voices);
                joinKeys(channel, event.data1 & 0x7F, started.exclusiveClass);
                break;
            }
            [[fallthrough]];
        case 0x80:
            notes.release(event.data1, now);
            break;
        case 0xB0:
            // Notes that lead on from the last one, wherever it was played, cannot be split.
            if (((event.data1 == kPortamento || event.data1 == kLegato) && event.data2 >= 64) ||
                event.data1 == kPortamentoControl || event.data1 == kMonoOn)
                whole_.set(std::size_t(channel));
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

int ChannelPlan::keyRoot(int channel, int key) const {
    const auto& parent = keyParent_[std::size_t(channel)];
    while (parent[std::size_t(key)] != key)
        key = parent[std::size_t(key)];
    return key;
}

void ChannelPlan::joinKeys(int channel, int key, int exclusiveClass) {
    if (exclusiveClass <= 0)
        return;
    std::int16_t& first = classKey_[std::size_t(channel)][std::size_t(exclusiveClass % kMidiKeys)];
    if (first < 0) {
        first = std::int16_t(key);
        return;
    }
    const int a = keyRoot(channel, key);
    const int b = keyRoot(channel, first);
    if (a != b)
        keyParent_[std::size_t(channel)][std::size_t(std::max(a, b))] =
            std::uint8_t(std::min(a, b));
}

// What the split shares out: a whole channel, or some keys of a channel, whose notes must stay
// together.
struct ChannelPlan::Unit {
    int channel;
    std::bitset<kMidiKeys> keys; // none: the whole channel
    double load;
};

// A channel heavier than a group's share comes in parts: its keys, those of an exclusive class
// together, gathered into a few parts of nearly equal work, so that the exchanges between groups
// stay quick.
std::vector<ChannelPlan::Unit> ChannelPlan::unitsOf(int channel, double share, int groups) const {
    const double load = loads_[std::size_t(channel)];
    if (whole(channel) || load <= share)
        return {{channel, {}, load}};
    std::vector<Unit> clusters(kMidiKeys, Unit{channel, {}, 0.0});
    for (int key = 0; key < kMidiKeys; ++key) {
        Unit& cluster = clusters[std::size_t(keyRoot(channel, key))];
        cluster.keys.set(std::size_t(key));
        cluster.load += keyLoads_[std::size_t(channel)][std::size_t(key)];
    }
    std::erase_if(clusters, [](const Unit& unit) { return unit.load <= 0; });
    if (clusters.size() < 2)
        return {{channel, {}, load}};
    std::stable_sort(clusters.begin(), clusters.end(),
                     [](const Unit& a, const Unit& b) { return a.load > b.load; });
    std::vector<Unit> parts(std::min(clusters.size(), std::size_t(4 * groups)),
                            Unit{channel, {}, 0.0});
    for (const Unit& cluster : clusters) {
        Unit& lightest =
            *std::min_element(parts.begin(), parts.end(),
                              [](const Unit& a, const Unit& b) { return a.load < b.load; });
        lightest.keys |= cluster.keys;
        lightest.load += cluster.load;
    }
    return parts;
}

namespace {

// Exchanges between the busiest group and the others while one lightens the busier of the two:
// moving a unit over, or swapping two.
void rebalance(const std::vector<double>& load, std::vector<std::uint8_t>& owner,
               std::vector<double>& groups) {
    const std::size_t n = load.size();
    for (int round = 0; round < 256; ++round) {
        const auto heavy =
            std::size_t(std::max_element(groups.begin(), groups.end()) - groups.begin());
        double best = groups[heavy];
        std::size_t from = n, other = n, to = 0;
        for (std::size_t a = 0; a < n; ++a) {
            if (owner[a] != heavy)
                continue;
            for (std::size_t g = 0; g < groups.size(); ++g) {
                if (g == heavy)
                    continue;
                const double hl = groups[heavy];
                const double gl = groups[g];
                if (const double moved = std::max(hl - load[a], gl + load[a]); moved < best - 1e-9)
                    best = moved, from = a, to = g, other = n;
                for (std::size_t b = 0; b < n; ++b) {
                    if (owner[b] != g)
                        continue;
                    if (const double swapped =
                            std::max(hl - load[a] + load[b], gl + load[a] - load[b]);
                        swapped < best - 1e-9)
                        best = swapped, from = a, to = g, other = b;
                }
            }
        }
        if (from == n)
            return;
        groups[heavy] -= load[from];
        groups[to] += load[from];
        owner[from] = std::uint8_t(to);
        if (other != n) {
            groups[to] -= load[other];
            groups[heavy] += load[other];
            owner[other] = std::uint8_t(heavy);
        }
    }
}

} // namespace

ChannelGroups ChannelPlan::split(int groups) const {
    std::vector<int> used;
    double total = 0;
    for (int channel = 0; channel < kMidiChannels; ++channel)
        if (notes_[std::size_t(channel)] > 0) {
            used.push_back(channel);
            total += loads_[std::size_t(channel)];
        }
    ChannelGroups result;
    result.loads.assign(std::size_t(std::clamp(groups, 1, std::max(1, int(used.size())))), 0.0);
    const double share = total / double(result.loads.size());
    std::vector<Unit> units;
    for (int channel : used) {
        const std::vector<Unit> parts =
            result.loads.size() > 1
                ? unitsOf(channel, share, result.count())
                : std::vector<Unit>{{channel, {}, loads_[std::size_t(channel)]}};
        units.insert(units.end(), parts.begin(), parts.end());
    }
    // The busiest first, each into the group with the least work so far.
    std::stable_sort(units.begin(), units.end(),
                     [](const Unit& a, const Unit& b) { return a.load > b.load; });
    std::vector<double> load;
    std::vector<std::uint8_t> owner;
    for (const Unit& unit : units) {
        const auto lightest = std::min_element(result.loads.begin(), result.loads.end());
        *lightest += unit.load;
        load.push_back(unit.load);
        owner.push_back(std::uint8_t(lightest - result.loads.begin()));
    }
    rebalance(load, owner, result.loads);
    // A split channel's keys without notes, and its other messages' notes, go with most of its
    // work: its heaviest part, which comes first.
    std::bitset<kMidiChannels> placed;
    for (std::size_t u = 0; u < units.size(); ++u) {
        const auto channel = std::size_t(units[u].channel);
        if (!placed.test(channel)) {
            placed.set(channel);
            result.owner[channel] = owner[u];
            result.keyOwner[channel].fill(owner[u]);
        }
    }
    for (std::size_t u = 0; u < units.size(); ++u)
        for (int key = 0; key < kMidiKeys; ++key)
            if (units[u].keys.test(std::size_t(key)))
                result.keyOwner[std::size_t(units[u].channel)][std::size_t(key)] = owner[u];
    return result;
}

} // namespace quillory::renderer
