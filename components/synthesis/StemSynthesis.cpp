// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/synthesis/StemSynthesis.h"

#include "components/midi/ProgramNames.h"
#include "components/synthesis/LanePool.h"
#include "components/synthesis/NotePlan.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <limits>
#include <thread>

namespace quillory::renderer {

namespace {

constexpr int kDrumChannel = 9;

// A GS "use for rhythm part" message (F0 41 dev 42 12 40 1p 15 map ... F7) turns part p into a
// drum part (map 1 or 2) or back (0); parts count 1-9, 0 for the tenth, then A-F.
void followDrumPart(const MidiEvent& event, std::array<bool, kMidiChannels>& drums) {
    const auto& p = event.payload;
    if (event.status != 0xF0 || p.size() < 8 || p[0] != 0x41 || p[2] != 0x42 || p[3] != 0x12 ||
        p[4] != 0x40 || (p[5] & 0xF0) != 0x10 || p[6] != 0x15)
        return;
    const int part = p[5] & 0x0F;
    const int channel = part == 0 ? kDrumChannel : part <= 9 ? part - 1 : part;
    drums[std::size_t(channel)] = p[7] != 0;
}

int channelOf(const MidiEvent& event) {
    return event.status >= 0x80 && event.status < 0xF0 ? event.status & 0x0F : -1;
}

} // namespace

std::string StemChannel::name() const {
    char number[16];
    std::snprintf(number, sizeof number, "%02d ", channel + 1);
    if (drums)
        return number + std::string("Drums");
    return number + std::string(generalMidiProgramName(programs.empty() ? 0 : programs.front()));
}

std::string StemChannel::plainName() const {
    char name[24];
    std::snprintf(name, sizeof name, "%02d Channel", channel + 1);
    return name;
}

std::vector<StemChannel> soundingChannels(const MidiFile& song) {
    std::array<int, kMidiChannels> program{};
    std::array<bool, kMidiChannels> drums{};
    drums[kDrumChannel] = true;
    std::array<StemChannel, kMidiChannels> found{};
    std::array<bool, kMidiChannels> sounds{};
    MidiFile::Cursor cursor(song);
    for (MidiEvent event; cursor.next(event);) {
        followDrumPart(event, drums);
        const int ch = channelOf(event);
        if (ch < 0)
            continue;
        const auto c = std::size_t(ch);
        if ((event.status & 0xF0) == 0xC0)
            program[c] = event.data1;
        if ((event.status & 0xF0) != 0x90 || event.data2 == 0)
            continue;
        if (!sounds[c]) {
            sounds[c] = true;
            found[c].channel = ch;
            found[c].drums = drums[c];
        }
        std::vector<int>& used = found[c].programs;
        if (std::find(used.begin(), used.end(), program[c]) == used.end())
            used.push_back(program[c]);
    }
    std::vector<StemChannel> stems;
    for (std::size_t c = 0; c < found.size(); ++c)
        if (sounds[c])
            stems.push_back(found[c]);
    return stems;
}

// The stems' synthesisers, one a lane of a pool (LanePool): the first stem plays on the caller's
// synthesiser, each other one on a synthesiser of its own, made on the thread that renders it so
// that they load side by side.
class StemSynthesis::Lanes {
public:
    static constexpr std::size_t kDepth = 4;

    // threads: the stems each thread renders; logs: one per stem to write its notes down in, or
    // none.
    Lanes(Synthesizer& primary, int sampleRate, std::size_t stems,
          std::vector<std::vector<std::size_t>> threads, bool effects, std::vector<NoteLog>* logs)
        : primary_(primary)
        , sampleRate_(sampleRate)
        , effects_(effects)
        , logs_(logs)
        , own_(stems)
        , pool_(stems, std::move(threads), kDepth, kBlock,
                [this](std::size_t stem) -> Synthesizer& { return ready(stem); }) {}

    ~Lanes() {
        pool_.stop();
        primary_.logNotes(nullptr);
    }

    LanePool& pool() { return pool_; }

private:
    Synthesizer& ready(std::size_t stem) {
        Synthesizer* synth = &primary_;
        if (stem != 0) {
            own_[stem] = std::make_unique<Synthesizer>(primary_.soundFonts(), sampleRate_);
            synth = own_[stem].get();
        }
        synth->prepare(sampleRate_);
        if (!effects_)
            synth->setEffects(false);
        if (logs_)
            synth->logNotes(&(*logs_)[stem]);
        return *synth;
    }

    Synthesizer& primary_;
    int sampleRate_;
    bool effects_;
    std::vector<NoteLog>* logs_;
    std::vector<std::unique_ptr<Synthesizer>> own_; // one place per stem, each its thread's
    LanePool pool_;
};

namespace {

int checkedRate(int sampleRate) {
    Synthesizer::checkRate(sampleRate);
    return sampleRate;
}

// Stems shared out over `lanes`, the costliest first onto the least loaded: a channel costs its
// notes' voice-seconds and, for its own reverb and chorus, a few voices all song long.
std::vector<std::vector<std::size_t>> shareOut(const std::vector<StemChannel>& stems,
                                               const SongLoad& load, std::size_t lanes) {
    std::vector<std::pair<double, std::size_t>> costs;
    for (std::size_t i = 0; i < stems.size(); ++i)
        costs.emplace_back(load.voiceSeconds(stems[i].channel) + kInstanceVoices * load.seconds(),
                           i);
    std::sort(costs.begin(), costs.end(), std::greater<>());
    std::vector<std::vector<std::size_t>> assignment(lanes);
    std::vector<double> work(lanes, 0.0);
    for (const auto& [cost, stem] : costs) {
        const auto least = std::size_t(std::min_element(work.begin(), work.end()) - work.begin());
        assignment[least].push_back(stem);
        work[least] += cost;
    }
    return assignment;
}

} // namespace

StemSynthesis::StemSynthesis(MidiFile song, Synthesizer& synth, int sampleRate,
                             ThreadBudget& budget, unsigned maxThreads)
    : song_(std::move(song))
    , synth_(synth)
    , sampleRate_(checkedRate(sampleRate))
    , budget_(budget)
    , maxThreads_(maxThreads == 0 ? budget.total() : maxThreads)
    , stems_(soundingChannels(song_))
    , stemOfChannel_(kMidiChannels, -1)
    , lastFrame_(song_.frameAt(song_.endTime(), sampleRate) + SongTail::longest(sampleRate))
    , timeline_(song_, sampleRate)
    , stemLeft_(stems_.size(), std::vector<float>(kBlock))
    , stemRight_(stems_.size(), std::vector<float>(kBlock))
    , left_(kBlock)
    , right_(kBlock)
    , tail_(sampleRate) {
    for (std::size_t i = 0; i < stems_.size(); ++i)
        stemOfChannel_[std::size_t(stems_[i].channel)] = int(i);
}

StemSynthesis::~StemSynthesis() {
    lanes_.reset();
}

int StemSynthesis::percent() const {
    return timeline_.percent(finished_);
}

double StemSynthesis::threadSeconds() const {
    return lanes_ ? lanes_->pool().threadSeconds() : laneSeconds_;
}

int StemSynthesis::threads() const {
    return lanes_ ? int(lanes_->pool().threads()) : 0;
}

void StemSynthesis::start() {
    started_ = true;
    const std::size_t wanted =
        std::max<std::size_t>(1, std::min<std::size_t>(maxThreads_, stems_.size()));
    grant_ = budget_.acquire(unsigned(wanted));
    const std::size_t lanes = std::min<std::size_t>(grant_.threads(), stems_.size());
    grant_.shrink(unsigned(std::max<std::size_t>(lanes, 1)));
    if (lanes > 0) {
        const SongLoad load(song_, sampleRate_);
        if (keepLabels_)
            logs_.resize(stems_.size());
        lanes_ = std::make_unique<Lanes>(synth_, sampleRate_, stems_.size(),
                                         shareOut(stems_, load, lanes), effects_,
                                         keepLabels_ ? &logs_ : nullptr);
    }
}

std::size_t StemSynthesis::render(float* left, float* right, std::size_t maxFrames) {
    if (finished_ || maxFrames == 0)
        return 0;
    if (!started_)
        start();
    if (given_ == blockFrames_)
        nextBlock();
    const std::size_t count = std::min(maxFrames, blockFrames_ - given_);
    std::copy_n(left_.data() + given_, count, left);
    std::copy_n(right_.data() + given_, count, right);
    lastOffset_ = given_;
    given_ += count;
    totalGiven_ += count;
    timeline_.advance(count);
    if (tail_.over() && given_ == blockFrames_) {
        finished_ = true;
        // Their time outlives them, for the caller to count at the end.
        if (lanes_) {
            lanes_->pool().stop();
            laneSeconds_ = lanes_->pool().threadSeconds();
        }
        lanes_.reset();
        for (NoteLog& log : logs_) {
            log.close(totalGiven_);
            stemLabels_.push_back(log.take());
        }
        logs_.clear();
        grant_.release();
    }
    return count;
}

// Reads the next block of every stem, after handing the lanes as many blocks ahead as the queue
// holds, and sums the mix in stem order; the part past the song's end is the tail, judged on the
// mix and faded on every stem alike.
void StemSynthesis::nextBlock() {
    while (dispatched_ < summed_ + Lanes::kDepth && dispatched_ * kBlock < lastFrame_)
        dispatch(dispatched_++);
    const std::uint64_t start = summed_ * kBlock;
    const std::size_t frames = std::size_t(std::min<std::uint64_t>(kBlock, lastFrame_ - start));
    if (lanes_) {
        LanePool& pool = lanes_->pool();
        pool.publish(dispatched_);
        pool.await(summed_);
        for (std::size_t i = 0; i < stems_.size(); ++i) {
            std::copy_n(pool.job(i, summed_).left.data(), frames, stemLeft_[i].data());
            std::copy_n(pool.job(i, summed_).right.data(), frames, stemRight_[i].data());
        }
    }
    ++summed_;
    const auto sum = [&](std::size_t from, std::size_t to) {
        std::fill(left_.begin() + long(from), left_.begin() + long(to), 0.0f);
        std::fill(right_.begin() + long(from), right_.begin() + long(to), 0.0f);
        for (std::size_t i = 0; i < stems_.size(); ++i)
            for (std::size_t f = from; f < to; ++f) {
                left_[f] += stemLeft_[i][f];
                right_[f] += stemRight_[i][f];
            }
    };
    sum(0, frames);
    blockFrames_ = frames;
    given_ = 0;
    if (const std::uint64_t end = timeline_.songFrames(); start + frames > end) {
        const std::size_t song = std::size_t(end > start ? end - start : 0);
        const std::uint64_t tailFrom = tail_.frames();
        blockFrames_ = song + tail_.take(left_.data() + song, right_.data() + song, frames - song);
        for (std::size_t i = 0; i < stems_.size(); ++i)
            tail_.fade(tailFrom, stemLeft_[i].data() + song, stemRight_[i].data() + song,
                       blockFrames_ - song);
        sum(song, blockFrames_);
    }
}

// Hands each stem its events of one block, with their offsets into it: its channel's messages,
// and every SysEx message, which may address any part.
void StemSynthesis::dispatch(std::uint64_t block) {
    const std::uint64_t start = block * kBlock;
    const std::size_t frames = std::size_t(std::min<std::uint64_t>(kBlock, lastFrame_ - start));
    if (!lanes_) {
        timeline_.takeBefore(start + frames, [](const MidiEvent&, std::uint64_t) {});
        return;
    }
    LanePool& pool = lanes_->pool();
    for (std::size_t i = 0; i < stems_.size(); ++i) {
        pool.job(i, block).frames = frames;
        pool.job(i, block).events.clear();
    }
    timeline_.takeBefore(start + frames, [&](const MidiEvent& event, std::uint64_t frame) {
        const TimedEvent timed{std::uint32_t(frame > start ? frame - start : 0), event};
        const int channel = channelOf(event);
        if (event.status == 0xF0 || event.status == 0xF7) {
            for (std::size_t i = 0; i < stems_.size(); ++i)
                pool.job(i, block).events.push_back(timed);
        } else if (channel >= 0 && stemOfChannel_[std::size_t(channel)] >= 0) {
            pool.job(std::size_t(stemOfChannel_[std::size_t(channel)]), block)
                .events.push_back(timed);
        }
    });
}

} // namespace quillory::renderer
