// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A song synthesised as stems: every MIDI channel that sounds plays on a synthesiser of its own,
// with its own reverb and chorus, and the mix is the sum of the stems. So the stems add up to the
// mix to float rounding, which a split of the ordinary synthesis (ParallelSongRenderer) cannot
// promise: there a new voice's pan and sends ramp from whatever voice last had its slot.
// The same block source as the other syntheses, giving the mix; after each render() the stems
// of the frames it gave can be read.
//
// One synthesiser per channel was measured against one synthesiser with an audio group and an
// effects group per channel (bench/formats): on two cores the first is the faster, as its
// synthesisers, effects included, share out over the threads, where the second runs all sixteen
// reverbs and choruses on one. The synthesisers are shared out over as many threads as the budget
// grants, balanced by their channels' notes; each renders ahead of the caller through a short
// queue of blocks. The end of the song and its tail are judged on the mix, as SongRenderer judges
// them, and a faded ending fades every stem alike.
#pragma once

#include "components/audio/BlockSource.h"
#include "components/midi/MidiFile.h"
#include "components/synthesis/NoteLog.h"
#include "components/synthesis/SongTail.h"
#include "components/synthesis/SongTimeline.h"
#include "components/synthesis/Synthesizer.h"
#include "components/synthesis/ThreadBudget.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quillory::renderer {

// A channel of a song that sounds.
struct StemChannel {
    int channel = 0; // 0 to 15
    bool drums = false;
    // Every program its notes were played with, in the order they first were.
    std::vector<int> programs;

    // "01 Acoustic Grand Piano" after its first program, "10 Drums", or "01 Channel".
    std::string name() const;
    std::string plainName() const;
};

// The channels that play a note, in channel order: the tenth, and any that a GS drum-part
// message turns to drums, are drums. Throws MidiError on a corrupt event.
std::vector<StemChannel> soundingChannels(const MidiFile& song);

class StemSynthesis final : public BlockSource {
public:
    static constexpr std::size_t kBlock = kBlockFrames;

    // Throws SynthError when the synth cannot run at the rate. The caller's synth plays the first
    // stem; the others load its SoundFont on their threads at the first render(), which waits
    // until the budget has a thread free and takes up to maxThreads (0: no limit of its own).
    StemSynthesis(MidiFile song, Synthesizer& synth, int sampleRate,
                  ThreadBudget& budget = ThreadBudget::shared(), unsigned maxThreads = 0);
    ~StemSynthesis() override;
    StemSynthesis(const StemSynthesis&) = delete;
    StemSynthesis& operator=(const StemSynthesis&) = delete;

    // The mix of up to maxFrames more frames; 0 once the song and its tail are complete. Throws
    // SynthError when a synthesiser cannot be made ready.
    std::size_t render(float* left, float* right, std::size_t maxFrames) override;
    bool finished() const override { return finished_; }
    int percent() const override;
    void raiseLaterBy(double boostDb) override { tail_.lowerFloorBy(boostDb); }
    double threadSeconds() const override;

    const std::vector<StemChannel>& stems() const { return stems_; }
    // Stem i of the frames the last render() gave.
    const float* stemLeft(std::size_t i) const { return stemLeft_[i].data() + lastOffset_; }
    const float* stemRight(std::size_t i) const { return stemRight_[i].data() + lastOffset_; }
    std::uint64_t songFrames() const { return timeline_.songFrames(); }
    const MidiFile& song() const { return song_; }
    // How many threads the synthesisers share; 0 before the first render().
    int threads() const;
    // Reverb and chorus off, before the first render(), to measure what they cost.
    void setEffects(bool on) { effects_ = on; }
    // Before the first render(): write down where every note of every stem sounded (NoteLog),
    // for stemLabels() once the song is finished.
    void keepLabels() { keepLabels_ = true; }
    // Stem i's notes in the order they began, at frames of the output; once finished.
    const std::vector<NoteLabel>& stemLabels(std::size_t i) const { return stemLabels_[i]; }

private:
    class Lanes;

    void start();
    void nextBlock();
    void dispatch(std::uint64_t block);

    MidiFile song_;
    Synthesizer& synth_;
    int sampleRate_;
    ThreadBudget& budget_;
    unsigned maxThreads_;
    std::vector<StemChannel> stems_;
    std::vector<int> stemOfChannel_; // -1 for a channel without a stem
    std::uint64_t lastFrame_;
    bool effects_ = true;
    bool started_ = false;

    ThreadBudget::Grant grant_;
    std::unique_ptr<Lanes> lanes_;
    double laneSeconds_ = 0; // the lanes' processor time, once they have ended
    SongTimeline timeline_;
    std::uint64_t dispatched_ = 0;
    std::uint64_t summed_ = 0;

    std::vector<std::vector<float>> stemLeft_;
    std::vector<std::vector<float>> stemRight_;
    std::vector<float> left_;
    std::vector<float> right_;
    std::size_t blockFrames_ = 0;
    std::size_t given_ = 0;
    std::size_t lastOffset_ = 0;
    std::uint64_t totalGiven_ = 0;
    SongTail tail_;
    bool finished_ = false;
    bool keepLabels_ = false;
    std::vector<NoteLog> logs_; // one per stem while the song plays
    std::vector<std::vector<NoteLabel>> stemLabels_;
};

} // namespace quillory::renderer
