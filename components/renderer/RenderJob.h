// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// One MIDI-to-WAV render as a block API: the caller owns the loop, asking for a few frames at a
// time, and can report progress or stop between blocks. A song on several MIDI channels is
// synthesised on several cores at once (ParallelSongRenderer), as many as the thread budget
// grants it. Everything that can be refused is refused before the output file exists, and the
// WAV reaches its target only when closed.
//
// With a loudness target the render takes two passes over one synthesis (LevelledSource): the
// song is measured into a float work file, then written with its one gain. A lossy file (Ogg
// Vorbis, Opus) is then decoded and measured, and written again with a corrected gain where it
// misses (LossyLevelling.h); so is a WAV that becomes an MP3, through a trial MP3 of it made in
// the work folder as it is written, which the encoder will make again from the WAV byte for
// byte (its samples lie on the 16-bit grid, Pcm16Grid). Without a target, or
// when the work folder has no room for the work file, it is written at the synthesiser's fixed
// gain in one pass, and notice() says why it was not levelled; a work folder that fills up in the
// first pass all the same turns the rest of the render to the fixed gain too. Either way the WAV
// is dithered.
#pragma once

#include "components/audio/BlockSource.h"
#include "components/audio/Pcm16Grid.h"
#include "components/encoder/Mp3Plan.h"
#include "components/levelling/DecodedLoudness.h"
#include "components/levelling/LevelledSource.h"
#include "components/levelling/Loudness.h"
#include "components/midi/TagText.h"
#include "components/output/SoundWriter.h"
#include "components/renderer/LossyLevelling.h"
#include "components/renderer/Mp3Take.h"
#include "components/synthesis/NotePlan.h"
#include "components/synthesis/SongRenderer.h"
#include "components/synthesis/ThreadBudget.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillory::renderer {

// The free space of the file system that holds a folder; a capacity of 0 means unknown.
using SpaceProbe = std::function<std::filesystem::space_info(const std::filesystem::path&)>;
std::filesystem::space_info freeSpace(const std::filesystem::path& folder);

struct RenderOptions {
    // The loudness every render is brought to; none for the synthesiser's fixed gain.
    std::optional<LoudnessTarget> loudness{};
    // Set when the WAV (16-bit stereo) is only the source of an MP3 made with these settings:
    // the song is then evened out for the MP3, as LossyLevelling.h says, and its samples are
    // those the batch converter encodes (Pcm16Grid).
    std::optional<encoder::Mp3Settings> mp3Source{};
    // Whether a levelled lossy file, or the source of an MP3, is judged as decoded and taken
    // again where it misses; off only to see what the check costs, which leaves the first take.
    bool judgeDecoded = true;
    // Where the float work file of a levelled render is kept: the instance's private folder
    // (the system's temporary folder when empty).
    std::filesystem::path workFolder{};
    // For the WAV's INFO chunk.
    tags::TextTags tags{};
    // Keeps a WAV at the fixed gain while a levelled song is synthesised, so that closing the job
    // early (a Stop) leaves what was rendered at once, with no output pass to wait for.
    bool stoppable = false;
    SpaceProbe space = freeSpace;
    // Where the song's synthesis threads come from (the process's own budget when null), the
    // most one song may take (0: as many as are free and pay), and whether every one taken is
    // used whether it pays or not.
    ThreadBudget* threads = nullptr;
    unsigned maxThreads = 0;
    SplitPolicy split = SplitPolicy::WherePays;
    // A flag another thread sets to stop the render, which the set-up of a split song heeds
    // (see ParallelSongRenderer); the caller still ends the render itself.
    const std::atomic<bool>* stop = nullptr;
    // Whether the synthesis writes down where every note sounded (its labels).
    bool labels = false;
};

// The work file for levelling a song of maxFrames, made in workFolder with room for the whole
// song reserved; or null, and `notice` says why (no room, or the folder cannot be written). The
// work file takes 8 bytes a frame; when the work folder shares a file system with the target
// folder, the target's own targetBytes must fit as well, and so must what the other work files
// of the process may still take.
std::unique_ptr<FloatIntermediate> levellingWorkFile(const std::filesystem::path& workFolder,
                                                     const std::filesystem::path& targetFolder,
                                                     std::uint64_t maxFrames,
                                                     std::uint64_t targetBytes,
                                                     const SpaceProbe& space, std::string& notice);

class RenderJob {
public:
    // The most render() does at a time: a block as every stage hands them on.
    static constexpr std::size_t kMaxBlockFrames = kBlockFrames;
    // The first pass of a levelled WAV is nearly all the work: writing the levelled song back
    // costs a few percent of the synthesis.
    static constexpr int kSynthesisShare = 95;

    // Starts the output beside its target; the synth is readied for the song at the first
    // render(), which throws SynthError when it cannot be. Throws RenderError when the format is
    // not supported, the disk cannot hold the result, or the output cannot be created, and
    // SynthError when the synth cannot run at the rate.
    RenderJob(MidiFile song, Synthesizer& synth, output::OutputFile output,
              const SoundFormat& format, RenderOptions options = {});
    // The same for another synthesis of the song (the song gives its length and name).
    RenderJob(std::unique_ptr<BlockSource> synthesis, MidiFile song, output::OutputFile output,
              const SoundFormat& format, RenderOptions options = {});
    ~RenderJob();

    // Does up to maxFrames (at most kMaxBlockFrames) more frames of work: synthesised, checked or
    // written. Returns how many, 0 once the song is complete. Throws RenderError when writing
    // fails, naming the target.
    std::size_t render(std::size_t maxFrames);
    bool finished() const;
    // The whole percentage of the work done; 100 only once finished.
    int percent() const;
    std::uint64_t songFrames() const;
    std::uint64_t framesWritten() const;
    const MidiFile& song() const { return song_; }
    // Whether the song is being levelled; notice() says why not when a target was asked for, and
    // why the levelling ended when the work folder filled up half-way.
    bool levelled() const { return levelled_ != nullptr && levelled_->notice().empty(); }
    std::string notice() const { return levelled_ ? levelled_->notice() + notice_ : notice_; }
    // The levelling pass, while levelled(): what it measured and the gain, once known.
    const LevelledSource* levelling() const { return levelled_.get(); }
    // Once finished, what the lossy file (or the MP3 of the WAV) kept holds as decoded; nothing
    // where it was not judged.
    const std::optional<Loudness>& decoded() const { return decoded_; }
    // While levelled(): the gain of the song, once known; of the take kept, once one is.
    double gainDb() const;
    // The takes judged (see LossyLevelling.h); 0 where none was.
    int takes() const { return lossy_ ? lossy_->takes() : 0; }
    // Processor seconds of the threads the render started (see BlockSource::threadSeconds).
    double threadSeconds() const {
        return levelled_ ? levelled_->threadSeconds() : synthesis_->threadSeconds();
    }

    // Flushes the WAV written so far to disk, so that close() has little left to wait for: for a
    // finished job, on the thread that rendered it. Throws RenderError when that fails.
    void sync();
    // Completes the WAV and puts it at the target; throws RenderError when that fails. Before the
    // end, it is what was rendered so far: a stoppable job keeps the fixed-gain WAV of the first
    // pass, or what the output pass has written once it began; any other job finishes the
    // remaining passes first. A job dropped without close() leaves the target as it was.
    void close(output::Flush flush = output::Flush::First);
    // Drops the output and the work file, for a render that failed or was cancelled.
    void discard();

private:
    static const SoundFormat& checked(const SoundFormat& format);
    void planLevelling(const RenderOptions& options, std::uint64_t maxFrames,
                       std::uint64_t targetBytes);
    void startOutputs(output::OutputFile output, const RenderOptions& options,
                      std::uint64_t maxFrames);
    std::unique_ptr<SoundWriter> newWriter(output::OutputFile output) const;
    void put(const float* left, const float* right, std::size_t frames);
    void flushGrid();
    bool judging() const;
    void endTake();
    std::size_t judgeStep();
    void retake(double gainDb);
    void dropTakes();

    MidiFile song_;
    SoundFormat format_;
    std::unique_ptr<BlockSource> synthesis_;
    std::unique_ptr<LevelledSource> levelled_;
    std::unique_ptr<SoundWriter> provisional_;
    std::unique_ptr<SoundWriter> writer_;
    // The best take so far, complete, while another is made (LossyLevelling.h).
    std::unique_ptr<SoundWriter> best_;
    std::filesystem::path target_;
    output::Existing existing_ = output::Existing::Replace;
    std::uint64_t maxFrames_ = 0;
    tags::TextTags tags_;
    bool stoppable_ = false;
    std::string notice_;
    std::vector<float> left_;
    std::vector<float> right_;
    std::vector<float> stereo_;
    // The source of an MP3: its samples on the 16-bit grid, through the trial take while one is
    // made.
    std::optional<encoder::Mp3Settings> mp3Source_;
    std::unique_ptr<Pcm16Grid> grid_;
    std::filesystem::path trialTarget_;
    std::unique_ptr<Mp3Take> trial_;
    bool gridFlushed_ = false;
    // The takes of a lossy file judged as decoded: the one being measured, and what the kept one
    // measured.
    std::unique_ptr<LossyLevelling> lossy_;
    std::unique_ptr<DecodedLoudness> judge_;
    std::optional<Loudness> decoded_;
    bool judged_ = false;
    mutable int shown_ = 0;
};

} // namespace quillory::renderer
