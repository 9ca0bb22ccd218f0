// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/conversion/StemConversion.h"

#include "components/audio/BlockSource.h"
#include "components/audio/StereoLayout.h"
#include "components/conversion/AbortList.h"
#include "components/conversion/Silence.h"
#include "components/levelling/LevelledSource.h"
#include "components/midi/SongTags.h"
#include "components/output/PartFile.h"
#include "components/synthesis/SongRenderer.h"
#include "platform/DiskFiles.h"
#include "platform/ShownName.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillory::conversion {

namespace fs = std::filesystem;
using quillory::renderer::BlockSource;
using quillory::renderer::FloatIntermediate;
using quillory::renderer::kBlockFrames;
using quillory::renderer::LevelledSource;
using quillory::renderer::MidiFile;
using quillory::renderer::SoundFormat;
using quillory::renderer::SoundWriter;
using quillory::renderer::StemSynthesis;
using quillory::renderer::Synthesizer;

namespace {

// A stem that never reaches -120 dBFS is silence: a channel whose notes sound nothing still
// carries the residue FluidSynth's reverb keeps from denormals, around -160 dBFS before the gain.
constexpr float kSilence = 1e-6f;

// Whether anything, a link to nothing included, has that name.
bool there(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// The stems' folder while it is written: a hidden folder of this process beside its final place,
// swept as hidden files are when the process is killed. It takes that place together with the
// song, as one (Claim::move): a folder there before (with force) is set aside at the same time,
// and removed once both are in place. Removed unless put in place, and by a second interrupt.
class StemFolder {
public:
    StemFolder(fs::path target, bool force)
        : target_(std::move(target))
        , force_(force) {
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(target_, ec);
        if (there(target_) && !force)
            throw ConversionError("the stem folder " + platform::Quoted(target_) +
                                  " exists (--force replaces it)");
        if (fs::exists(status) && !fs::is_directory(status))
            throw ConversionError("the stem folder " + platform::Quoted(target_) +
                                  " is not a folder");
        const quillory::output::Part part = quillory::output::createPartFolder(target_);
        if (part.fd < 0)
            throw ConversionError("cannot create the stem folder beside " +
                                  platform::Quoted(target_) + ": " + std::strerror(errno));
        temporary_ = part.path;
        lock_ = part.fd;
        abort_.emplace(temporary_);
    }
    ~StemFolder() {
        if (!temporary_.empty()) {
            std::error_code ignored;
            fs::remove_all(temporary_, ignored);
            quillory::output::releasePart(temporary_);
        }
        platform::CloseFile(lock_);
    }
    StemFolder(const StemFolder&) = delete;
    StemFolder& operator=(const StemFolder&) = delete;

    const fs::path& path() const { return temporary_; }
    const fs::path& target() const { return target_; }

    // Moves the folder into place with the song (from, to), and a folder there before aside.
    std::error_code putInPlace(quillory::output::Claim& claim, const fs::path& from,
                               const fs::path& to, bool replace) {
        const AbortHeldOff holdOff;
        quillory::output::Journal journal;
        if (force_ && there(target_)) {
            aside_ = quillory::output::reservePart(target_);
            journal.push_back({target_, aside_});
        }
        journal.push_back({temporary_, target_});
        journal.push_back({from, to, replace});
        const std::error_code ec = claim.move(std::move(journal));
        if (!ec) {
            quillory::output::releasePart(std::exchange(temporary_, {}));
            return ec;
        }
        // Back where it was, or in the journal that the claim keeps for the next sweep.
        quillory::output::releasePart(std::exchange(aside_, {}));
        if (ec == std::errc::file_exists && there(target_) && !there(to))
            throw ConversionError("the stem folder " + platform::Quoted(target_) +
                                  " appeared meanwhile and was left as it is");
        return ec;
    }
    // Drops the folder set aside, once the new one and the song are in place.
    void finish() {
        if (aside_.empty())
            return;
        std::error_code ignored;
        fs::remove_all(aside_, ignored);
        quillory::output::releasePart(std::exchange(aside_, {}));
    }

private:
    fs::path target_;
    bool force_;
    fs::path temporary_;
    int lock_ = -1;  // held while the folder is written, which tells other processes so
    fs::path aside_; // the folder replaced, until the song is in place
    std::optional<RemovedOnAbort> abort_;
};

// Hands the mix on as it comes and keeps every stem of it in its work file, for as long as the
// first pass of the levelling lasts.
class StemKeeper final : public BlockSource {
public:
    StemKeeper(StemSynthesis& stems, std::vector<std::unique_ptr<FloatIntermediate>>& stores)
        : stems_(stems)
        , stores_(stores) {}

    std::size_t render(float* left, float* right, std::size_t maxFrames) override {
        const std::size_t n = stems_.render(left, right, maxFrames);
        if (keeping_)
            for (std::size_t i = 0; i < stores_.size(); ++i)
                stores_[i]->write(stems_.stemLeft(i), stems_.stemRight(i), n);
        return n;
    }
    bool finished() const override { return stems_.finished(); }
    int percent() const override { return stems_.percent(); }
    void raiseLaterBy(double boostDb) override { stems_.raiseLaterBy(boostDb); }
    double threadSeconds() const override { return stems_.threadSeconds(); }
    void stopKeeping() { keeping_ = false; }

private:
    StemSynthesis& stems_;
    std::vector<std::unique_ptr<FloatIntermediate>>& stores_;
    bool keeping_ = true;
};

// One stem's file in the folder, with noise of its own.
struct StemOutput {
    std::size_t stem;
    fs::path file; // its final place
    std::unique_ptr<SoundWriter> writer;
};

void checkRoom(const Levelling& levelling, const fs::path& target, std::uint64_t bytes) {
    const auto space = levelling.space ? levelling.space : quillory::renderer::freeSpace;
    const fs::space_info room = space(quillory::output::folderOf(target));
    if (room.capacity > 0 && room.available < bytes)
        throw ConversionError("not enough free space for " + platform::Quoted(target) +
                              " and its stems: they need up to " +
                              std::to_string((bytes >> 20) + 1) + " MiB and " +
                              std::to_string(room.available >> 20) + " MiB are free");
}

// The work files of the mix and of every stem, or none and why not.
struct Stores {
    std::unique_ptr<FloatIntermediate> mix;
    std::vector<std::unique_ptr<FloatIntermediate>> stems;
};

Stores workFiles(const Levelling& levelling, const fs::path& target, std::size_t count,
                 std::uint64_t maxFrames, std::uint64_t outputBytes, std::string& notice) {
    Stores stores;
    const fs::path folder =
        levelling.workFolder.empty() ? fs::temp_directory_path() : levelling.workFolder;
    const auto space = levelling.space ? levelling.space : quillory::renderer::freeSpace;
    stores.mix = quillory::renderer::levellingWorkFile(folder, quillory::output::folderOf(target),
                                                       maxFrames, outputBytes, space, notice);
    for (std::size_t i = 0; stores.mix && i < count; ++i) {
        auto store = quillory::renderer::levellingWorkFile(
            folder, quillory::output::folderOf(target), maxFrames, 0, space, notice);
        if (!store)
            return {};
        stores.stems.push_back(std::move(store));
    }
    if (!stores.mix)
        return {};
    return stores;
}

} // namespace

fs::path stemFolderFor(const fs::path& output) {
    fs::path folder = output;
    folder.replace_extension(".stems");
    return folder;
}

bool folderAccepts(const fs::path& folder, const std::string& name) {
    const fs::path probe = folder / name;
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno != EINVAL && errno != EILSEQ && errno != ENAMETOOLONG;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

std::string stemFileName(const quillory::renderer::StemChannel& stem, const std::string& extension,
                         const std::function<bool(const std::string&)>& accepted) {
    const std::string named = stem.name() + extension;
    return accepted(named) ? named : stem.plainName() + extension;
}

namespace {

// Writes the song and its stems: levelled from the work files, or straight from the synthesis.
// Integer PCM is quantised for all of them at once (StemDither), so that the stems add up to the
// mix exactly; float and the lossy formats take the samples as they are.
class StemRun {
public:
    StemRun(StemSynthesis& stems, SoundWriter& mix, std::vector<StemOutput>& outputs,
            const SoundFormat& format)
        : stems_(stems)
        , mix_(mix)
        , outputs_(outputs)
        , channels_(std::size_t(format.channels))
        , left_(kBlockFrames)
        , right_(kBlockFrames)
        , stemLeft_(outputs.size(), std::vector<float>(kBlockFrames))
        , stemRight_(outputs.size(), std::vector<float>(kBlockFrames))
        , laid_(outputs.size(), std::vector<float>(2 * kBlockFrames))
        , mixLaid_(2 * kBlockFrames) {
        if (format.integerPcm())
            dither_.emplace(format.bitsPerSample);
    }

    void direct(Percent& percent) {
        while (const std::size_t n = stems_.render(left_.data(), right_.data(), kBlockFrames)) {
            for (std::size_t i = 0; i < outputs_.size(); ++i) {
                std::copy_n(stems_.stemLeft(outputs_[i].stem), n, stemLeft_[i].data());
                std::copy_n(stems_.stemRight(outputs_[i].stem), n, stemRight_[i].data());
            }
            emit(n);
            percent.set(stems_.percent());
        }
    }

    void levelled(LevelledSource& levelled, StemKeeper& keeper, Stores& stores, Percent& percent) {
        bool reading = false;
        while (!levelled.finished()) {
            std::size_t n = 0;
            try {
                n = levelled.render(left_.data(), right_.data(), kBlockFrames);
            } catch (const quillory::renderer::WorkFileError& error) {
                throw ConversionError("converting to " + platform::Quoted(mix_.target()) +
                                      " failed: " + error.what());
            }
            if (levelled.handingOut() && !reading) {
                keeper.stopKeeping();
                for (auto& store : stores.stems)
                    store->rewind();
                reading = true;
            }
            if (n > 0) {
                const float factor = levelled.pass() == LevelledSource::Pass::Unlevelled
                                         ? 1.0f
                                         : float(quillory::renderer::dbToFactor(levelled.gainDb()));
                for (std::size_t i = 0; i < outputs_.size(); ++i)
                    readStem(i, *stores.stems[outputs_[i].stem], n, factor);
                emit(n);
            }
            percent.set(levelled.percent());
        }
    }

private:
    // The stem's next frames from its work file, or past what it kept (the work folder filled up
    // and the rest is synthesised at the fixed gain) from the synthesis's last block.
    void readStem(std::size_t i, FloatIntermediate& store, std::size_t n, float factor) {
        float* left = stemLeft_[i].data();
        float* right = stemRight_[i].data();
        const std::size_t got = store.read(left, right, n);
        if (got == 0) {
            std::copy_n(stems_.stemLeft(outputs_[i].stem), n, left);
            std::copy_n(stems_.stemRight(outputs_[i].stem), n, right);
            return;
        }
        if (got < n)
            throw ConversionError("reading " + platform::Quoted(store.path()) +
                                  " failed (it ends early)");
        for (std::size_t f = 0; f < n; ++f) {
            left[f] *= factor;
            right[f] *= factor;
        }
    }

    // The mix is the sum of the stems as written.
    void emit(std::size_t n) {
        if (!dither_) {
            std::fill_n(left_.begin(), n, 0.0f);
            std::fill_n(right_.begin(), n, 0.0f);
            for (std::size_t i = 0; i < outputs_.size(); ++i) {
                outputs_[i].writer->write(stemLeft_[i].data(), stemRight_[i].data(), n);
                for (std::size_t f = 0; f < n; ++f) {
                    left_[f] += stemLeft_[i][f];
                    right_[f] += stemRight_[i][f];
                }
            }
            mix_.write(left_.data(), right_.data(), n);
            return;
        }
        std::vector<float*> laid;
        for (std::size_t i = 0; i < outputs_.size(); ++i) {
            // In the file's own layout: interleaved stereo, or mono as the writer makes it.
            quillory::renderer::inChannels(stemLeft_[i].data(), stemRight_[i].data(), n,
                                           int(channels_), laid_[i]);
            laid.push_back(laid_[i].data());
        }
        dither_->quantize(laid.data(), laid.size(), n * channels_, mixLaid_.data());
        for (std::size_t i = 0; i < outputs_.size(); ++i)
            put(*outputs_[i].writer, laid_[i].data(), n);
        put(mix_, mixLaid_.data(), n);
    }

    void put(SoundWriter& writer, const float* samples, std::size_t n) const {
        if (channels_ == 2)
            writer.writeInterleaved(samples, n);
        else
            writer.write(samples, samples, n);
    }

    StemSynthesis& stems_;
    SoundWriter& mix_;
    std::vector<StemOutput>& outputs_;
    std::size_t channels_;
    std::optional<quillory::renderer::StemDither> dither_;
    std::vector<float> left_, right_;
    std::vector<std::vector<float>> stemLeft_, stemRight_, laid_;
    std::vector<float> mixLaid_;
};

quillory::tags::TextTags stemTags(quillory::tags::TextTags tags, const std::string& name) {
    tags.title += (tags.title.empty() ? "" : " ") + ("(" + name + ")");
    return tags;
}

} // namespace

std::string midiToSoundWithStems(MidiFile song, Synthesizer& synth, const SoundFormat& format,
                                 const Levelling& levelling, quillory::output::OutputFile output,
                                 quillory::output::Claim& claim, bool force,
                                 const ProgressFn& progress, Facts& facts) {
    if (const std::string problem = format.problem(); !problem.empty())
        throw ConversionError(problem);
    facts.seconds = song.lengthMs() / 1000.0;
    const quillory::tags::TextTags tags = quillory::renderer::songTags(song);
    const std::uint64_t maxFrames =
        quillory::renderer::SongRenderer::maxFrames(song, format.sampleRate);
    StemSynthesis stems(std::move(song), synth, format.sampleRate,
                        quillory::renderer::ThreadBudget::givenOrShared(levelling.threads),
                        levelling.maxThreads);
    if (levelling.labels)
        stems.keepLabels();
    const fs::path target = output.target();
    const bool replaceMix = output.existing() == quillory::output::Existing::Replace;
    const std::uint64_t fileBytes = maxFrames * format.bytesPerFrame() + 4096;
    checkRoom(levelling, target, fileBytes * (stems.stems().size() + 1));
    StemFolder folder(stemFolderFor(target), force);

    std::string notice;
    Stores stores;
    std::unique_ptr<StemKeeper> keeper;
    std::unique_ptr<LevelledSource> levelled;
    if (levelling.loudness) {
        stores = workFiles(levelling, target, stems.stems().size(), maxFrames,
                           fileBytes * (stems.stems().size() + 1), notice);
        if (stores.mix) {
            keeper = std::make_unique<StemKeeper>(stems, stores.stems);
            levelled =
                std::make_unique<LevelledSource>(*keeper, format.sampleRate, format.channels,
                                                 std::move(stores.mix), *levelling.loudness, 95);
            levelled->keepSong(stems.songFrames());
        }
    }

    // Integer samples come out of StemDither already on their steps.
    SoundFormat written = format;
    written.dither = !format.integerPcm();
    SoundWriter mix(std::move(output), written, maxFrames);
    mix.setTags(tags);
    std::vector<StemOutput> outputs;
    const auto accepted = [&](const std::string& name) {
        return folderAccepts(folder.path(), name);
    };
    for (std::size_t i = 0; i < stems.stems().size(); ++i) {
        const auto& stem = stems.stems()[i];
        const std::string name = stemFileName(stem, format.extension(), accepted);
        outputs.push_back(
            {i, folder.target() / name,
             std::make_unique<SoundWriter>(folder.path() / name, written, maxFrames,
                                           quillory::renderer::DitherQuantizer::kDefaultSeed + 1 +
                                               std::uint64_t(stem.channel))});
        outputs.back().writer->setTags(stemTags(tags, stem.name()));
    }

    Percent percent(progress);
    StemRun run(stems, mix, outputs, format);
    if (levelled)
        run.levelled(*levelled, *keeper, stores, percent);
    else
        run.direct(percent);

    for (StemOutput& out : outputs) {
        if (out.writer->peak() < kSilence) {
            out.writer->discard();
            continue;
        }
        out.writer->close();
        const auto& stem = stems.stems()[out.stem];
        facts.stems.push_back({stem.channel + 1, stem.name(), out.file, stem.drums, stem.programs,
                               levelling.labels ? stems.stemLabels(out.stem)
                                                : std::vector<quillory::renderer::NoteLabel>{}});
    }
    if (levelling.labels) {
        std::vector<std::vector<quillory::renderer::NoteLabel>> all;
        for (std::size_t i = 0; i < stems.stems().size(); ++i)
            all.push_back(stems.stemLabels(i));
        facts.labels = quillory::renderer::mergedLabels(std::move(all));
    }
    // No stem sounds, so neither does their sum.
    if (facts.stems.empty())
        throw ConversionError(kSilenceMessage);
    mix.close(quillory::output::Flush::First, [&](const fs::path& from, const fs::path& to) {
        return folder.putInPlace(claim, from, to, replaceMix);
    });
    folder.finish();
    percent.set(99);
    if (levelled && levelled->notice().empty()) {
        facts.loudness = levelled->measured();
        facts.gainDb = levelled->gainDb();
    }
    facts.sampleRate = format.sampleRate;
    facts.channels = format.channels;
    facts.bitsPerSample = format.integerPcm() ? format.bitsPerSample : 0;
    facts.frames = mix.framesWritten();
    facts.threadSeconds = levelled ? levelled->threadSeconds() : stems.threadSeconds();
    return levelled && !levelled->notice().empty() ? levelled->notice() : notice;
}

} // namespace quillory::conversion
