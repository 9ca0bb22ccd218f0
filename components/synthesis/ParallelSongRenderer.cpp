// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/synthesis/ParallelSongRenderer.h"

#include "components/synthesis/EffectShare.h"
#include "components/synthesis/LanePool.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <limits>
#include <string>
#include <thread>

namespace quillory::renderer {

// The synthesisers of one split song as lanes of a pool (LanePool), each lane a synthesiser: the
// first plays on the caller's synthesiser and runs the reverb and chorus for all where they can be
// shared (EffectShare), each further one on one of its spares. The caller fills in a block's events
// for every lane and publishes it, and sums a block once every lane has rendered it. Its 32 blocks
// (3 s of song at 44.1 kHz, 20 to 40 ms of work) let a lane run ahead through a passage that is
// busier on another lane: with 8, the synthesis took 13% longer than its busiest lane's processor
// time, with 32 about 9%. The first lane, which runs the shared effects, cannot pass the others'
// sends, and the effect share's rings hold as much as this queue, so that none of the others waits
// for room there; on a thread that renders several lanes it comes last, after the sends it needs.
class ParallelSongRenderer::Ensemble {
public:
    static constexpr std::size_t kBlock = kBlockFrames;
    static constexpr std::size_t kDepth = 32;

    // logs: one per lane to write its notes down in, or none.
    Ensemble(Synthesizer& primary, int sampleRate, const std::vector<Synthesizer*>& spare,
             std::size_t threads, std::vector<NoteLog>* logs)
        : primary_(primary)
        , sampleRate_(sampleRate)
        , spare_(spare)
        , logs_(logs) {
        openEffectPool();
        const std::size_t lanes = spare.size() + 1;
        try {
            pool_ = std::make_unique<LanePool>(
                lanes, LanePool::roundAbout(lanes, threads), kDepth, kBlock,
                [this](std::size_t lane) -> Synthesizer& { return ready(lane); });
        } catch (...) {
            closeEffectPool();
            throw;
        }
    }
    ~Ensemble() { stop(); }
    Ensemble(const Ensemble&) = delete;
    Ensemble& operator=(const Ensemble&) = delete;

    std::size_t size() const { return pool_->lanes(); }
    std::size_t threads() const { return pool_->threads(); }
    LanePool::Job& job(std::size_t lane, std::uint64_t block) { return pool_->job(lane, block); }
    void publish(std::uint64_t blocks) { pool_->publish(blocks); }

    // Waits until every lane has rendered the block, and sums it into left and right, lane by
    // lane in order. Throws SynthError when a lane's synthesiser could not be made ready.
    void sum(std::uint64_t block, float* left, float* right) {
        pool_->await(block);
        const std::size_t frames = job(0, block).frames;
        std::copy_n(job(0, block).left.data(), frames, left);
        std::copy_n(job(0, block).right.data(), frames, right);
        for (std::size_t i = 1; i < size(); ++i) {
            const LanePool::Job& other = job(i, block);
            for (std::size_t f = 0; f < frames; ++f) {
                left[f] += other.left[f];
                right[f] += other.right[f];
            }
        }
    }

    std::vector<double> seconds() const { return pool_->laneSeconds(); }

    // Whether the first lane runs the reverb and chorus for all (see EffectShare).
    bool sharesEffects() const { return effectPool_ != 0; }

    void stop() {
        closeEffectPool(); // a lane may wait on another's effect sends
        if (pool_)
            pool_->stop();
        for (std::size_t lane = 0; logs_ && lane <= spare_.size(); ++lane)
            synth(lane).logNotes(nullptr);
    }

private:
    Synthesizer& synth(std::size_t lane) { return lane == 0 ? primary_ : *spare_[lane - 1]; }

    Synthesizer& ready(std::size_t lane) {
        Synthesizer& synth = this->synth(lane);
        try {
            synth.prepare(sampleRate_);
            if (logs_)
                synth.logNotes(&(*logs_)[lane]);
            if (effectPool_ != 0 &&
                !synth.shareEffects(*share_, effectPool_, lane == 0 ? -1 : int(lane) - 1))
                throw SynthError("the reverb and chorus cannot be shared");
        } catch (...) {
            closeEffectPool(); // the lanes that share with this one would wait for ever
            throw;
        }
        return synth;
    }

    // Every synthesiser must be able to take part, or none does.
    void openEffectPool() {
        share_ = EffectShare::available();
        if (!share_ || !primary_.canShareEffects())
            return;
        for (Synthesizer* synth : spare_)
            if (!synth->canShareEffects())
                return;
        effectPool_ = share_->open(int(spare_.size()));
    }
    void closeEffectPool() {
        if (effectPool_ != 0)
            share_->close(effectPool_);
    }

    Synthesizer& primary_;
    int sampleRate_;
    std::vector<Synthesizer*> spare_;
    std::vector<NoteLog>* logs_;
    EffectShare* share_ = nullptr;
    int effectPool_ = 0;
    std::unique_ptr<LanePool> pool_;
};

namespace {

int checkedRate(int sampleRate) {
    Synthesizer::checkRate(sampleRate);
    return sampleRate;
}

} // namespace

ParallelSongRenderer::ParallelSongRenderer(MidiFile song, Synthesizer& synth, int sampleRate,
                                           ThreadBudget& budget, unsigned maxThreads,
                                           SplitPolicy policy, const std::atomic<bool>* stop)
    : song_(std::move(song))
    , synth_(synth)
    , sampleRate_(checkedRate(sampleRate))
    , budget_(budget)
    , maxThreads_(maxThreads == 0 ? budget.total() : maxThreads)
    , policy_(policy)
    , stop_(stop)
    , lastFrame_(song_.frameAt(song_.endTime(), sampleRate) + SongTail::longest(sampleRate))
    , timeline_(song_, sampleRate)
    , tail_(sampleRate) {
}

ParallelSongRenderer::~ParallelSongRenderer() {
    stopHelpers();
    synth_.logNotes(nullptr);
}

void ParallelSongRenderer::raiseLaterBy(double boostDb) {
    boostDb_ = boostDb;
    tail_.lowerFloorBy(boostDb);
}

bool ParallelSongRenderer::finished() const {
    return single_ ? single_->finished() : finished_;
}

int ParallelSongRenderer::percent() const {
    return single_ ? single_->percent() : timeline_.percent(finished_);
}

std::vector<double> ParallelSongRenderer::laneWork() const {
    return sharer_ ? sharer_->work() : std::vector<double>{};
}

std::vector<double> ParallelSongRenderer::laneSeconds() const {
    return ensemble_ ? ensemble_->seconds() : laneSeconds_;
}

double ParallelSongRenderer::threadSeconds() const {
    double total = 0;
    for (const double seconds : laneSeconds())
        total += seconds;
    return total;
}

// Weighs the song when threads are free for a split, and takes as many as pay, one at least.
// The further synthesisers a split would need load their SoundFont meanwhile, on a thread of
// their own: weighing and loading take about as long. A song that is stopped meanwhile does not
// wait for them, but leaves them to the synthesiser for its next songs.
void ParallelSongRenderer::start() {
    // A song too short to pay for a split needs no spares; a longer one may, and they load
    // meanwhile on a thread of their own: weighing and loading take about as long.
    if (song_.lengthMs() >= kSpareLoadingMs)
        synth_.loadSpares(kMostLanes - 1, sampleRate_);
    const int lanes = plannedLanes();
    if (lanes < 2) {
        grant_ = budget_.acquire(1);
        renderSingle();
        return;
    }
    grant_ = budget_.acquire(std::min(unsigned(lanes), maxThreads_));
    Synthesizers synths = synth_.spares(unsigned(lanes - 1), sampleRate_);
    // Memory short, or the SoundFont gone: the song as one synthesiser plays it.
    if (int(synths.size()) + 1 < lanes) {
        renderSingle();
        return;
    }
    split(std::move(synths), grant_.threads());
}

int ParallelSongRenderer::plannedLanes() {
    if (stop_ && stop_->load())
        return 1;
    struct Stopped {};
    try {
        synth_.startWeighing();
        load_.emplace(song_, sampleRate_, [this](const MidiEvent& event) {
            if (stop_ && stop_->load(std::memory_order_relaxed))
                throw Stopped{};
            return synth_.weigh(event);
        });
    } catch (const SynthError&) {
        return 1; // the SoundFont cannot be loaded again to weigh with: one instance
    } catch (const Stopped&) {
        return 1;
    }
    if (policy_ == SplitPolicy::Always)
        return int(std::max(2u, maxThreads_));
    return bestInstances(*load_, kMostLanes, kMostLanes, EffectShare::available() != nullptr);
}

void ParallelSongRenderer::split(Synthesizers spare, unsigned threads) {
    const int instances = int(spare.size()) + 1;
    if (keepLabels_)
        logs_.resize(spare.size() + 1);
    ensemble_ = std::make_unique<Ensemble>(synth_, sampleRate_, spare, threads,
                                           keepLabels_ ? &logs_ : nullptr);
    sharesEffects_ = ensemble_->sharesEffects();
    sharer_ = std::make_unique<NoteSharer>(*load_, instances, sharesEffects_);
    instances_ = instances;
    threads_ = int(ensemble_->threads());
    left_.resize(Ensemble::kBlock);
    right_.resize(Ensemble::kBlock);
}

void ParallelSongRenderer::renderSingle() {
    ensemble_.reset();
    sharesEffects_ = false;
    grant_.shrink(1);
    single_ = std::make_unique<SongRenderer>(song_, synth_, sampleRate_);
    single_->raiseLaterBy(boostDb_);
    logs_.clear();
    if (keepLabels_) {
        logs_.resize(1);
        synth_.logNotes(&logs_[0]);
    }
    instances_ = 1;
    threads_ = 1;
}

void ParallelSongRenderer::stopHelpers() {
    if (ensemble_)
        laneSeconds_ = ensemble_->seconds();
    ensemble_.reset();
    grant_.release();
}

std::size_t ParallelSongRenderer::render(float* left, float* right, std::size_t maxFrames) {
    if (instances_ == 0)
        start();
    if (single_) {
        const std::size_t done = single_->render(left, right, maxFrames);
        totalGiven_ += done;
        if (single_->finished()) {
            grant_.release();
            closeLogs();
        }
        return done;
    }
    if (finished_ || maxFrames == 0)
        return 0;
    if (given_ == blockFrames_) {
        try {
            nextBlock();
        } catch (const SynthError&) {
            // A further instance could not load the SoundFont (gone, or memory short): before
            // anything is given out, the song still renders on the one synth that has it.
            if (summed_ > 0)
                throw;
            renderSingle();
            return render(left, right, maxFrames);
        }
    }
    const std::size_t count = std::min({maxFrames, kMaxBlockFrames, blockFrames_ - given_});
    std::copy_n(left_.data() + given_, count, left);
    std::copy_n(right_.data() + given_, count, right);
    given_ += count;
    timeline_.advance(count);
    if (tail_.over() && given_ == blockFrames_) {
        finished_ = true;
        stopHelpers();
        closeLogs();
    }
    totalGiven_ += count;
    return count;
}

void ParallelSongRenderer::closeLogs() {
    if (logs_.empty())
        return;
    synth_.logNotes(nullptr);
    std::vector<std::vector<NoteLabel>> lanes;
    for (NoteLog& log : logs_) {
        log.close(totalGiven_);
        lanes.push_back(log.take());
    }
    labels_ = mergedLabels(std::move(lanes));
    logs_.clear();
}

// Sums the next block, after handing the instances as many blocks ahead as the queue holds; the
// part of it past the song's end is the tail, cut where the tail ends.
void ParallelSongRenderer::nextBlock() {
    while (dispatched_ < summed_ + Ensemble::kDepth && dispatched_ * Ensemble::kBlock < lastFrame_)
        dispatch(dispatched_++);
    ensemble_->publish(dispatched_);
    const std::uint64_t start = summed_ * Ensemble::kBlock;
    ensemble_->sum(summed_, left_.data(), right_.data());
    const std::size_t frames = ensemble_->job(0, summed_).frames;
    ++summed_;
    blockFrames_ = frames;
    given_ = 0;
    if (const std::uint64_t end = timeline_.songFrames(); start + frames > end) {
        const std::size_t song = std::size_t(end > start ? end - start : 0);
        blockFrames_ = song + tail_.take(left_.data() + song, right_.data() + song, frames - song);
    }
}

// Hands each instance its events of one block, with their offsets into it.
void ParallelSongRenderer::dispatch(std::uint64_t block) {
    const std::uint64_t start = block * Ensemble::kBlock;
    const std::size_t frames =
        std::size_t(std::min<std::uint64_t>(Ensemble::kBlock, lastFrame_ - start));
    for (std::size_t lane = 0; lane < ensemble_->size(); ++lane) {
        LanePool::Job& job = ensemble_->job(lane, block);
        job.frames = frames;
        job.events.clear();
    }
    timeline_.takeBefore(start + frames, [&](const MidiEvent& event, std::uint64_t frame) {
        if (event.status == 0xFF)
            return;
        const TimedEvent timed{std::uint32_t(frame > start ? frame - start : 0), event};
        const int lane = sharer_->laneFor(event, frame);
        for (std::size_t i = 0; i < ensemble_->size(); ++i)
            if (lane < 0 || std::size_t(lane) == i)
                ensemble_->job(i, block).events.push_back(timed);
    });
}

} // namespace quillory::renderer
