// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A song brought to even loudness in two passes with one synthesis. The first pass pulls the
// song from its synthesis source, measures it (LoudnessMeter) and keeps it in a float work file
// (FloatIntermediate) in the caller's work folder; then the stretches whose true peak could
// matter are read back and measured; then the song is read back once more with the one gain
// applied, as float blocks for any consumer (the sound writer dithers them, the MP3 stream encodes
// them). Every call does at most one block of work, so a caller can stop between any two.
//
// The synthesis is told that its song is raised later by up to the target's largest boost, so
// its tail dies away below -90 dBFS as heard; once the gain is known, the levelled pass ends the
// tail where it stays below -90 dBFS for 100 ms after the gain, and drops what follows.
//
// In the first pass the synthesis runs on the caller's thread while a second thread, a few
// blocks behind, measures the blocks, writes them to the work file and hands them to the
// listener. Measuring costs about 1 ms of processor time per second of song, which next to a
// dense song's 30 ms of synthesis is little, but next to a lone instrument's 3 ms is a third.
// It is no synthesis thread and draws nothing from the thread budget: while the song's synthesis
// holds every core, it shares them, and the synthesis waits only when it falls a whole queue of
// blocks behind.
//
// The true-peak check shares its stretches out with a third thread when there are enough of
// them, since nothing else runs then: each thread takes about half of the frames, and the caller,
// done with its own, hands on what the other has checked since, a block at a time.
//
// The levelled pass reads ahead on a fourth thread: reading the work file back and applying the
// gain were a third of that pass, which otherwise runs alone on one core.
//
// Should the work folder fill up during the first pass all the same (see FloatIntermediate), the
// song goes on at the synthesiser's fixed gain: what was kept is handed back as it was, then the
// rest of the synthesis, and notice() says why the song was not levelled.
#pragma once

#include "components/audio/BlockQueue.h"
#include "components/audio/BlockSource.h"
#include "components/levelling/FloatIntermediate.h"
#include "components/levelling/Loudness.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quillory::renderer {

class LevelledSource final : public BlockSource {
public:
    enum class Pass { Measuring, Checking, Levelled, Unlevelled, Done };
    // Hears every block of the first pass as synthesised, before any gain, as interleaved
    // stereo, in order, on the second thread.
    using Listener = std::function<void(const float* stereo, std::size_t frames)>;

    // channels: of the output, which the meter measures as it will be heard (see LoudnessMeter).
    // store: the work file, new and empty. measuringShare: the part of percent() given to the
    // first pass, as its share of the work (the rest is the check and the consumer's work on the
    // levelled blocks).
    LevelledSource(BlockSource& synthesis, int sampleRate, int channels,
                   std::unique_ptr<FloatIntermediate> store, const LoudnessTarget& target,
                   int measuringShare, Listener listener = {});
    ~LevelledSource() override;
    // The song's own frames, before its tail, which the levelled pass keeps whatever their level.
    // Without it the whole synthesis is kept.
    void keepSong(std::uint64_t songFrames) { songFrames_ = songFrames; }
    // Keeps the work file once the levelled song has been handed out, so that it can be handed
    // out again with another gain (relevel), until dropWorkFile().
    void keepForRetakes() { retakes_ = true; }
    LevelledSource(const LevelledSource&) = delete;
    LevelledSource& operator=(const LevelledSource&) = delete;

    // Nothing (0) during the first pass and the check; the levelled song after them. Failures
    // of the work file are WorkFileErrors; those of the synthesis pass through as they are.
    std::size_t render(float* left, float* right, std::size_t maxFrames) override;
    bool finished() const override { return pass_ == Pass::Done; }
    int percent() const override;
    double threadSeconds() const override;

    Pass pass() const { return pass_; }
    // Whether the song is being handed out: levelled, or at the fixed gain after a full disk.
    bool handingOut() const { return pass_ == Pass::Levelled || pass_ == Pass::Unlevelled; }
    // Why the song is not levelled after all (the work folder filled up), or empty.
    const std::string& notice() const { return notice_; }
    // The frames the last render() synthesised, checked or gave back; 0 only once finished.
    std::size_t advanced() const { return advanced_; }
    // From the levelled pass on: what the song measured and the gain it gets.
    const Loudness& measured() const { return measured_; }
    double gainDb() const { return gainDb_; }
    // Once finished() with keepForRetakes(): hands the levelled song out once more, from its
    // first frame, with another gain; its tail ends where it dies away with that gain. The
    // first pass is not repeated, so percent() goes back to where the levelled pass began.
    void relevel(double gainDb);
    // From the levelled pass on: the frames it hands out in all, its tail cut where it dies away.
    std::uint64_t levelledLength() const { return levelledEnd_; }
    // Frames read back for the true-peak check, and all frames of the song.
    std::uint64_t framesChecked() const { return checkedFrames_; }
    std::uint64_t frames() const { return synthesised_; }
    // Waits until every block synthesised so far has been measured, kept and heard, for a
    // render that ends early (a stop); rethrows what failed on the second thread. Nothing more
    // can be rendered.
    void settle();
    // Removes the work file now, for a render that ends early; nothing more can be rendered.
    void dropWorkFile();

private:
    void keep();
    void stopKeeping();
    void measure(float* left, float* right, std::size_t maxFrames);
    void check(float* left, float* right, std::size_t maxFrames);
    void shareCheck();
    void checkOthers(std::size_t from);
    void awaitOtherCheck();
    void stopChecking();
    void readAhead();
    void endLevelled();
    void stopReading();
    std::size_t levelled(float* left, float* right, std::size_t maxFrames);
    std::size_t unlevelled(float* left, float* right, std::size_t maxFrames);
    void startChecking();
    void startLevelled();
    void handOut(double gainDb);
    void startUnlevelled();
    std::uint64_t tailEnd();

    BlockSource& synthesis_;
    int sampleRate_;
    int channels_;
    LoudnessMeter meter_;
    std::unique_ptr<FloatIntermediate> store_;
    LoudnessTarget target_;
    int measuringShare_;
    Listener listener_;

    BlockQueue queue_;
    std::thread keeper_;
    // Why the second thread stopped; written by it before it ends, read once it is joined.
    std::exception_ptr failure_;
    // Set by the second thread once the work file is full: the first pass ends at the next block.
    std::atomic<bool> storeFull_{false};
    // The second thread's processor time, once it has ended.
    std::atomic<double> keeperSeconds_{0};

    Pass pass_ = Pass::Measuring;
    std::size_t advanced_ = 0;
    std::uint64_t synthesised_ = 0;
    std::vector<FrameRange> stretches_;
    std::size_t stretch_ = 0;
    std::uint64_t checkAt_ = 0;
    std::uint64_t toCheck_ = 0;
    std::uint64_t checkedFrames_ = 0;
    // The stretches this thread checks; those after go to checker_, which adds up the frames it
    // has checked in otherChecked_ and sets kOtherDone there once it has ended.
    static constexpr std::uint64_t kOtherDone = std::uint64_t(1) << 63;
    std::size_t ownStretches_ = 0;
    std::thread checker_;
    std::atomic<bool> stopChecker_{false};
    std::atomic<std::uint64_t> otherChecked_{0};
    std::uint64_t otherCounted_ = 0;
    double otherPeak_ = 0;
    std::exception_ptr checkerFailure_;
    Loudness measured_;
    double gainDb_ = 0;
    float factor_ = 1.0f;
    std::uint64_t levelledFrames_ = 0;
    // The levelled song, read and raised by reader_; what is left of its block in hand.
    std::unique_ptr<BlockQueue> readAhead_;
    std::thread reader_;
    std::exception_ptr readerFailure_;
    AudioBlock levelledBlock_;
    std::size_t levelledBlockAt_ = 0;
    std::string notice_;
    int unlevelledFrom_ = 0;
    std::optional<std::uint64_t> songFrames_;
    std::uint64_t levelledEnd_ = 0;
    bool retakes_ = false;
};

} // namespace quillory::renderer
