// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/conversion/Conversions.h"

#include "components/audio/BlockQueue.h"
#include "components/audio/BlockSource.h"
#include "components/audio/StereoLayout.h"
#include "components/conversion/Silence.h"
#include "components/encoder/Mp3FileEncoder.h"
#include "components/encoder/Mp3Stream.h"
#include "components/encoder/Resampler.h"
#include "components/encoder/WavSource.h"
#include "components/levelling/DecodedLoudness.h"
#include "components/levelling/LevelledSource.h"
#include "components/midi/SongTags.h"
#include "components/renderer/LossyLevelling.h"
#include "components/renderer/Mp3Take.h"
#include "components/renderer/RenderJob.h"
#include "components/synthesis/ParallelSongRenderer.h"
#include "platform/ShownName.h"

#include <algorithm>
#include <functional>
#include <thread>

namespace quillory::conversion {

namespace fs = std::filesystem;
using quillory::renderer::AudioBlock;
using quillory::renderer::BlockQueue;
using quillory::renderer::Container;
using quillory::renderer::kBlockFrames;
using quillory::renderer::LevelledSource;
using quillory::renderer::MidiFile;
using quillory::renderer::ParallelSongRenderer;
using quillory::renderer::RenderJob;
using quillory::renderer::SoundFormat;
using quillory::renderer::Synthesizer;

namespace {

// The first pass of a levelled MP3 against the encoding of the levelled song: synthesis and
// metering take about three quarters of the processor time of the two.
constexpr int kMp3SynthesisShare = 75;
// The most an MP3 can take: 320 kb/s.
constexpr std::uint64_t kMaxMp3BytesPerSecond = 40000;
// About 0.75 s of audio at 44100 Hz: enough to ride out scheduling hiccups, small enough that
// memory does not depend on the song.
constexpr std::size_t kQueueBlocks = 8;

// The synthesis side of MIDI to MP3: renders blocks into the queue until the song ends or the
// queue is abandoned, then closes it. A failure is kept for the encoding side to report.
void produceBlocks(quillory::renderer::BlockSource& renderer, BlockQueue& queue,
                   std::string& failure) {
    try {
        std::vector<float> left(kBlockFrames);
        std::vector<float> right(kBlockFrames);
        while (const std::size_t frames =
                   renderer.render(left.data(), right.data(), kBlockFrames)) {
            if (!queue.push(AudioBlock::interleaved(left.data(), right.data(), frames)))
                return;
        }
    } catch (const std::exception& error) {
        failure = error.what();
    }
    queue.close();
}

// Encodes the synthesis as it comes, on two threads.
void streamToMp3(quillory::renderer::BlockSource& renderer, std::uint64_t songFrames,
                 quillory::renderer::Mp3Take& take, Percent& percent) {
    BlockQueue queue(kQueueBlocks);
    std::string synthFailure;
    std::thread producer(produceBlocks, std::ref(renderer), std::ref(queue),
                         std::ref(synthFailure));
    try {
        AudioBlock block;
        std::uint64_t done = 0;
        while (queue.pop(block)) {
            take.add(block.samples.data(), block.frames);
            done += block.frames;
            percent.update(done, songFrames);
        }
    } catch (...) {
        queue.abandon();
        producer.join();
        throw;
    }
    producer.join();
    if (!synthFailure.empty())
        throw ConversionError(synthFailure);
}

// Measures the whole song into the work folder (the first take only), then encodes it levelled.
void levelToMp3(LevelledSource& levelled, quillory::renderer::Mp3Take& take, Percent& percent,
                const fs::path& target) {
    std::vector<float> left(kBlockFrames), right(kBlockFrames);
    std::vector<float> interleaved(2 * kBlockFrames);
    while (!levelled.finished()) {
        std::size_t frames = 0;
        try {
            frames = levelled.render(left.data(), right.data(), kBlockFrames);
        } catch (const quillory::renderer::WorkFileError& error) {
            throw ConversionError("converting to " + platform::Quoted(target) +
                                  " failed: " + error.what());
        }
        if (frames > 0) {
            quillory::renderer::interleave(left.data(), right.data(), frames, interleaved.data());
            take.add(interleaved.data(), frames);
        }
        percent.set(levelled.percent());
    }
}

// What a finished take holds as decoded, a block at a time so that a stop need not wait.
quillory::renderer::Loudness decodedTake(const fs::path& file, quillory::renderer::LossyCodec codec,
                                         Percent& percent) {
    quillory::renderer::DecodedLoudness meter(file, codec);
    while (meter.step() > 0)
        percent.set(99);
    return meter.result();
}

// The levelled song encoded take after take until one keeps the promise as decoded
// (LossyLevelling.h), each in a file of its own (newTake); `take` ends as the best of them,
// finished. Returns what it holds as decoded, where it was judged: a file written to a device or
// a pipe, or a song that the work folder turned to the fixed gain half-way, cannot be.
std::optional<quillory::renderer::Loudness>
levelledTakes(LevelledSource& levelled, std::optional<quillory::renderer::LossyLevelling>& lossy,
              std::unique_ptr<quillory::renderer::Mp3Take>& take, Percent& percent,
              const fs::path& target,
              const std::function<std::unique_ptr<quillory::renderer::Mp3Take>()>& newTake) {
    std::unique_ptr<quillory::renderer::Mp3Take> best;
    for (;;) {
        levelToMp3(levelled, *take, percent, target);
        take->finish();
        if (!lossy || take->direct() || !levelled.notice().empty())
            return std::nullopt;
        const std::optional<double> gain = lossy->retake(
            levelled.gainDb(),
            decodedTake(take->written(), quillory::renderer::LossyCodec::Mp3, percent));
        if (lossy->lastIsBest())
            best = std::move(take);
        else
            take->discard();
        if (!gain) {
            take = std::move(best);
            return lossy->bestDecoded();
        }
        take = newTake();
        levelled.relevel(*gain);
    }
}

void noteFormat(const quillory::renderer::SoundFormat& format, Facts& facts) {
    facts.sampleRate = format.sampleRate;
    facts.channels = format.channels;
    facts.bitsPerSample = format.integerPcm() ? format.bitsPerSample : 0;
}

} // namespace

std::string midiToSound(MidiFile song, Synthesizer& synth,
                        const quillory::renderer::SoundFormat& format, const Levelling& levelling,
                        quillory::output::OutputFile output, const ProgressFn& progress,
                        Facts& facts) {
    facts.seconds = song.lengthMs() / 1000.0;
    noteFormat(format, facts);
    Levelling options = levelling;
    options.tags = quillory::renderer::songTags(song);
    // An interrupted conversion leaves nothing, so there is no stopped WAV to keep.
    options.stoppable = false;
    if (const std::string problem = format.problem(); !problem.empty())
        throw quillory::renderer::RenderError(problem);
    auto synthesis = std::make_unique<ParallelSongRenderer>(
        song, synth, format.sampleRate,
        quillory::renderer::ThreadBudget::givenOrShared(options.threads), options.maxThreads,
        options.split);
    if (options.labels)
        synthesis->keepLabels();
    const ParallelSongRenderer& played = *synthesis;
    auto watch = std::make_unique<SilenceWatch>(std::move(synthesis));
    const SilenceWatch& heard = *watch;
    RenderJob job(std::move(watch), std::move(song), std::move(output), format, std::move(options));
    Percent percent(progress);
    while (job.render(RenderJob::kMaxBlockFrames) > 0)
        percent.set(job.percent());
    if (!heard.heard())
        throw ConversionError(kSilenceMessage);
    job.close();
    percent.done();
    if (job.levelled()) {
        // A lossy file is described as it decodes.
        facts.loudness = job.decoded() ? *job.decoded() : job.levelling()->measured();
        facts.gainDb = job.gainDb();
        facts.takes = job.takes();
    }
    facts.frames = job.framesWritten();
    facts.threadSeconds = job.threadSeconds();
    facts.labels = played.labels();
    return job.notice();
}

std::string midiToMp3(MidiFile song, Synthesizer& synth, int synthRate,
                      const encoder::Mp3Settings& settings, const Levelling& levelling,
                      quillory::output::OutputFile output, const ProgressFn& progress,
                      Facts& facts) {
    using quillory::renderer::Mp3Take;
    facts.seconds = song.lengthMs() / 1000.0;
    facts.sampleRate = synthRate;
    const std::uint64_t maxFrames = ParallelSongRenderer::maxFrames(song, synthRate);
    const fs::path target = output.target();
    const quillory::output::Existing existing = output.existing();
    const quillory::tags::TextTags tags = quillory::renderer::songTags(song);
    auto take = std::make_unique<Mp3Take>(settings, synthRate, tags, std::move(output));
    const std::uint64_t songFrames = song.frameAt(song.endTime(), synthRate);
    auto synthesis = std::make_unique<ParallelSongRenderer>(
        std::move(song), synth, synthRate,
        quillory::renderer::ThreadBudget::givenOrShared(levelling.threads), levelling.maxThreads,
        levelling.split);
    if (levelling.labels)
        synthesis->keepLabels();
    const ParallelSongRenderer& played = *synthesis;
    SilenceWatch renderer(std::move(synthesis));
    std::string notice;
    std::unique_ptr<LevelledSource> levelled;
    std::optional<quillory::renderer::LossyLevelling> lossy;
    if (levelling.loudness) {
        const fs::path folder =
            levelling.workFolder.empty() ? fs::temp_directory_path() : levelling.workFolder;
        const std::uint64_t mp3Bytes =
            (maxFrames / std::uint64_t(synthRate) + 1) * kMaxMp3BytesPerSecond;
        auto store = quillory::renderer::levellingWorkFile(
            folder, quillory::output::folderOf(target), maxFrames, mp3Bytes,
            levelling.space ? levelling.space : quillory::renderer::freeSpace, notice);
        // Measured as the decoded MP3 will sound.
        if (store) {
            const quillory::renderer::Mp3Levelling mp3 =
                quillory::renderer::levellingForMp3(*levelling.loudness, take->stream());
            levelled = std::make_unique<LevelledSource>(renderer, synthRate, mp3.channels,
                                                        std::move(store), mp3.lossy.firstTake(),
                                                        kMp3SynthesisShare);
            levelled->keepSong(songFrames);
            if (levelling.judgeDecoded) {
                lossy.emplace(mp3.lossy);
                levelled->keepForRetakes();
            }
        }
    }
    Percent percent(progress);
    std::optional<quillory::renderer::Loudness> decoded;
    // The MP3's own failures (a full disk) name the MP3, as the conversion's do.
    try {
        if (levelled) {
            decoded = levelledTakes(*levelled, lossy, take, percent, target, [&] {
                return std::make_unique<Mp3Take>(settings, synthRate, tags,
                                                 quillory::output::OutputFile(target, existing));
            });
        } else {
            streamToMp3(renderer, songFrames, *take, percent);
            take->finish();
        }
    } catch (const quillory::renderer::RenderError& error) {
        throw ConversionError(error.what());
    }
    if (!renderer.heard())
        throw ConversionError(kSilenceMessage);
    take->commit();
    percent.done();
    facts.sampleRate = take->stream().plan().sampleRate;
    facts.channels = take->stream().plan().outputChannels();
    facts.frames = take->stream().framesOut();
    facts.labels = played.labels();
    facts.labelScale = double(facts.sampleRate) / double(synthRate);
    facts.threadSeconds = levelled ? levelled->threadSeconds() : renderer.threadSeconds();
    if (levelled && levelled->notice().empty()) {
        facts.loudness = decoded ? *decoded : levelled->measured();
        facts.gainDb = decoded ? lossy->bestGainDb() : levelled->gainDb();
        facts.takes = lossy ? lossy->takes() : 0;
    }
    // A work folder that filled up half-way turned the rest of the song to the fixed gain.
    return levelled && !levelled->notice().empty() ? levelled->notice() : notice;
}

std::string wavToMp3(const WavInput& wav, const encoder::Mp3Settings& settings,
                     quillory::output::OutputFile output, const ProgressFn& progress,
                     Facts& facts) {
    encoder::Mp3FileEncoder mp3;
    if (!mp3.open(wav.file, std::move(output), settings, wav.name))
        throw ConversionError(mp3.error());
    facts.sampleRate = mp3.plan().sampleRate;
    facts.channels = mp3.plan().outputChannels();
    Percent percent(progress);
    for (;;) {
        const auto step = mp3.encodeBlock();
        if (step == encoder::Mp3FileEncoder::Step::Failed)
            throw ConversionError(mp3.error());
        if (step == encoder::Mp3FileEncoder::Step::End)
            break;
        percent.update(std::uint64_t(mp3.framesDone()), std::uint64_t(mp3.totalFrames()));
    }
    if (!mp3.finish())
        throw ConversionError(mp3.error());
    percent.done();
    facts.frames = mp3.framesOut();
    facts.seconds = double(mp3.framesDone()) / double(std::max(1, mp3.sourceRate()));
    return mp3.warning();
}

} // namespace quillory::conversion

namespace quillory::conversion {

namespace {

bool isOpusRate(int rate) {
    return rate == 8000 || rate == 12000 || rate == 16000 || rate == 24000 ||
           rate == SoundFormat::kOpusRate;
}

// The depth a WAV keeps where the command line did not choose: its own where the output can
// hold it, otherwise the nearest above (8-bit into FLAC) or 24 (32-bit integers).
int keptBits(const encoder::WavSource& source, Container container) {
    if (container == Container::Wav)
        return source.floating() ? SoundFormat::kFloatBits : std::min(source.bitsPerSample(), 24);
    return source.bitsPerSample() <= 16 && !source.floating() ? 16 : 24;
}

} // namespace

std::string wavToSound(const WavInput& wav, SoundFormat format, bool bitsGiven, bool channelsGiven,
                       quillory::output::OutputFile output, const ProgressFn& progress,
                       Facts& facts) {
    std::string error;
    const std::unique_ptr<encoder::WavSource> source =
        encoder::WavSource::openFile(wav.file, error, wav.name);
    if (!source)
        throw ConversionError(error);
    const int rate = source->sampleRate();
    format.sampleRate =
        format.container == Container::Opus && !isOpusRate(rate) ? SoundFormat::kOpusRate : rate;
    if (!channelsGiven)
        format.channels = source->channels();
    if (!bitsGiven && format.integerPcm())
        format.bitsPerSample = keptBits(*source, format.container);
    // Integer samples that the output holds as they are are copied, never dithered.
    format.dither = source->floating() || source->bitsPerSample() > format.bitsPerSample;
    if (format.container == Container::Opus && format.sampleRate != SoundFormat::kOpusRate) {
        if (const std::string problem = SoundFormat{.sampleRate = SoundFormat::kOpusRate,
                                                    .channels = format.channels,
                                                    .container = Container::Opus,
                                                    .opusKbps = format.opusKbps}
                                            .problem();
            !problem.empty())
            throw ConversionError(problem);
    } else if (const std::string problem = format.problem(); !problem.empty()) {
        throw ConversionError(platform::Quoted(wav.name) + " cannot become " + format.extension() +
                              ": " + problem);
    }
    std::unique_ptr<encoder::Resampler> resampler;
    if (format.sampleRate != rate)
        resampler =
            std::make_unique<encoder::Resampler>(source->channels(), rate, format.sampleRate);
    const auto frames = std::uint64_t(source->frames());
    quillory::renderer::SoundWriter writer(
        std::move(output), format,
        frames * std::uint64_t(format.sampleRate) / std::uint64_t(rate) + 4096);
    quillory::tags::TextTags tags = source->tags();
    tags.software = std::string(quillory::tags::kSoftware);
    writer.setTags(tags);
    if (!resampler)
        writer.expectFrames(frames);
    Percent percent(progress);
    const std::size_t channels = std::size_t(source->channels());
    std::vector<float> block(kBlockFrames * channels);
    std::uint64_t done = 0;
    const auto put = [&](const float* samples, std::size_t count) {
        if (channels == 2)
            writer.writeInterleaved(samples, count);
        else
            writer.write(samples, samples, count);
    };
    for (;;) {
        const std::int64_t got = source->read(block.data(), std::int64_t(kBlockFrames));
        if (got < 0)
            throw ConversionError(source->error());
        const bool last = got < std::int64_t(kBlockFrames);
        if (resampler) {
            const std::vector<float>& out =
                resampler->convert(block.data(), std::size_t(got), last);
            put(out.data(), out.size() / channels);
        } else {
            put(block.data(), std::size_t(got));
        }
        done += std::uint64_t(got);
        percent.update(done, frames);
        if (last)
            break;
    }
    writer.close();
    percent.done();
    noteFormat(format, facts);
    facts.frames = writer.framesWritten();
    facts.seconds = double(done) / double(rate);
    return source->warning();
}

} // namespace quillory::conversion
