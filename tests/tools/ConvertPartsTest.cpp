// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The converter's parts in-process: settings and their overrides, which outputs it may write,
// how a batch shares the cores, and a song converted without room for its work file.
#include "components/synthesis/ThreadBudget.h"
#include "tests/components/renderer/LevelProbe.h"
#include "tests/components/renderer/RenderSupport.h"
#include "tools/convert/Batch.h"
#include "tools/convert/ConvertSettings.h"
#include "tools/convert/Converter.h"
#include "tools/convert/OutputPolicy.h"

#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace convert;
using rendertest::TempFolder;

namespace {

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> names(const fs::path& dir) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(dir))
        found.push_back(entry.path().filename().string());
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace

TEST(ConvertSettingsTest, FileValuesThenCommandLineOverrides) {
    TempFolder dir;
    writeText(dir / "options.ini", "[MP3]\nBitrate=192\nMp3Channels=2\nVBR=True\nMinBitrate=64\n"
                                   "MaxBitrate=160\n[WAV]\nFrequency=22050\nBits=8\n"
                                   "WavChannels=1\n[Renderer]\nSoundFont=/sf/chosen.sf2\n"
                                   "Loudness=-20\n");
    Options options;
    options.settingsFile = dir / "options.ini";
    ResolvedSettings resolved = resolveSettings(options, dir / "unused.ini", dir.path());
    ASSERT_EQ(resolved.error, "");
    const ConvertSettings& s = resolved.settings;
    EXPECT_EQ(s.sound.sampleRate, 22050);
    EXPECT_EQ(s.sound.bitsPerSample, 8);
    EXPECT_EQ(s.sound.channels, 1);
    EXPECT_EQ(s.mp3SynthRate, 44100) << "MIDI for an MP3 is synthesised at 44100 Hz";
    EXPECT_EQ(s.mp3.vbrMode, 1);
    EXPECT_EQ(s.mp3.minBitRateKbps, 64);
    EXPECT_EQ(s.mp3.maxBitRateKbps, 160);
    EXPECT_EQ(s.mp3.channelMode, 2);
    EXPECT_EQ(s.soundFonts, quillory::renderer::SoundFontStack{"/sf/chosen.sf2"});
    EXPECT_EQ(s.loudness, (quillory::renderer::LoudnessChoice{true, -20.0}));

    options.overrides.rate = 32000;
    options.overrides.bits = 16;
    options.overrides.bitRate = 96;
    options.overrides.channelMode = 1;
    options.overrides.soundFonts = {rendertest::kSoundFont};
    resolved = resolveSettings(options, dir / "unused.ini", dir.path());
    ASSERT_EQ(resolved.error, "");
    EXPECT_EQ(resolved.settings.sound.sampleRate, 32000);
    EXPECT_EQ(resolved.settings.mp3SynthRate, 32000);
    EXPECT_EQ(resolved.settings.sound.bitsPerSample, 16);
    EXPECT_EQ(resolved.settings.sound.channels, 1) << "not overridden, so still the file's";
    EXPECT_EQ(resolved.settings.mp3.vbrMode, 0) << "--bitrate asks for a constant bit rate";
    EXPECT_EQ(resolved.settings.mp3.bitRateKbps, 96);
    EXPECT_EQ(resolved.settings.mp3.channelMode, 1);
    EXPECT_EQ(resolved.settings.soundFonts,
              quillory::renderer::SoundFontStack{rendertest::kSoundFont});
}

TEST(ConvertSettingsTest, MissingDefaultMeansDefaultsButANamedFileMustExist) {
    TempFolder dir;
    Options options;
    ResolvedSettings resolved = resolveSettings(options, dir / "absent.ini", dir.path());
    ASSERT_EQ(resolved.error, "");
    EXPECT_EQ(resolved.settings.sound.sampleRate, 44100);
    EXPECT_EQ(resolved.settings.sound.bitsPerSample, 16);
    EXPECT_EQ(resolved.settings.sound.channels, 2);
    EXPECT_EQ(resolved.settings.mp3.vbrMode, 0);
    EXPECT_EQ(resolved.settings.mp3.bitRateKbps, 128);
    EXPECT_EQ(resolved.settings.loudness, (quillory::renderer::LoudnessChoice{true, -16.0}));
    EXPECT_FALSE(fs::exists(dir / "absent.ini")) << "reading settings must not create them";

    options.settingsFile = dir / "typo.ini";
    EXPECT_NE(resolveSettings(options, dir / "absent.ini", dir.path()).error.find("typo.ini"),
              std::string::npos);
    options.settingsFile.reset();
    options.overrides.soundFonts = {dir / "none.sf2"};
    EXPECT_NE(resolveSettings(options, dir / "absent.ini", dir.path()).error.find("none.sf2"),
              std::string::npos);
}

// The batch reads the settings the program reads: beside an installed program in a read-only
// folder until the user has saved a file of their own, then the user's.
TEST(ConvertSettingsTest, ProgramSettingsAreTheOnesTheProgramReads) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root may write into a read-only folder";
    TempFolder program;
    TempFolder config;
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.path().string()));
    writeText(program / "options.ini", "[MP3]\nBitrate=192\n");
    fs::permissions(program.path(), fs::perms::owner_read | fs::perms::owner_exec);
    const Options options;
    const auto bitRate = [&] {
        return resolveSettings(options, programSettingsFile(program.path()), program.path())
            .settings.mp3.bitRateKbps;
    };
    EXPECT_EQ(bitRate(), 192);
    fs::create_directories(config / "quillory");
    writeText(config / "quillory/options.ini", "[MP3]\nBitrate=256\n");
    EXPECT_EQ(bitRate(), 256);
    fs::permissions(program.path(), fs::perms::owner_all);
    if (savedConfig.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", savedConfig);
}

TEST(ConvertOutputPolicy, AnExistingFileOnlyWithForceAndNeverAnythingButAFile) {
    TempFolder dir;
    writeText(dir / "out.mp3", "keep me");
    EXPECT_NE(outputRefusal(dir / "out.mp3", false).find("exists"), std::string::npos);
    EXPECT_EQ(outputRefusal(dir / "out.mp3", true), "");
    EXPECT_EQ(outputRefusal(dir / "new.mp3", false), "");
    fs::create_directory(dir / "taken.wav");
    EXPECT_NE(outputRefusal(dir / "taken.wav", true).find("is a folder"), std::string::npos);
    ASSERT_EQ(mkfifo((dir / "pipe.mp3").c_str(), 0600), 0);
    EXPECT_NE(outputRefusal(dir / "pipe.mp3", true).find("not an ordinary file"),
              std::string::npos);
    EXPECT_NE(outputRefusal("/dev/null", true).find("not an ordinary file"), std::string::npos);
}

TEST(ConvertOutputPolicy, WithoutForceAFileThatAppearsMeanwhileIsLeftAlone) {
    TempFolder dir;
    for (bool force : {false, true}) {
        auto output = outputFor(dir / "out.wav", force);
        ASSERT_EQ(output.create(), "");
        writeText(output.writePath(), "converted");
        writeText(dir / "out.wav", "appeared");
        EXPECT_EQ(output.commit().empty(), force);
        EXPECT_EQ(readText(dir / "out.wav"), force ? "converted" : "appeared");
    }
    EXPECT_EQ(names(dir.path()), std::vector<std::string>{"out.wav"});
}

TEST(ConvertBatch, WorkersShareOneBudgetOfSynthesisThreadsAndALoneSongMayTakeItAll) {
    TempFolder dir;
    midiwriter::save(dir / "chords.mid", rendertest::chordSong());
    ConvertSettings settings;
    settings.soundFonts = {rendertest::kSoundFont};
    settings.sound = {22050, 16, 2};
    settings.mp3SynthRate = 22050;
    settings.workFolder = dir.path();
    settings.split = quillory::renderer::SplitPolicy::Always; // a short song would not pay
    std::FILE* quiet = std::fopen("/dev/null", "w");
    ASSERT_NE(quiet, nullptr);
    const auto run = [&](const std::vector<Job>& jobs, int workers, unsigned cores) {
        quillory::renderer::ThreadBudget budget(cores);
        settings.threads = &budget;
        Reporter reporter(quiet, false, true, jobs.size());
        EXPECT_EQ(runBatch(jobs, settings, workers, true, reporter).converted, jobs.size());
        EXPECT_EQ(budget.available(), cores) << "a song kept its threads";
        return budget.largestGrant();
    };
    const fs::path song = dir / "chords.mid";
    {
        SCOPED_TRACE("one worker: its MP3 is synthesised on both cores");
        EXPECT_EQ(run({{song, dir / "alone.mp3", InputType::Midi, OutputType::Mp3}}, 1, 2), 2u);
    }
    {
        SCOPED_TRACE("three workers on two cores: one thread a song, and none waits for ever");
        std::vector<Job> jobs;
        for (int i = 0; i < 5; ++i)
            jobs.push_back({song, dir / ("song" + std::to_string(i) + (i % 2 ? ".mp3" : ".wav")),
                            InputType::Midi, i % 2 ? OutputType::Mp3 : OutputType::Wav});
        EXPECT_EQ(run(jobs, 3, 2), 1u);
        for (const Job& job : jobs)
            EXPECT_GT(fs::file_size(job.output), 1000u) << job.output;
    }
    std::fclose(quiet);
}

TEST(ConvertReport, TheBatchTimeReadsAsPeopleSayIt) {
    const std::pair<double, const char*> table[] = {
        {0.04, "0.0 s"},       {59.94, "59.9 s"},           {59.96, "1 min 00 s"},
        {187.4, "3 min 07 s"}, {3599.6, "1 h 00 min 00 s"}, {37327, "10 h 22 min 07 s"}};
    for (const auto& [seconds, text] : table)
        EXPECT_EQ(readableDuration(seconds), text) << seconds;
}

TEST(ConvertLevels, WithoutRoomForTheWorkFileTheSongConvertsAtTheFixedGainWithAWarning) {
    TempFolder dir;
    midiwriter::save(dir / "piano.mid", rendertest::quietPianoLine());
    ConvertSettings settings;
    settings.soundFonts = {rendertest::kSoundFont};
    settings.workFolder = dir / "gone";
    Converter converter(settings, false);
    for (const char* name : {"piano.wav", "piano.mp3"}) {
        SCOPED_TRACE(name);
        const Job job{dir / "piano.mid", dir / name, InputType::Midi,
                      fs::path(name).extension() == ".wav" ? OutputType::Wav : OutputType::Mp3};
        const Outcome outcome = converter.convert(job, {});
        EXPECT_TRUE(outcome.ok);
        EXPECT_EQ(outcome.message.rfind("not evened out, converted at the fixed volume: ", 0), 0u)
            << outcome.message;
        EXPECT_NE(outcome.message.find((dir / "gone").string()), std::string::npos);
    }
    EXPECT_LT(levelprobe::measureWav(dir / "piano.wav").lufs, -30.0);
}
