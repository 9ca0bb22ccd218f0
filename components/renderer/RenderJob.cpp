// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/renderer/RenderJob.h"

#include "components/audio/StereoLayout.h"
#include "components/levelling/FloatIntermediate.h"
#include "components/synthesis/ParallelSongRenderer.h"

#include <algorithm>
#include <string>
#include <system_error>

namespace quillory::renderer {

namespace fs = std::filesystem;

namespace {

std::unique_ptr<BlockSource> synthesisOf(const MidiFile& song, Synthesizer& synth,
                                         const SoundFormat& format, const RenderOptions& options) {
    if (const std::string problem = format.problem(); !problem.empty())
        throw RenderError(problem);
    return std::make_unique<ParallelSongRenderer>(song, synth, format.sampleRate,
                                                  ThreadBudget::givenOrShared(options.threads),
                                                  options.maxThreads, options.split, options.stop);
}

} // namespace

fs::space_info freeSpace(const fs::path& folder) {
    std::error_code ec;
    const fs::space_info space = fs::space(folder, ec);
    return ec ? fs::space_info{0, 0, 0} : space;
}

namespace {

std::string levellingRoomProblem(const fs::path& workFolder, const fs::path& targetFolder,
                                 std::uint64_t maxFrames, std::uint64_t targetBytes,
                                 const SpaceProbe& space, std::uint64_t promised) {
    const fs::space_info work = space(workFolder);
    // File systems that report no capacity at all (virtual or some network ones) are not judged.
    if (work.capacity == 0)
        return {};
    // Two folders whose file systems report the same sizes to the byte are on one file system.
    const fs::space_info target = space(targetFolder);
    const bool shared = target.capacity == work.capacity && target.free == work.free &&
                        target.available == work.available;
    const std::uint64_t needed =
        maxFrames * FloatIntermediate::kFrameBytes + 4096 + (shared ? targetBytes : 0);
    if (work.available >= needed + promised)
        return {};
    return "there is not enough free space in the work folder " + workFolder.string() +
           " for a copy of the song: it needs up to " + megabytes(needed) + " MiB" +
           (shared ? " together with the target" : "") +
           (promised > 0
                ? ", the songs converted beside it up to " + megabytes(promised) + " MiB more,"
                : "") +
           " and " + megabytes(work.available) + " MiB are free";
}

} // namespace

std::unique_ptr<FloatIntermediate>
levellingWorkFile(const fs::path& workFolder, const fs::path& targetFolder, std::uint64_t maxFrames,
                  std::uint64_t targetBytes, const SpaceProbe& space, std::string& notice) {
    const auto check = [&](std::uint64_t promised) {
        return levellingRoomProblem(workFolder, targetFolder, maxFrames, targetBytes, space,
                                    promised);
    };
    try {
        return std::make_unique<FloatIntermediate>(workFolder, maxFrames, check);
    } catch (const WorkRoomError& e) {
        notice = e.what();
    } catch (const RenderError& e) {
        notice = std::string("its work file cannot be made: ") + e.what();
    }
    return nullptr;
}

const SoundFormat& RenderJob::checked(const SoundFormat& format) {
    if (const std::string problem = format.problem(); !problem.empty())
        throw RenderError(problem);
    return format;
}

RenderJob::RenderJob(MidiFile song, Synthesizer& synth, output::OutputFile output,
                     const SoundFormat& format, RenderOptions options)
    // Both read the options, so they are not moved: the order of the two is not fixed.
    : RenderJob(synthesisOf(song, synth, format, options), song, std::move(output), format,
                options) {
}

RenderJob::RenderJob(std::unique_ptr<BlockSource> synthesis, MidiFile song,
                     output::OutputFile output, const SoundFormat& format, RenderOptions options)
    : song_(std::move(song))
    , format_(checked(format))
    , synthesis_(std::move(synthesis))
    , target_(output.target())
    , left_(kMaxBlockFrames)
    , right_(kMaxBlockFrames) {
    if (!options.space)
        options.space = freeSpace;
    existing_ = output.existing();
    maxFrames_ = 0;
    tags_ = options.tags;
    stoppable_ = options.stoppable;
    // The window renders the source of an MP3 as 16-bit stereo; any other WAV is just a WAV.
    if (options.mp3Source && format_.container == Container::Wav && format_.bitsPerSample == 16 &&
        format_.channels == 2)
        mp3Source_ = options.mp3Source;
    // A render is refused up front rather than left to fill the disk.
    const std::uint64_t maxFrames = SongRenderer::maxFrames(song_, format_.sampleRate);
    const std::uint64_t targetBytes = maxFrames * format_.bytesPerFrame() + 4096;
    // A stream takes what it is given; it fills no disk of ours.
    const fs::space_info space =
        output.stream() ? fs::space_info{} : options.space(output::folderOf(target_));
    if (space.capacity > 0 && space.available < targetBytes)
        throw RenderError("not enough free space for " + target_.string() + ": it needs up to " +
                          megabytes(targetBytes) + " MiB and " + megabytes(space.available) +
                          " MiB are free");
    maxFrames_ = maxFrames;
    if (options.loudness)
        planLevelling(options, maxFrames, output.stream() ? 0 : targetBytes);
    startOutputs(std::move(output), options, maxFrames);
}

// The second thread of the levelling pass may be writing the fixed-gain WAV: it ends before
// the writers go.
RenderJob::~RenderJob() {
    if (levelled_)
        levelled_->dropWorkFile();
}

// A song that cannot be levelled is still rendered, at the fixed gain, and notice() says why.
void RenderJob::planLevelling(const RenderOptions& options, std::uint64_t maxFrames,
                              std::uint64_t targetBytes) {
    const fs::path folder =
        options.workFolder.empty() ? fs::temp_directory_path() : options.workFolder;
    std::unique_ptr<FloatIntermediate> store = levellingWorkFile(
        folder, output::folderOf(target_), maxFrames, targetBytes, options.space, notice_);
    if (!store)
        return;
    Mp3Levelling levelling{LossyLevelling(*options.loudness), format_.channels};
    if (mp3Source_)
        levelling =
            levellingForMp3(*options.loudness, *mp3Source_, format_.sampleRate, format_.channels);
    const bool lossy = mp3Source_ || (!format_.integerPcm() && format_.container != Container::Wav);
    // A WAV or a FLAC keeps its samples as they are: its target is the promise itself.
    const LoudnessTarget target = lossy ? levelling.lossy.firstTake() : *options.loudness;
    levelled_ = std::make_unique<LevelledSource>(
        *synthesis_, format_.sampleRate, levelling.channels, std::move(store), target,
        kSynthesisShare, [this](const float* stereo, std::size_t frames) {
            if (provisional_)
                provisional_->writeInterleaved(stereo, frames);
        });
    levelled_->keepSong(songFrames());
    if (lossy && options.judgeDecoded) {
        lossy_ = std::make_unique<LossyLevelling>(levelling.lossy);
        levelled_->keepForRetakes();
        trialTarget_ = folder / "__qlr_take.mp3";
    }
}

void RenderJob::startOutputs(output::OutputFile output, const RenderOptions& options,
                             std::uint64_t maxFrames) {
    if (const std::string refused = output.create(); !refused.empty())
        throw RenderError("cannot create " + target_.string() + " (" + refused + ")");
    // A device or a pipe is written once, directly: there is no file to keep for a stop.
    if (levelled_ && options.stoppable && !output.direct())
        provisional_ = std::make_unique<SoundWriter>(output::OutputFile(target_, output.existing()),
                                                     format_, maxFrames);
    writer_ = newWriter(std::move(output));
    if (provisional_ && !options.tags.empty())
        provisional_->setTags(options.tags);
    if (mp3Source_)
        grid_ = std::make_unique<Pcm16Grid>();
    if (lossy_ && mp3Source_)
        trial_ = std::make_unique<Mp3Take>(*mp3Source_, format_.sampleRate, tags::TextTags{},
                                           output::OutputFile(trialTarget_));
}

// The source of an MP3 comes on the 16-bit grid already, and is written as it is.
std::unique_ptr<SoundWriter> RenderJob::newWriter(output::OutputFile output) const {
    SoundFormat format = format_;
    format.dither = !mp3Source_;
    auto writer = std::make_unique<SoundWriter>(std::move(output), format, maxFrames_);
    if (!tags_.empty())
        writer->setTags(tags_);
    return writer;
}

void RenderJob::put(const float* left, const float* right, std::size_t frames) {
    if (!grid_) {
        writer_->write(left, right, frames);
        return;
    }
    stereo_.resize(2 * frames);
    interleave(left, right, frames, stereo_.data());
    const std::span<const float> samples =
        trial_ ? trial_->add(stereo_.data(), frames) : grid_->add(stereo_.data(), 2 * frames);
    writer_->writeInterleaved(samples.data(), samples.size() / 2);
}

// What the grid held back goes into the WAV at the end of each take; the trial take is complete
// then.
void RenderJob::flushGrid() {
    if (!grid_ || gridFlushed_)
        return;
    gridFlushed_ = true;
    const std::span<const float> samples = trial_ ? trial_->finish() : grid_->flush();
    writer_->writeInterleaved(samples.data(), samples.size() / 2);
}

// Between the end of a take's levelled pass and the verdict on it.
bool RenderJob::judging() const {
    return lossy_ && !judged_ && levelled_->finished();
}

// The take is complete: it is decoded and measured next, where it can be read back.
void RenderJob::endTake() {
    flushGrid();
    if (!trial_)
        writer_->finish();
    // A work folder that filled up turned the song to the fixed gain; a device or a pipe cannot
    // be written twice.
    if (!levelled_->notice().empty() || writer_->direct()) {
        judged_ = true;
        return;
    }
    if (trial_)
        judge_ = std::make_unique<DecodedLoudness>(trial_->written(), LossyCodec::Mp3);
    else
        judge_ = std::make_unique<DecodedLoudness>(
            writer_->written(),
            format_.container == Container::Opus ? LossyCodec::Opus : LossyCodec::Vorbis);
}

// The verdict on a take once it is measured: the best take so far is kept aside, complete, and
// put at the target when no other is made.
std::size_t RenderJob::judgeStep() {
    if (const std::size_t frames = judge_->step(); frames > 0)
        return frames;
    const Loudness decoded = judge_->result();
    judge_.reset();
    const std::optional<double> gain = lossy_->retake(levelled_->gainDb(), decoded);
    if (lossy_->lastIsBest()) {
        writer_->finish();
        if (best_)
            best_->discard();
        best_ = std::move(writer_);
    } else {
        writer_->discard();
        writer_.reset();
    }
    if (gain) {
        retake(*gain);
        return 0;
    }
    writer_ = std::move(best_);
    decoded_ = lossy_->bestDecoded();
    judged_ = true;
    if (trial_)
        trial_->discard();
    return 0;
}

void RenderJob::retake(double gainDb) {
    writer_ = newWriter(output::OutputFile(target_, existing_));
    if (trial_) {
        trial_->discard();
        trial_.reset();
        trial_ = std::make_unique<Mp3Take>(*mp3Source_, format_.sampleRate, tags::TextTags{},
                                           output::OutputFile(trialTarget_));
        gridFlushed_ = false;
    }
    levelled_->relevel(gainDb);
}

double RenderJob::gainDb() const {
    return lossy_ && judged_ && decoded_ ? lossy_->bestGainDb() : levelled_->gainDb();
}

std::size_t RenderJob::render(std::size_t maxFrames) {
    const std::size_t frames = std::min(maxFrames, kMaxBlockFrames);
    if (frames == 0 || !writer_)
        return 0;
    for (;;) {
        if (judge_) {
            if (const std::size_t decoded = judgeStep(); decoded > 0 || finished())
                return decoded;
            continue;
        }
        std::size_t written = 0;
        std::size_t advanced = 0;
        if (levelled_) {
            try {
                written = levelled_->render(left_.data(), right_.data(), frames);
            } catch (const WorkFileError& e) {
                throw RenderError("writing " + target_.string() + " failed: " + e.what());
            }
            advanced = levelled_->advanced();
            // The levelled song has begun: the fixed-gain copy for a stop is no longer needed,
            // and its length is known, which a stream's header can then say.
            if (written > 0 && provisional_) {
                provisional_->discard();
                provisional_.reset();
            }
            if (written > 0 && writer_->framesWritten() == 0 &&
                levelled_->pass() == LevelledSource::Pass::Levelled)
                writer_->expectFrames(levelled_->levelledLength());
        } else {
            written = synthesis_->render(left_.data(), right_.data(), frames);
            advanced = written;
        }
        if (written > 0)
            put(left_.data(), right_.data(), written);
        if (judging() && !judge_)
            endTake();
        if (advanced > 0 || finished())
            return advanced;
    }
}

bool RenderJob::finished() const {
    return levelled_ ? levelled_->finished() && (!lossy_ || judged_) : synthesis_->finished();
}

// A take made again starts its output pass afresh: what was shown stays until it is passed.
int RenderJob::percent() const {
    int now = levelled_ ? levelled_->percent() : synthesis_->percent();
    if (!finished())
        now = std::min(now, 99);
    shown_ = std::max(shown_, now);
    return shown_;
}

std::uint64_t RenderJob::songFrames() const {
    return song_.frameAt(song_.endTime(), format_.sampleRate);
}

std::uint64_t RenderJob::framesWritten() const {
    return writer_ ? writer_->framesWritten() : 0;
}

void RenderJob::sync() {
    if (writer_)
        writer_->sync();
}

void RenderJob::close(output::Flush flush) {
    if (!writer_)
        return;
    if (provisional_) {
        // Everything synthesised so far reaches the fixed-gain WAV before it is closed.
        levelled_->settle();
        writer_->discard();
        provisional_->close(flush);
    } else {
        // A stop keeps the take in hand as it is; anything else completes every pass first.
        const bool begun = levelled_ && (levelled_->handingOut() || judging());
        if (levelled_ && !(begun && stoppable_))
            while (render(kMaxBlockFrames) > 0) {
            }
        flushGrid();
        writer_->close(flush);
    }
    dropTakes();
    if (levelled_)
        levelled_->dropWorkFile();
}

void RenderJob::dropTakes() {
    judge_.reset();
    if (trial_)
        trial_->discard();
    trial_.reset();
    if (best_)
        best_->discard();
    best_.reset();
}

void RenderJob::discard() {
    // The second thread may still be writing the fixed-gain WAV: it ends first.
    if (levelled_)
        levelled_->dropWorkFile();
    dropTakes();
    if (provisional_)
        provisional_->discard();
    if (writer_)
        writer_->discard();
}

} // namespace quillory::renderer
