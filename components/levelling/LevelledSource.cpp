// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/levelling/LevelledSource.h"

#include "components/audio/StereoLayout.h"
#include "components/synthesis/SongTail.h"
#include "components/synthesis/ThreadClock.h"
#include "platform/ThreadName.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

namespace quillory::renderer {

namespace {

// Enough for the second thread to ride out a slow write, small enough that a stop waits for
// little.
constexpr std::size_t kQueueBlocks = 8;
// The tail is searched backwards in pieces of this many frames.
constexpr std::uint64_t kTailChunk = 16384;
// Fewer frames to check than this are not worth a thread.
constexpr std::uint64_t kSharedCheckFrames = 1 << 17;

// The work file holds fewer frames than were written to it.
[[noreturn]] void endsEarly(const FloatIntermediate& store) {
    throw WorkFileError("reading " + store.path().string() + " failed (it ends early)");
}

} // namespace

LevelledSource::LevelledSource(BlockSource& synthesis, int sampleRate, int channels,
                               std::unique_ptr<FloatIntermediate> store,
                               const LoudnessTarget& target, int measuringShare, Listener listener)
    : synthesis_(synthesis)
    , sampleRate_(sampleRate)
    , channels_(channels)
    , meter_(sampleRate, channels)
    , store_(std::move(store))
    , target_(target)
    , measuringShare_(std::clamp(measuringShare, 0, 98))
    , listener_(std::move(listener))
    , queue_(kQueueBlocks) {
    synthesis_.raiseLaterBy(target_.maxBoostDb);
    keeper_ = std::thread(&LevelledSource::keep, this);
}

LevelledSource::~LevelledSource() {
    stopReading();
    stopChecking();
    stopKeeping();
}

// The second thread: each block, interleaved once, to the meter, the work file and the listener.
void LevelledSource::keep() {
    platform::NameThisThread("quillory-level");
    try {
        AudioBlock block;
        while (queue_.pop(block)) {
            meter_.addInterleaved(block.samples.data(), block.frames);
            store_->writeInterleaved(block.samples.data(), block.frames);
            if (store_->full())
                storeFull_ = true;
            if (listener_)
                listener_(block.samples.data(), block.frames);
        }
    } catch (...) {
        failure_ = std::current_exception();
        queue_.abandon();
    }
    keeperSeconds_ = threadCpuSeconds();
}

double LevelledSource::threadSeconds() const {
    return synthesis_.threadSeconds() + keeperSeconds_.load();
}

void LevelledSource::stopKeeping() {
    queue_.abandon();
    if (keeper_.joinable())
        keeper_.join();
}

void LevelledSource::settle() {
    queue_.close();
    if (keeper_.joinable())
        keeper_.join();
    if (failure_)
        std::rethrow_exception(std::exchange(failure_, nullptr));
}

std::size_t LevelledSource::render(float* left, float* right, std::size_t maxFrames) {
    advanced_ = 0;
    // A pass that ends without work in this call hands over to the next at once, so each call
    // does some work until the song is done.
    while (advanced_ == 0 && maxFrames > 0) {
        switch (pass_) {
        case Pass::Measuring:
            measure(left, right, maxFrames);
            if (advanced_ == 0 && pass_ == Pass::Measuring && !synthesis_.finished())
                return 0; // a source that yields nothing yet
            break;
        case Pass::Checking:
            check(left, right, maxFrames);
            break;
        case Pass::Levelled:
            if (const std::size_t n = levelled(left, right, maxFrames); n > 0)
                return n;
            break;
        case Pass::Unlevelled:
            return unlevelled(left, right, maxFrames);
        case Pass::Done:
            return 0;
        }
    }
    return 0;
}

void LevelledSource::measure(float* left, float* right, std::size_t maxFrames) {
    if (storeFull_) {
        settle();
        startUnlevelled();
        return;
    }
    const std::size_t n = synthesis_.render(left, right, maxFrames);
    if (n > 0) {
        // Refused only once the second thread has failed: its failure is the one to report.
        if (!queue_.push(AudioBlock::interleaved(left, right, n)))
            settle();
        synthesised_ += n;
    }
    advanced_ = n;
    if (synthesis_.finished()) {
        settle();
        if (store_->full())
            startUnlevelled();
        else
            startChecking();
    }
}

// Every block synthesised so far is in the work file or, past a full disk, in its memory.
void LevelledSource::startUnlevelled() {
    unlevelledFrom_ = percent();
    notice_ = "the work folder " + store_->path().parent_path().string() +
              " ran out of room for the copy of the song: " + store_->roomProblem();
    store_->rewind();
    pass_ = Pass::Unlevelled;
}

std::size_t LevelledSource::unlevelled(float* left, float* right, std::size_t maxFrames) {
    std::size_t n = 0;
    if (store_) {
        n = store_->read(left, right, maxFrames);
        // Everything kept is out: the file's room goes back to the disk.
        if (n == 0)
            store_.reset();
    }
    if (!store_)
        n = synthesis_.render(left, right, maxFrames);
    advanced_ = n;
    if (n == 0 && synthesis_.finished())
        pass_ = Pass::Done;
    return n;
}

void LevelledSource::startChecking() {
    stretches_ = meter_.stretchesToCheck(target_);
    for (const FrameRange& range : stretches_)
        toCheck_ += range.end - range.begin;
    stretch_ = 0;
    ownStretches_ = stretches_.size();
    pass_ = Pass::Checking;
    if (stretches_.empty())
        startLevelled();
    else if (toCheck_ >= kSharedCheckFrames)
        shareCheck();
}

// The stretches from about half of the frames on go to a thread of their own.
void LevelledSource::shareCheck() {
    std::uint64_t first = 0;
    std::size_t half = 0;
    for (; half < stretches_.size() && 2 * first < toCheck_; ++half)
        first += stretches_[half].end - stretches_[half].begin;
    if (half == stretches_.size())
        return;
    ownStretches_ = half;
    // Ends the writing, so that both threads only read the work file from now on.
    store_->rewind();
    checker_ = std::thread(&LevelledSource::checkOthers, this, half);
}

void LevelledSource::checkOthers(std::size_t from) {
    platform::NameThisThread("quillory-peaks");
    try {
        TruePeakCheck peaks(sampleRate_, channels_);
        std::vector<float> stereo(2 * kBlockFrames);
        for (std::size_t s = from; s < stretches_.size() && !stopChecker_; ++s) {
            const FrameRange& range = stretches_[s];
            peaks.begin();
            for (std::uint64_t at = range.begin; at < range.end && !stopChecker_;) {
                const auto want =
                    std::size_t(std::min<std::uint64_t>(kBlockFrames, range.end - at));
                if (store_->readInterleavedAt(at, stereo.data(), want) < want)
                    endsEarly(*store_);
                peaks.addStereo(stereo.data(), want);
                at += want;
                otherChecked_ += want;
                otherChecked_.notify_all();
            }
            peaks.end();
        }
        otherPeak_ = peaks.peak();
    } catch (...) {
        checkerFailure_ = std::current_exception();
    }
    otherChecked_ |= kOtherDone;
    otherChecked_.notify_all();
}

// Hands on what the other thread has checked since the last call, waiting for a block of it;
// once it has ended, its peak joins the meter's.
void LevelledSource::awaitOtherCheck() {
    otherChecked_.wait(otherCounted_);
    const std::uint64_t now = otherChecked_;
    const std::uint64_t frames = now & ~kOtherDone;
    advanced_ = std::size_t(frames - (otherCounted_ & ~kOtherDone));
    checkedFrames_ += advanced_;
    otherCounted_ = now;
    if (!(now & kOtherDone))
        return;
    checker_.join();
    if (checkerFailure_)
        std::rethrow_exception(std::exchange(checkerFailure_, nullptr));
    meter_.addCheckedPeak(otherPeak_);
    startLevelled();
}

void LevelledSource::stopChecking() {
    stopChecker_ = true;
    if (checker_.joinable())
        checker_.join();
}

// One block of one stretch, read back into the caller's buffers (which carry nothing out now).
void LevelledSource::check(float* left, float* right, std::size_t maxFrames) {
    if (stretch_ == ownStretches_) {
        awaitOtherCheck();
        return;
    }
    const FrameRange& range = stretches_[stretch_];
    if (checkAt_ <= range.begin) {
        meter_.beginCheck();
        store_->seek(range.begin);
        checkAt_ = range.begin;
    }
    const std::size_t want = std::size_t(std::min<std::uint64_t>(maxFrames, range.end - checkAt_));
    const std::size_t n = store_->read(left, right, want);
    if (n < want)
        endsEarly(*store_);
    meter_.check(left, right, n);
    checkAt_ += n;
    checkedFrames_ += n;
    advanced_ = n;
    if (checkAt_ >= range.end) {
        meter_.endCheck();
        if (++stretch_ == stretches_.size())
            startLevelled();
    }
}

void LevelledSource::startLevelled() {
    measured_ = meter_.result();
    handOut(loudnessGainDb(measured_, target_));
}

void LevelledSource::handOut(double gainDb) {
    gainDb_ = gainDb;
    factor_ = float(dbToFactor(gainDb_));
    levelledEnd_ = tailEnd();
    store_->rewind();
    levelledFrames_ = 0;
    levelledBlock_ = {};
    levelledBlockAt_ = 0;
    pass_ = Pass::Levelled;
    readAhead_ = std::make_unique<BlockQueue>(kQueueBlocks);
    reader_ = std::thread(&LevelledSource::readAhead, this);
}

void LevelledSource::relevel(double gainDb) {
    if (pass_ != Pass::Done || !retakes_ || !store_)
        throw std::logic_error("LevelledSource::relevel before the levelled song was handed out");
    handOut(gainDb);
}

void LevelledSource::readAhead() {
    platform::NameThisThread("quillory-read");
    try {
        for (std::uint64_t at = 0; at < levelledEnd_;) {
            AudioBlock block;
            block.frames = std::size_t(std::min<std::uint64_t>(kBlockFrames, levelledEnd_ - at));
            block.samples.resize(2 * block.frames);
            if (store_->readInterleavedAt(at, block.samples.data(), block.frames) < block.frames)
                endsEarly(*store_);
            for (float& sample : block.samples)
                sample *= factor_;
            at += block.frames;
            if (!readAhead_->push(std::move(block)))
                return; // given up
        }
    } catch (...) {
        readerFailure_ = std::current_exception();
    }
    readAhead_->close();
}

void LevelledSource::stopReading() {
    if (readAhead_)
        readAhead_->abandon();
    if (reader_.joinable())
        reader_.join();
}

// Where the tail, with the gain, has stayed below -90 dBFS for 100 ms: found from the end of the
// work file backwards, never inside the song itself.
std::uint64_t LevelledSource::tailEnd() {
    const std::uint64_t all = store_->frames();
    if (!songFrames_ || *songFrames_ >= all)
        return all;
    const float floor = float(std::pow(10.0, SongTail::kFloorDb / 20.0) / factor_);
    const auto quiet = std::uint64_t(std::llround(SongTail::kQuietSeconds * sampleRate_));
    std::vector<float> left(kTailChunk), right(kTailChunk);
    const std::uint64_t song = *songFrames_;
    std::uint64_t loudEnd = song;
    for (std::uint64_t end = all; end > song && loudEnd == song;) {
        const std::uint64_t begin = std::max(song, end - std::min(end, kTailChunk));
        const auto count = std::size_t(end - begin);
        store_->seek(begin);
        if (store_->read(left.data(), right.data(), count) < count)
            endsEarly(*store_);
        for (std::size_t i = count; i-- > 0 && loudEnd == song;)
            if (std::fabs(left[i]) >= floor || std::fabs(right[i]) >= floor)
                loudEnd = begin + i + 1;
        end = begin;
    }
    return std::min(all, loudEnd + quiet);
}

std::size_t LevelledSource::levelled(float* left, float* right, std::size_t maxFrames) {
    if (levelledBlockAt_ == levelledBlock_.frames) {
        levelledBlockAt_ = 0;
        if (!readAhead_->pop(levelledBlock_)) {
            endLevelled();
            return 0;
        }
    }
    const std::size_t n = std::min(maxFrames, levelledBlock_.frames - levelledBlockAt_);
    deinterleave(levelledBlock_.samples.data() + 2 * levelledBlockAt_, n, left, right);
    levelledBlockAt_ += n;
    levelledFrames_ += n;
    advanced_ = n;
    return n;
}

// The work file can go before the consumer completes its output.
void LevelledSource::endLevelled() {
    reader_.join();
    pass_ = Pass::Done;
    if (!retakes_)
        store_.reset();
    if (readerFailure_)
        std::rethrow_exception(std::exchange(readerFailure_, nullptr));
}

int LevelledSource::percent() const {
    // The check takes one percent, the levelled pass what is left up to 99.
    const int checkStart = measuringShare_;
    const int levelledStart = measuringShare_ + 1;
    switch (pass_) {
    case Pass::Measuring:
        return std::min(synthesis_.percent(), 99) * measuringShare_ / 100;
    case Pass::Checking:
        return checkStart + int(toCheck_ ? checkedFrames_ / toCheck_ : 0);
    case Pass::Levelled: {
        const std::uint64_t total = std::max<std::uint64_t>(levelledEnd_, 1);
        return levelledStart + int((99 - levelledStart) * levelledFrames_ / total);
    }
    case Pass::Unlevelled:
        return std::max(unlevelledFrom_, std::min(synthesis_.percent(), 99));
    case Pass::Done:
        break;
    }
    return 100;
}

void LevelledSource::dropWorkFile() {
    stopReading();
    stopChecking();
    stopKeeping();
    store_.reset();
    pass_ = Pass::Done;
}

} // namespace quillory::renderer
