// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/synthesis/ParallelSongRenderer.h"

#include "components/synthesis/EffectShare.h"
#include "components/synthesis/LaneHandover.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <limits>
#include <string>
#include <thread>

namespace quillory::renderer {

// The synthesisers of one song, each on a thread of its own. The caller fills in a block's events
// for every lane and publishes it; each lane renders the blocks published as fast as it can, up
// to kDepth ahead of the caller, which sums a block once every lane has rendered it. Nobody waits
// for anybody but at the ends of that queue. Its 32 blocks (3 s of song at 44.1 kHz, 20 to 40 ms
// of work) let a lane run ahead through a passage that is busier on another lane: with 8, the
// synthesis took 13% longer than its busiest lane's processor time, with 32 about 9%. The first
// lane, which runs the shared effects, cannot pass the others' sends, and the effect share's
// rings hold as much as this queue, so that none of the others waits for room there.
class ParallelSongRenderer::Ensemble {
public:
    static constexpr std::size_t kBlock = 4096;
    static constexpr std::size_t kDepth = 32;

    struct Job {
        std::size_t frames = 0;
        std::vector<TimedEvent> events;
        std::vector<float> left = std::vector<float>(kBlock);
        std::vector<float> right = std::vector<float>(kBlock);
    };

    // Starts a thread per lane: the first plays on the caller's synthesiser (`primary`, readied
    // there), each further one on one of `spare`, made ready while the song was weighed.
    Ensemble(Synthesizer& primary, int sampleRate, const std::vector<Synthesizer*>& spare)
        : primary_(primary)
        , sampleRate_(sampleRate)
        , lanes_(spare.size() + 1) {
        for (std::size_t i = 1; i < lanes_.size(); ++i)
            lanes_[i].synth = spare[i - 1];
        openEffectPool();
        try {
            for (std::size_t i = 0; i < lanes_.size(); ++i)
                lanes_[i].thread = std::thread(&Ensemble::run, this, i);
        } catch (...) {
            stop();
            throw;
        }
    }
    ~Ensemble() { stop(); }
    Ensemble(const Ensemble&) = delete;
    Ensemble& operator=(const Ensemble&) = delete;

    std::size_t size() const { return lanes_.size(); }
    // A block's job on a lane, to fill before it is published; its slot is free once the block
    // kDepth before it has been summed.
    Job& job(std::size_t lane, std::uint64_t block) { return lanes_[lane].jobs[block % kDepth]; }
    void publish(std::uint64_t blocks) { gate_.publish(blocks); }

    // Waits until every lane has rendered the block, and sums it into left and right. Throws
    // SynthError when a lane's synthesiser could not be made ready.
    void sum(std::uint64_t block, float* left, float* right) {
        for (const Lane& lane : lanes_)
            lane.count.await(block);
        const std::size_t frames = job(0, block).frames;
        std::copy_n(job(0, block).left.data(), frames, left);
        std::copy_n(job(0, block).right.data(), frames, right);
        for (std::size_t i = 1; i < lanes_.size(); ++i) {
            const Job& other = job(i, block);
            for (std::size_t f = 0; f < frames; ++f) {
                left[f] += other.left[f];
                right[f] += other.right[f];
            }
        }
    }

    std::vector<double> seconds() const {
        std::vector<double> seconds;
        for (const Lane& lane : lanes_)
            seconds.push_back(lane.seconds.load(std::memory_order_relaxed));
        return seconds;
    }

    // Whether the first lane runs the reverb and chorus for all (see EffectShare).
    bool sharesEffects() const { return pool_ != 0; }

    void stop() {
        if (pool_ != 0)
            share_->close(pool_); // a lane may wait on another's effect sends
        gate_.stop();
        for (Lane& lane : lanes_)
            if (lane.thread.joinable())
                lane.thread.join();
    }

private:
    struct alignas(64) Lane {
        std::array<Job, kDepth> jobs;
        Synthesizer* synth = nullptr;
        LaneCount count;
        std::atomic<double> seconds{0};
        std::thread thread;
    };

    void run(std::size_t index) {
        Lane& lane = lanes_[index];
        Synthesizer* synth = index == 0 ? &primary_ : lane.synth;
        try {
            synth->prepare(sampleRate_);
            if (pool_ != 0 &&
                !synth->shareEffects(*share_, pool_, index == 0 ? -1 : int(index) - 1))
                throw SynthError("the reverb and chorus cannot be shared");
        } catch (const std::exception& e) {
            if (pool_ != 0)
                share_->close(pool_); // the lanes that share with this one would wait for ever
            lane.count.fail(e.what());
            return;
        }
        for (std::uint64_t block = 0; gate_.await(block); ++block) {
            const double before = threadCpuSeconds();
            Job& work = job(index, block);
            renderBlock(*synth, work.events, work.frames, work.left.data(), work.right.data());
            lane.seconds.store(lane.seconds.load(std::memory_order_relaxed) + threadCpuSeconds() -
                                   before,
                               std::memory_order_relaxed);
            lane.count.rendered(block + 1);
        }
    }

    // Every synthesiser must be able to take part, or none does.
    void openEffectPool() {
        share_ = EffectShare::available();
        if (!share_ || !primary_.canShareEffects())
            return;
        for (std::size_t i = 1; i < lanes_.size(); ++i)
            if (!lanes_[i].synth->canShareEffects())
                return;
        pool_ = share_->open(int(lanes_.size()) - 1);
    }

    Synthesizer& primary_;
    int sampleRate_;
    EffectShare* share_ = nullptr;
    int pool_ = 0;
    std::vector<Lane> lanes_;
    BlockGate gate_;
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
    , songFrames_(song_.frameAt(song_.endTime(), sampleRate))
    , lastFrame_(songFrames_ + SongTail::longest(sampleRate))
    , cursor_(song_)
    , tail_(sampleRate) {
}

ParallelSongRenderer::~ParallelSongRenderer() {
    stopHelpers();
}

void ParallelSongRenderer::raiseLaterBy(double boostDb) {
    boostDb_ = boostDb;
    tail_.lowerFloorBy(boostDb);
}

bool ParallelSongRenderer::finished() const {
    return single_ ? single_->finished() : finished_;
}

int ParallelSongRenderer::percent() const {
    if (single_)
        return single_->percent();
    if (finished_)
        return 100;
    if (songFrames_ == 0)
        return 99;
    return static_cast<int>(std::min<std::uint64_t>(99, position_ * 100 / songFrames_));
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
    const unsigned free = std::min({budget_.total(), maxThreads_, budget_.available()});
    if (free >= 2)
        synth_.loadSpares(free - 1, sampleRate_);
    const int wanted = free >= 2 ? instancesFor(int(free)) : 1;
    const bool stopped = stop_ && stop_->load();
    Synthesizers synths =
        free >= 2 && !stopped ? synth_.spares(free - 1, sampleRate_) : Synthesizers{};
    grant_ = budget_.acquire(unsigned(wanted));
    const int instances = std::min(int(grant_.threads()), int(synths.size()) + 1);
    if (instances < 2) {
        renderSingle();
        return;
    }
    synths.resize(std::size_t(instances - 1));
    split(std::move(synths));
}

int ParallelSongRenderer::instancesFor(int threads) {
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
    return policy_ == SplitPolicy::Always
               ? threads
               : bestInstances(*load_, threads, threads, EffectShare::available() != nullptr);
}

void ParallelSongRenderer::split(Synthesizers spare) {
    const int instances = int(spare.size()) + 1;
    ensemble_ = std::make_unique<Ensemble>(synth_, sampleRate_, spare);
    sharesEffects_ = ensemble_->sharesEffects();
    sharer_ = std::make_unique<NoteSharer>(*load_, instances, sharesEffects_);
    instances_ = instances;
    left_.resize(Ensemble::kBlock);
    right_.resize(Ensemble::kBlock);
    MidiEvent event;
    if (cursor_.next(event)) {
        pending_ = true;
        pendingEvent_ = event;
        pendingFrame_ = song_.frameAt(event.time, sampleRate_);
    }
}

void ParallelSongRenderer::renderSingle() {
    ensemble_.reset();
    sharesEffects_ = false;
    grant_.shrink(1);
    single_ = std::make_unique<SongRenderer>(song_, synth_, sampleRate_);
    single_->raiseLaterBy(boostDb_);
    instances_ = 1;
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
        if (single_->finished())
            grant_.release();
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
    position_ = std::min(songFrames_, position_ + count);
    if (tail_.over() && given_ == blockFrames_) {
        finished_ = true;
        stopHelpers();
    }
    return count;
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
    if (start + frames > songFrames_) {
        const std::size_t song = std::size_t(songFrames_ > start ? songFrames_ - start : 0);
        blockFrames_ = song + tail_.take(left_.data() + song, right_.data() + song, frames - song);
    }
}

// Hands each instance its events of one block, with their offsets into it.
void ParallelSongRenderer::dispatch(std::uint64_t block) {
    const std::uint64_t start = block * Ensemble::kBlock;
    const std::size_t frames =
        std::size_t(std::min<std::uint64_t>(Ensemble::kBlock, lastFrame_ - start));
    for (std::size_t lane = 0; lane < ensemble_->size(); ++lane) {
        Ensemble::Job& job = ensemble_->job(lane, block);
        job.frames = frames;
        job.events.clear();
    }
    while (pending_ && pendingFrame_ < start + frames) {
        if (pendingEvent_.status != 0xFF) {
            const TimedEvent timed{std::uint32_t(pendingFrame_ > start ? pendingFrame_ - start : 0),
                                   pendingEvent_};
            const int lane = sharer_->laneFor(pendingEvent_, pendingFrame_);
            for (std::size_t i = 0; i < ensemble_->size(); ++i)
                if (lane < 0 || std::size_t(lane) == i)
                    ensemble_->job(i, block).events.push_back(timed);
        }
        MidiEvent event;
        if (cursor_.next(event)) {
            pendingEvent_ = event;
            pendingFrame_ = song_.frameAt(event.time, sampleRate_);
        } else {
            pending_ = false;
        }
    }
}

} // namespace quillory::renderer
