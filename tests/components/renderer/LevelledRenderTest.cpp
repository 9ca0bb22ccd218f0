// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Renders evened out in loudness, end to end through RenderJob with the test SoundFont: songs of
// very different levels come out at the target or at the peak ceiling, the fixed gain stays what
// it was, a stop keeps what was rendered, and neither a full disk nor a full work folder leaves
// anything behind. Levels are measured on the written files with libebur128 directly.
#include "components/renderer/RenderJob.h"
#include "components/synthesis/ParallelSongRenderer.h"
#include "tests/components/renderer/LevelProbe.h"
#include "tests/components/renderer/RenderSupport.h"
#include "tests/components/renderer/WavProbe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <sys/stat.h>

using namespace quillory::renderer;
using rendertest::kSoundFont;
using rendertest::TempFolder;

namespace {

namespace fs = std::filesystem;

constexpr SoundFormat kCd{44100, 16, 2};

MidiFile song(const midiwriter::Bytes& bytes, const std::string& name = "song.mid") {
    return MidiFile::parse(bytes, name);
}

RenderOptions levelledIn(const fs::path& workFolder) {
    RenderOptions options;
    options.loudness = LoudnessTarget{};
    options.workFolder = workFolder;
    return options;
}

// Renders the whole song with a fresh synth; the percentages it went through come back, the
// last one after the last block.
std::vector<int> renderAll(const MidiFile& midi, const SoundFormat& format, const fs::path& out,
                           const RenderOptions& options) {
    Synthesizer synth(kSoundFont, format.sampleRate);
    RenderJob job(midi, synth, out, format, options);
    std::vector<int> percents;
    while (job.render(RenderJob::kMaxBlockFrames) > 0)
        percents.push_back(job.percent());
    percents.push_back(job.percent());
    job.close();
    return percents;
}

// The gain in dB that best maps one file's samples onto the other's, over the frames both have:
// the levelled song's tail ends where it dies away as heard, after the gain.
double gainBetween(const fs::path& from, const fs::path& to) {
    const levelprobe::Audio a = levelprobe::readWav(from);
    const levelprobe::Audio b = levelprobe::readWav(to);
    double cross = 0, power = 0;
    for (std::size_t i = 0; i < std::min(a.samples.size(), b.samples.size()); ++i) {
        cross += double(a.samples[i]) * b.samples[i];
        power += double(a.samples[i]) * a.samples[i];
    }
    return 20 * std::log10(cross / power);
}

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(LevelledRender, SongsOfVeryDifferentLevelsComeOutAtTheTargetOrThePeakCeiling) {
    TempFolder dir;
    fs::create_directory(dir / "work");
    struct Case {
        const char* name;
        midiwriter::Bytes midi;
        SoundFormat format;
    };
    const Case cases[] = {
        {"quiet piano line", rendertest::quietPianoLine(), kCd},
        {"quiet piano line, mono 8-bit", rendertest::quietPianoLine(), {22050, 8, 1}},
        {"dense tutti", rendertest::denseTutti(), kCd},
        {"sparse drum hits", rendertest::sparseDrumHits(), kCd},
        {"near silence", rendertest::nearSilentSong(), kCd},
    };
    std::set<std::string> bound;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const MidiFile midi = song(c.midi);
        // The reference at the fixed gain has 16 bits, so that its own dither hides nothing.
        renderAll(midi, {c.format.sampleRate, 16, c.format.channels}, dir / "fixed.wav", {});
        const std::vector<int> percents =
            renderAll(midi, c.format, dir / "even.wav", levelledIn(dir / "work"));
        const levelprobe::Level fixed = levelprobe::measureWav(dir / "fixed.wav");
        const levelprobe::Level even = levelprobe::measureWav(dir / "even.wav");
        SCOPED_TRACE(testing::Message()
                     << "fixed " << fixed.lufs << " LUFS " << fixed.truePeakDbtp << " dBTP; even "
                     << even.lufs << " LUFS " << even.truePeakDbtp << " dBTP");
        // What the one gain must be, from the fixed-gain render measured here.
        const double toTarget = -16.0 - fixed.lufs;
        const double toCeiling = -1.0 - fixed.truePeakDbtp;
        const double gain = std::min({toTarget, toCeiling, 24.0});
        // An 8-bit file's own dither moves its peaks by up to a step.
        const double peakSlack = c.format.bitsPerSample == 8 ? 0.15 : 0.05;
        if (gain == toTarget) {
            EXPECT_NEAR(even.lufs, -16.0, 1.0);
        } else if (gain == toCeiling) {
            EXPECT_NEAR(even.truePeakDbtp, -1.0, peakSlack);
        }
        bound.insert(gain == toTarget ? "target" : gain == toCeiling ? "ceiling" : "limit");
        EXPECT_LE(even.truePeakDbtp, -1.0 + peakSlack);
        EXPECT_LT(even.samplePeak, 32767.0 / 32768.0) << "a sample at full scale";
        // One gain for the whole song, no compression: the samples are the fixed render's times
        // that gain (which for near silence is the limit of 24 dB).
        EXPECT_NEAR(gainBetween(dir / "fixed.wav", dir / "even.wav"), gain, 0.1);
        // Progress rises through both passes and reaches 100 only with the last block.
        ASSERT_FALSE(percents.empty());
        EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
        EXPECT_EQ(percents.back(), 100);
        EXPECT_EQ(std::count(percents.begin(), percents.end(), 100), 1);
        EXPECT_TRUE(filesIn(dir / "work").empty()) << "the work file outlived the render";
    }
    EXPECT_EQ(bound, (std::set<std::string>{"ceiling", "limit", "target"}))
        << "each rule of the gain decides one of the songs";
}

TEST(LevelledRender, OffKeepsTheFixedGainAndDiffersFromPlainRoundingOnlyByTheDither) {
    TempFolder dir;
    const MidiFile midi = song(rendertest::denseTutti());
    renderAll(midi, kCd, dir / "off.wav", {});
    const WavProbe off = WavProbe::read(dir / "off.wav");
    ASSERT_TRUE(off.valid);

    // The same synthesis, split over the cores as the job splits it, rounded plainly as renders
    // were before they were dithered.
    Synthesizer synth(kSoundFont, kCd.sampleRate);
    ParallelSongRenderer renderer(midi, synth, kCd.sampleRate);
    std::vector<float> left(4096), right(4096), exact;
    while (const std::size_t n = renderer.render(left.data(), right.data(), left.size()))
        for (std::size_t i = 0; i < n; ++i)
            exact.insert(exact.end(), {left[i], right[i]});
    ASSERT_EQ(off.samples(), exact.size());
    EXPECT_GT(*std::max_element(exact.begin(), exact.end()) / 0.15f, 1.0f)
        << "at a synth gain of 1 this song would clip";

    std::vector<float> rounded(exact.size());
    double differences = 0, squares = 0;
    std::size_t sounding = 0;
    for (std::size_t i = 0; i < exact.size(); ++i) {
        const float plain = std::clamp(std::nearbyint(exact[i] * 32768.0f), -32768.0f, 32767.0f);
        rounded[i] = plain / 32768.0f;
        const int difference = off.sample(i) - int(plain);
        ASSERT_LE(std::abs(difference), 1) << "sample " << i;
        if (std::fabs(exact[i]) * 32768.0f > 4.0f) {
            ++sounding;
            differences += difference;
            squares += double(difference) * difference;
        }
    }
    ASSERT_GT(sounding, exact.size() / 2);
    // Dither, not rounding: about a third of the sounding samples land a step off, evenly
    // above and below.
    EXPECT_NEAR(squares / double(sounding), 0.33, 0.1);
    EXPECT_NEAR(differences / double(sounding), 0.0, 0.01);
    EXPECT_NEAR(levelprobe::measureWav(dir / "off.wav").lufs,
                levelprobe::measure(rounded, 2, kCd.sampleRate).lufs, 0.1);
}

TEST(LevelledRender, AStopKeepsTheFixedGainWavOfWhatWasSynthesisedOrTheLevelledPartWritten) {
    TempFolder dir;
    fs::create_directory(dir / "work");
    const MidiFile midi = song(rendertest::quietPianoLine());
    renderAll(midi, kCd, dir / "off.wav", {});
    renderAll(midi, kCd, dir / "even.wav", levelledIn(dir / "work"));
    const WavProbe off = WavProbe::read(dir / "off.wav");
    const WavProbe even = WavProbe::read(dir / "even.wav");

    RenderOptions stoppable = levelledIn(dir / "work");
    stoppable.stoppable = true;
    const auto expectPrefix = [](const WavProbe& part, const WavProbe& whole) {
        ASSERT_TRUE(part.valid);
        ASSERT_GT(part.frames(), 0u);
        ASSERT_LT(part.frames(), whole.frames());
        for (std::size_t i = 0; i < part.samples(); ++i)
            ASSERT_EQ(part.sample(i), whole.sample(i)) << "sample " << i;
    };
    {
        SCOPED_TRACE("stopped while synthesising");
        Synthesizer synth(kSoundFont, kCd.sampleRate);
        RenderJob job(midi, synth, dir / "stopped.wav", kCd, stoppable);
        for (int block = 0; block < 20; ++block)
            job.render(RenderJob::kMaxBlockFrames);
        ASSERT_EQ(job.levelling()->pass(), LevelledSource::Pass::Measuring);
        job.close();
        expectPrefix(WavProbe::read(dir / "stopped.wav"), off);
        EXPECT_EQ(WavProbe::read(dir / "stopped.wav").frames(), 20 * RenderJob::kMaxBlockFrames);
    }
    {
        SCOPED_TRACE("stopped while writing the levelled song");
        Synthesizer synth(kSoundFont, kCd.sampleRate);
        RenderJob job(midi, synth, dir / "stopped.wav", kCd, stoppable);
        while (job.framesWritten() < 10 * RenderJob::kMaxBlockFrames)
            job.render(RenderJob::kMaxBlockFrames);
        job.close();
        expectPrefix(WavProbe::read(dir / "stopped.wav"), even);
    }
    EXPECT_TRUE(filesIn(dir / "work").empty());
    EXPECT_EQ(filesIn(dir.path()),
              (std::vector<std::string>{"even.wav", "off.wav", "stopped.wav", "work"}));
}

TEST(LevelledRender, AFullDiskDuringTheOutputPassNamesTheTargetAndLeavesNothing) {
    TempFolder dir;
    fs::create_directory(dir / "work");
    const fs::path target = dir / "song.wav";
    midiwriter::save(target, {'o', 'l', 'd'});
    for (bool stoppable : {false, true}) {
        SCOPED_TRACE(stoppable ? "stoppable" : "batch");
        RenderOptions options = levelledIn(dir / "work");
        options.stoppable = stoppable;
        Synthesizer synth(kSoundFont, kCd.sampleRate);
        std::string error;
        {
            RenderJob job(song(rendertest::quietPianoLine()), synth, target, kCd, options);
            while (job.levelling()->pass() != LevelledSource::Pass::Levelled)
                ASSERT_GT(job.render(RenderJob::kMaxBlockFrames), 0u);
            try {
                const rendertest::FileSizeLimit fullDisk(64 * 1024);
                while (job.render(RenderJob::kMaxBlockFrames) > 0) {
                }
                job.close();
            } catch (const RenderError& e) {
                error = e.what();
            }
        }
        EXPECT_NE(error.find("writing " + target.string() + " failed"), std::string::npos) << error;
        EXPECT_EQ(fs::file_size(target), 3u) << "the file it was to replace is whole";
        EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"song.wav", "work"}));
        EXPECT_TRUE(filesIn(dir / "work").empty());
    }
}

TEST(LevelledRender, WithoutRoomForTheWorkFileTheSongIsRenderedAtTheFixedGainWithANotice) {
    TempFolder dir;
    fs::create_directory(dir / "work");
    const MidiFile midi = song(rendertest::quietPianoLine());
    renderAll(midi, kCd, dir / "off.wav", {});
    const double fixedLufs = levelprobe::measureWav(dir / "off.wav").lufs;

    // 6 s of song and 3 s of tail: about 3 MiB of work file and 1.5 MiB of WAV.
    const auto disks = [](std::uint64_t workFree, std::uint64_t targetFree, bool oneDisk) {
        return [=](const fs::path& folder) {
            const bool work = folder.filename() == "work";
            const std::uintmax_t capacity = oneDisk ? 1u << 30 : (work ? 1u << 30 : 1u << 29);
            const std::uintmax_t free = work ? workFree : targetFree;
            return fs::space_info{capacity, free, free};
        };
    };
    const rlim_t wavBytes = fs::file_size(dir / "off.wav");
    struct Case {
        const char* name;
        SpaceProbe space;
        fs::path workFolder;
        std::string notice;       // empty when the song is levelled
        rlim_t fileSizeLimit = 0; // while rendering: a disk that fills up half-way
    } cases[] = {
        {"room enough", disks(8 << 20, 8 << 20, false), dir / "work", ""},
        {"work folder full", disks(1 << 20, 8 << 20, false), dir / "work",
         "not enough free space in the work folder " + (dir / "work").string()},
        {"one disk, room for either but not both", disks(4 << 20, 4 << 20, true), dir / "work",
         "together with the target"},
        {"no work folder", freeSpace, dir / "gone", (dir / "gone").string()},
        // The work file takes twice the WAV's bytes: it fills up three quarters into the song.
        {"work folder full half-way", freeSpace, dir / "work",
         "the work folder " + (dir / "work").string() + " ran out of room", wavBytes * 3 / 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RenderOptions options = levelledIn(c.workFolder);
        options.space = c.space;
        Synthesizer synth(kSoundFont, kCd.sampleRate);
        RenderJob job(midi, synth, dir / "out.wav", kCd, options);
        const rendertest::FileSizeLimit fillingUp(c.fileSizeLimit ? c.fileSizeLimit
                                                                  : RLIM_INFINITY);
        while (job.render(RenderJob::kMaxBlockFrames) > 0) {
        }
        job.close();
        EXPECT_EQ(job.levelled(), c.notice.empty());
        EXPECT_NE(job.notice().find(c.notice), std::string::npos) << job.notice();
        const double lufs = levelprobe::measureWav(dir / "out.wav").lufs;
        if (c.notice.empty())
            EXPECT_NEAR(lufs, -16.0, 1.0);
        else
            EXPECT_NEAR(lufs, fixedLufs, 0.05);
    }
    EXPECT_TRUE(filesIn(dir / "work").empty());
}

// A work folder with room for one work file and a half, whose used space is what its files take
// on the disk, reserved blocks included; the targets have room enough.
TEST(LevelledRender, SongsSideBySideReserveTheirRoomAndOneWithoutRoomGoesOnAtTheFixedGain) {
    TempFolder dir;
    fs::create_directory(dir / "work");
    const MidiFile midi = song(rendertest::quietPianoLine());
    RenderOptions options = levelledIn(dir / "work");
    options.space = [capacity = SongRenderer::maxFrames(midi, kCd.sampleRate) *
                                12](const fs::path& folder) {
        if (folder.filename() != "work")
            return fs::space_info{1ull << 40, 1ull << 40, 1ull << 40};
        std::uintmax_t used = 0;
        for (const auto& entry : fs::directory_iterator(folder)) {
            struct stat info = {};
            stat(entry.path().c_str(), &info);
            used += std::uintmax_t(info.st_blocks) * 512;
        }
        const std::uintmax_t free = capacity - std::min<std::uintmax_t>(capacity, used);
        return fs::space_info{capacity, free, free};
    };
    Synthesizer first(kSoundFont, kCd.sampleRate), second(kSoundFont, kCd.sampleRate);
    RenderJob a(midi, first, dir / "a.wav", kCd, options);
    RenderJob b(midi, second, dir / "b.wav", kCd, options);
    EXPECT_TRUE(a.levelled());
    EXPECT_FALSE(b.levelled()) << "the second song counted the first one's room as free";
    EXPECT_NE(b.notice().find("not enough free space in the work folder"), std::string::npos);
}
