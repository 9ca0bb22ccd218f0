#include "components/synthesis/ParallelSongRenderer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

namespace quillory::renderer {

namespace {

struct TimedEvent {
    std::uint32_t offset; // frames into the block
    MidiEvent event;
};

// The notes themselves; everything else reaches every instance.
bool isNoteEvent(std::uint8_t status) {
    const std::uint8_t kind = status & 0xF0;
    return kind == 0x80 || kind == 0x90 || kind == 0xA0;
}

} // namespace

// The synthesisers and the helper threads of one song. The caller's thread fills in the block
// (its length and each instance's events) and starts a round; each helper renders its
// instance's share while the caller renders the first, and the caller sums once all are done.
class ParallelSongRenderer::Ensemble {
public:
    struct Lane {
        Synthesizer* synth = nullptr;
        std::unique_ptr<Synthesizer> own;
        std::vector<float> left;
        std::vector<float> right;
        std::vector<TimedEvent> events;
    };

    // Readies `primary` and loads a synthesiser per further lane on the calling thread, then
    // starts a helper per further lane. FluidSynth loads with an OpenMP team of its own thread's,
    // so loading here keeps the helpers to synthesis alone. Throws SynthError when a synthesiser
    // cannot be made ready.
    Ensemble(Synthesizer& primary, int sampleRate, int lanes)
        : lanes_(std::size_t(lanes)) {
        primary.prepare(sampleRate);
        lanes_[0].synth = &primary;
        for (std::size_t i = 1; i < lanes_.size(); ++i) {
            lanes_[i].own = std::make_unique<Synthesizer>(primary.soundFont(), sampleRate);
            lanes_[i].synth = lanes_[i].own.get();
            lanes_[i].left.resize(kMaxBlockFrames);
            lanes_[i].right.resize(kMaxBlockFrames);
        }
        try {
            for (std::size_t i = 1; i < lanes_.size(); ++i)
                helpers_.emplace_back(&Ensemble::help, this, i);
        } catch (...) {
            stop();
            throw;
        }
    }
    ~Ensemble() { stop(); }
    Ensemble(const Ensemble&) = delete;
    Ensemble& operator=(const Ensemble&) = delete;

    std::size_t size() const { return lanes_.size(); }
    Lane& lane(std::size_t index) { return lanes_[index]; }

    void clearEvents() {
        for (Lane& lane : lanes_)
            lane.events.clear();
    }
    void add(std::uint32_t offset, const MidiEvent& event, int owner) {
        if (event.status == 0xFF)
            return; // meta events: the tempo map is already in the event times
        if (isNoteEvent(event.status)) {
            lanes_[std::size_t(owner)].events.push_back({offset, event});
            return;
        }
        for (Lane& lane : lanes_)
            lane.events.push_back({offset, event});
    }

    // Renders `frames` into left and right on every lane and sums.
    void render(float* left, float* right, std::size_t frames) {
        frames_ = frames;
        output_[0] = left;
        output_[1] = right;
        pending_.store(unsigned(lanes_.size() - 1), std::memory_order_relaxed);
        round_.fetch_add(1, std::memory_order_release);
        round_.notify_all();
        renderLane(0);
        awaitHelpers();
        for (std::size_t i = 1; i < lanes_.size(); ++i) {
            const float* l = lanes_[i].left.data();
            const float* r = lanes_[i].right.data();
            for (std::size_t f = 0; f < frames; ++f) {
                left[f] += l[f];
                right[f] += r[f];
            }
        }
    }

private:
    void help(std::size_t index) {
        std::uint32_t seen = 0;
        for (;;) {
            round_.wait(seen, std::memory_order_acquire);
            seen = round_.load(std::memory_order_acquire);
            if (quit_.load(std::memory_order_acquire))
                return;
            renderLane(index);
            done();
        }
    }

    void done() {
        if (pending_.fetch_sub(1, std::memory_order_acq_rel) == 1)
            pending_.notify_all();
    }

    void awaitHelpers() {
        for (unsigned left = pending_.load(std::memory_order_acquire); left != 0;
             left = pending_.load(std::memory_order_acquire))
            pending_.wait(left, std::memory_order_acquire);
    }

    void stop() {
        if (helpers_.empty())
            return;
        quit_.store(true, std::memory_order_release);
        round_.fetch_add(1, std::memory_order_release);
        round_.notify_all();
        for (std::thread& helper : helpers_)
            helper.join();
        helpers_.clear();
    }

    // Plays each event at its frame, as SongRenderer does: render up to it, play it, go on.
    void renderLane(std::size_t index) {
        Lane& lane = lanes_[index];
        float* left = index == 0 ? output_[0] : lane.left.data();
        float* right = index == 0 ? output_[1] : lane.right.data();
        Synthesizer& synth = *lane.synth;
        std::size_t at = 0;
        for (const TimedEvent& timed : lane.events) {
            if (timed.offset > at) {
                synth.render(left + at, right + at, int(timed.offset - at));
                at = timed.offset;
            }
            synth.play(timed.event);
        }
        if (frames_ > at)
            synth.render(left + at, right + at, int(frames_ - at));
    }

    std::vector<Lane> lanes_;
    std::vector<std::thread> helpers_;
    std::atomic<std::uint32_t> round_{0};
    std::atomic<unsigned> pending_{0};
    std::atomic<bool> quit_{false};
    // The current block, written by the caller before it starts a round.
    std::size_t frames_ = 0;
    float* output_[2] = {nullptr, nullptr};
};

namespace {

int checkedRate(int sampleRate) {
    Synthesizer::checkRate(sampleRate);
    return sampleRate;
}

} // namespace

ParallelSongRenderer::ParallelSongRenderer(MidiFile song, Synthesizer& synth, int sampleRate,
                                           ThreadBudget& budget, unsigned maxThreads)
    : song_(std::move(song))
    , synth_(synth)
    , sampleRate_(checkedRate(sampleRate))
    , budget_(budget)
    , maxThreads_(maxThreads == 0 ? budget.total() : maxThreads)
    , plan_(song_)
    , songFrames_(song_.frameAt(song_.endTime(), sampleRate))
    , tail_(sampleRate)
    , cursor_(song_) {
}

namespace {

// The calling thread renders group 0 and also hands out the events, sums and writes: it gets
// the group with the least work.
void putLightestFirst(ChannelGroups& groups) {
    const auto lightest = std::uint8_t(std::min_element(groups.loads.begin(), groups.loads.end()) -
                                       groups.loads.begin());
    if (lightest == 0)
        return;
    std::swap(groups.loads[0], groups.loads[lightest]);
    const auto swapped = [lightest](std::uint8_t& owner) {
        if (owner == lightest)
            owner = 0;
        else if (owner == 0)
            owner = lightest;
    };
    std::for_each(groups.owner.begin(), groups.owner.end(), swapped);
    for (auto& keys : groups.keyOwner)
        std::for_each(keys.begin(), keys.end(), swapped);
}

} // namespace

ParallelSongRenderer::~ParallelSongRenderer() {
    stopHelpers();
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

void ParallelSongRenderer::start() {
    const unsigned channels = unsigned(std::max(1, plan_.channelsInUse()));
    grant_ = budget_.acquire(std::min({budget_.total(), maxThreads_, channels}));
    if (grant_.threads() > 1) {
        // Weighed by the voices each note starts; the synth is built anew for the song after.
        plan_ = ChannelPlan(song_, [this](const MidiEvent& event) {
            const Synthesizer::NoteCost cost = synth_.weigh(event);
            return ChannelPlan::NoteCost{cost.voices, cost.exclusiveClass};
        });
    }
    ChannelGroups groups = plan_.split(int(grant_.threads()));
    putLightestFirst(groups);
    grant_.shrink(unsigned(groups.count()));
    if (groups.count() == 1) {
        renderSingle();
        return;
    }
    try {
        ensemble_ = std::make_unique<Ensemble>(synth_, sampleRate_, groups.count());
    } catch (const std::exception&) {
        // A further instance could not load the SoundFont (gone, or memory short): the song
        // still renders on the one synth that has it.
        renderSingle();
        return;
    }
    owner_ = groups.keyOwner;
    instances_ = groups.count();
    MidiEvent event;
    if (cursor_.next(event)) {
        pending_ = true;
        pendingEvent_ = event;
        pendingFrame_ = song_.frameAt(event.time, sampleRate_);
    }
}

void ParallelSongRenderer::renderSingle() {
    grant_.shrink(1);
    single_ = std::make_unique<SongRenderer>(song_, synth_, sampleRate_);
    single_->raiseLaterBy(boostDb_);
    instances_ = 1;
}

void ParallelSongRenderer::stopHelpers() {
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
    const std::size_t frames = std::min(maxFrames, kMaxBlockFrames);
    const std::size_t done =
        position_ < songFrames_ ? renderSong(left, right, frames) : renderTail(left, right, frames);
    if (finished_)
        stopHelpers();
    return done;
}

// Hands each instance the events before `frame`, with their offsets into the block that starts
// at position_.
void ParallelSongRenderer::dispatchUntil(std::uint64_t frame) {
    ensemble_->clearEvents();
    while (pending_ && pendingFrame_ < frame) {
        const std::uint64_t offset = pendingFrame_ > position_ ? pendingFrame_ - position_ : 0;
        ensemble_->add(std::uint32_t(offset), pendingEvent_,
                       owner_[std::size_t(pendingEvent_.status & 0x0F)]
                             [std::size_t(pendingEvent_.data1 & 0x7F)]);
        MidiEvent event;
        if (cursor_.next(event)) {
            pendingEvent_ = event;
            pendingFrame_ = song_.frameAt(event.time, sampleRate_);
        } else {
            pending_ = false;
        }
    }
}

std::size_t ParallelSongRenderer::renderSong(float* left, float* right, std::size_t frames) {
    const std::size_t count = std::size_t(std::min<std::uint64_t>(frames, songFrames_ - position_));
    dispatchUntil(position_ + count);
    ensemble_->render(left, right, count);
    position_ += count;
    return count;
}

// The tail is judged on the sum, as SongRenderer judges it on its one synth; what the instances
// rendered past its end is dropped.
std::size_t ParallelSongRenderer::renderTail(float* left, float* right, std::size_t frames) {
    dispatchUntil(std::numeric_limits<std::uint64_t>::max());
    const std::size_t count = std::size_t(
        std::min<std::uint64_t>(frames, SongTail::longest(sampleRate_) - tail_.frames()));
    ensemble_->render(left, right, count);
    const std::size_t filled = tail_.take(left, right, count);
    finished_ = tail_.over();
    return filled;
}

} // namespace quillory::renderer
