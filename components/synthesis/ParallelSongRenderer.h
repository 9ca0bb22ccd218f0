// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Plays one MIDI song on several synthesisers at once and sums them into float stereo blocks: the
// same block source as SongRenderer, so a caller swaps one for the other and keeps its loop. A
// voice belongs to one synthesiser and reverb and chorus are linear, so instances that each sound
// some of the notes add up to one instance sounding them all; what differs is float rounding,
// voice stealing where one synth would have run out of voices, and the first 64 frames of a voice
// that reuses a voice slot: FluidSynth ramps a new voice's pan and effect-send gains from where
// the slot's last voice left them, and which voice last had a slot depends on which other voices
// share the synth.
// The further instances are the spares of the caller's synthesiser (Synthesizer::spares), kept
// with it for its next songs, so a batch worker loads its SoundFont once.
// Every instance gets every event but the notes (programs, controllers, pitch bend, SysEx resets
// and drum-part switches, mode messages), so every channel's state is the same in all of them;
// a note goes to one instance, chosen as the song plays so that all of them stay equally busy
// (NoteSharer). The end of the song and its tail are decided on the sum exactly as SongRenderer
// decides them for one synth (SongTail), so lengths match.
//
// How many instances pays is worked out at the first block: each note's voices and how long
// they will sound are weighed (SongLoad), against the mixing and the set-up that every further
// instance repeats (and its reverb and chorus, where they cannot be shared: EffectShare); one
// instance, a plain SongRenderer on the caller's synth, is best for
// a short or thin song. Meanwhile the further instances a split would use load their SoundFont.
// Threads are drawn from a ThreadBudget, one per instance. Each instance renders on a thread of
// its own and runs ahead of the caller through a short queue of blocks, so the instances never
// wait on each other block by block, and the caller, no synthesiser itself, hands out the events,
// sums and goes on with the output (measuring, writing) while they synthesise. Dropping the
// renderer stops every thread within one block.
#pragma once

#include "components/audio/BlockSource.h"
#include "components/midi/MidiFile.h"
#include "components/synthesis/NoteLog.h"
#include "components/synthesis/NotePlan.h"
#include "components/synthesis/SongRenderer.h"
#include "components/synthesis/SongTimeline.h"
#include "components/synthesis/Synthesizer.h"
#include "components/synthesis/ThreadBudget.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace quillory::renderer {

class ParallelSongRenderer final : public BlockSource {
public:
    // A larger request gets this many frames; the caller asks again for the rest.
    static constexpr std::size_t kMaxBlockFrames = 8192;

    // Throws SynthError when the synth cannot run at the rate. The synth is made ready for the
    // song at the first render(); it serves this song alone until the song is finished or
    // dropped, and so are the further instances, its spares. The first render()
    // waits until the budget has a thread free, then takes as many free ones as pay, up to
    // maxThreads (0: no limit of its own). `stop`, when given, is a flag another thread sets to
    // stop the render: once it is set, the first render() gives up weighing the song for a split
    // and plays it on the one synthesiser, so the caller gets its first block at once.
    ParallelSongRenderer(MidiFile song, Synthesizer& synth, int sampleRate,
                         ThreadBudget& budget = ThreadBudget::shared(), unsigned maxThreads = 0,
                         SplitPolicy policy = SplitPolicy::WherePays,
                         const std::atomic<bool>* stop = nullptr);
    // Stops and joins the instances' threads and gives their budget back.
    ~ParallelSongRenderer() override;
    ParallelSongRenderer(const ParallelSongRenderer&) = delete;
    ParallelSongRenderer& operator=(const ParallelSongRenderer&) = delete;

    // Renders up to maxFrames more frames into left and right; returns how many, 0 once the song
    // and its tail are complete. Throws SynthError when no instance can be made ready.
    std::size_t render(float* left, float* right, std::size_t maxFrames) override;
    bool finished() const override;
    // The whole percentage of the song rendered; 100 only once finished.
    int percent() const override;
    // Before the first render().
    void raiseLaterBy(double boostDb) override;
    std::uint64_t songFrames() const { return timeline_.songFrames(); }
    const MidiFile& song() const { return song_; }
    // Before the first render(): write down where every note sounded (NoteLog), for labels()
    // once the song is finished.
    void keepLabels() { keepLabels_ = true; }
    // Every note of the song in the order they began, at frames of the output; once finished.
    const std::vector<NoteLabel>& labels() const { return labels_; }
    // How many synthesisers share the song, and on how many threads; 0 before the first
    // render().
    int instances() const { return instances_; }
    int threads() const { return threads_; }
    // Whether the first synthesiser of the split runs the reverb and chorus for all of them.
    bool sharesEffects() const { return sharesEffects_; }
    // The song's notes weighed, from the first render() on, when it was weighed for a split.
    const SongLoad* load() const { return load_ ? &*load_ : nullptr; }
    // Per instance of a split: the voice-seconds of the notes it was given, and the processor
    // seconds its thread spent synthesising them (up to now).
    std::vector<double> laneWork() const;
    std::vector<double> laneSeconds() const;
    double threadSeconds() const override;

    // The song's frames and the longest tail: the most render() will ever give.
    static std::uint64_t maxFrames(const MidiFile& song, int sampleRate) {
        return SongRenderer::maxFrames(song, sampleRate);
    }

private:
    class Ensemble;
    // Borrowed from the caller's synth, which keeps them for its next songs.
    using Synthesizers = std::vector<Synthesizer*>;

    // Songs at least this long load the spares a split needs while they are weighed.
    static constexpr double kSpareLoadingMs = 20000;

    void start();
    void renderSingle();
    int plannedLanes();
    void split(Synthesizers spare, unsigned threads);
    void dispatch(std::uint64_t block);
    void nextBlock();
    void stopHelpers();
    void closeLogs();

    MidiFile song_;
    Synthesizer& synth_;
    int sampleRate_;
    ThreadBudget& budget_;
    unsigned maxThreads_;
    SplitPolicy policy_;
    const std::atomic<bool>* stop_;
    std::uint64_t lastFrame_;
    int instances_ = 0;
    int threads_ = 0;
    bool sharesEffects_ = false;
    double boostDb_ = 0;

    ThreadBudget::Grant grant_;
    std::unique_ptr<SongRenderer> single_;
    std::optional<SongLoad> load_;
    std::unique_ptr<NoteSharer> sharer_;
    std::unique_ptr<Ensemble> ensemble_;
    std::vector<double> laneSeconds_;

    SongTimeline timeline_;
    // Blocks handed to the instances, and summed.
    std::uint64_t dispatched_ = 0;
    std::uint64_t summed_ = 0;
    // The last summed block, and how much of it the caller has had.
    std::vector<float> left_;
    std::vector<float> right_;
    std::size_t blockFrames_ = 0;
    std::size_t given_ = 0;
    std::uint64_t totalGiven_ = 0;
    SongTail tail_;
    bool finished_ = false;
    bool keepLabels_ = false;
    std::vector<NoteLog> logs_; // one per synthesiser while the song plays
    std::vector<NoteLabel> labels_;
};

} // namespace quillory::renderer
