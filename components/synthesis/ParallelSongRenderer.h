// Plays one MIDI song on several synthesisers at once, one per group of MIDI channels, and sums
// them into float stereo blocks: the same block source as SongRenderer, so a caller swaps one for
// the other and keeps its loop. A voice belongs to its channel and reverb and chorus are linear,
// so instances that each sound some channels' notes add up to one instance sounding them all; what
// differs is float rounding, voice stealing where one synth would have run out of voices, and the
// first 64 frames of a voice that reuses a voice slot: FluidSynth ramps a new voice's pan and
// effect-send gains from where the slot's last voice left them, and which voice last had a slot
// depends on which other voices share the synth.
// Every instance gets every event but the notes (programs, controllers, pitch bend, SysEx resets
// and drum-part switches, mode messages), so every channel's state is the same in all of them;
// a note goes only to the instance that owns its channel, or its key where a channel too heavy
// for one instance is split by key (see ChannelPlan). The end of the song and its tail are
// decided on the sum exactly as SongRenderer decides them for one synth (SongTail), so lengths
// match.
//
// Threads are drawn from a ThreadBudget at the first block: the calling thread renders one group
// and a helper thread per further group renders its own, block by block; the helpers live until
// the song ends or the renderer is dropped, which stops them at once. Fewer threads granted than
// groups wanted means fewer groups; one group (a song on one channel, or one thread granted) is a
// plain SongRenderer on the caller's synth.
#pragma once

#include "components/audio/BlockSource.h"
#include "components/midi/MidiFile.h"
#include "components/synthesis/ChannelPlan.h"
#include "components/synthesis/SongRenderer.h"
#include "components/synthesis/Synthesizer.h"
#include "components/synthesis/ThreadBudget.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace quillory::renderer {

class ParallelSongRenderer final : public BlockSource {
public:
    // A larger request gets this many frames; the caller asks again for the rest.
    static constexpr std::size_t kMaxBlockFrames = 8192;

    // Throws SynthError when the synth cannot run at the rate. The synth is made ready for the
    // song at the first render(), on the thread that renders; it serves this song alone until the
    // song is finished or dropped, and further instances load its SoundFont, sharing its samples.
    // The first render() waits until the budget has a thread free, then takes as many free ones
    // as there are channels with notes, up to maxThreads (0: no limit of its own).
    ParallelSongRenderer(MidiFile song, Synthesizer& synth, int sampleRate,
                         ThreadBudget& budget = ThreadBudget::shared(), unsigned maxThreads = 0);
    // Stops and joins the helper threads and gives their budget back.
    ~ParallelSongRenderer() override;
    ParallelSongRenderer(const ParallelSongRenderer&) = delete;
    ParallelSongRenderer& operator=(const ParallelSongRenderer&) = delete;

    // Renders up to maxFrames more frames into left and right; returns how many, 0 once the song
    // and its tail are complete. Throws SynthError when no instance can be made ready.
    std::size_t render(float* left, float* right, std::size_t maxFrames) override;
    bool finished() const override;
    // The whole percentage of the song rendered; 100 only once finished.
    int percent() const override;
    std::uint64_t songFrames() const { return songFrames_; }
    const MidiFile& song() const { return song_; }
    // The channels' estimated work: notes counted once from the constructor, weighed by the
    // voices they start from the first render() on.
    const ChannelPlan& plan() const { return plan_; }
    // How many synthesisers (and threads) share the song; 0 before the first render().
    int instances() const { return instances_; }
    // Before the first render().
    void raiseLaterBy(double boostDb) override {
        boostDb_ = boostDb;
        tail_.lowerFloorBy(boostDb);
    }

    // The song's frames and the longest tail: the most render() will ever give.
    static std::uint64_t maxFrames(const MidiFile& song, int sampleRate) {
        return SongRenderer::maxFrames(song, sampleRate);
    }

private:
    class Ensemble;

    void start();
    void renderSingle();
    std::size_t renderSong(float* left, float* right, std::size_t frames);
    std::size_t renderTail(float* left, float* right, std::size_t frames);
    void dispatchUntil(std::uint64_t frame);
    void stopHelpers();

    MidiFile song_;
    Synthesizer& synth_;
    int sampleRate_;
    ThreadBudget& budget_;
    unsigned maxThreads_;
    ChannelPlan plan_;
    std::uint64_t songFrames_;
    int instances_ = 0;

    ThreadBudget::Grant grant_;
    std::unique_ptr<SongRenderer> single_;
    std::unique_ptr<Ensemble> ensemble_;

    // Which instance plays each note, by channel and key.
    std::array<std::array<std::uint8_t, kMidiKeys>, kMidiChannels> owner_{};
    MidiFile::Cursor cursor_;
    bool pending_ = false;
    MidiEvent pendingEvent_;
    std::uint64_t pendingFrame_ = 0;
    std::uint64_t position_ = 0;
    SongTail tail_;
    double boostDb_ = 0;
    bool finished_ = false;
};

} // namespace quillory::renderer
