// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The command line and the job plan: what a user can get wrong must be a usage error before any
// file is touched, and what is right must reach the conversion unchanged.
#include "tools/convert/Options.h"
#include "tools/convert/Plan.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>
#include <tuple>

namespace fs = std::filesystem;
using namespace convert;

namespace {

ParsedArguments parse(std::initializer_list<const char*> args) {
    return parseArguments(std::vector<std::string>(args.begin(), args.end()));
}

struct BadLine {
    std::vector<std::string> args;
    const char* mentions; // the message must point at the culprit
};

} // namespace

TEST(ConvertOptions, EveryBadValueOrCombinationIsAUsageError) {
    const std::vector<BadLine> table = {
        {{"--output-dir", "d", "--format", "mp3"}, "no input"},
        {{"a.mid"}, "-o OUTPUT"},
        {{"a.mid", "-o", "a.wav", "--output-dir", "d", "--format", "wav"}, "exclude"},
        {{"a.mid", "b.mid", "-o", "x.mp3"}, "2 inputs"},
        {{"a.mid", "--output-dir", "d"}, "--format"},
        {{"a.mid", "-o", "a.wav", "--verbose"}, "--verbose"},
        {{"a.mid", "-o", "a.wav", "--rate"}, "--rate needs a value"},
        {{"a.mid", "-o", "a.wav", "--rate="}, "--rate needs a value"},
        {{"a.mid", "-o", "a.wav", "--rate", "44.1k"}, "44.1k"},
        {{"a.mid", "-o", "a.wav", "--rate", "+44100"}, "+44100"},
        {{"a.mid", "-o", "a.wav", "--rate", "7999"}, "7999"},
        {{"a.mid", "-o", "a.wav", "--rate", "96001"}, "96001"},
        {{"a.mid", "-o", "a.wav", "--rate", "99999999999"}, "99999999999"},
        {{"a.mid", "-o", "a.wav", "--bits", "12"}, "--bits"},
        {{"a.mid", "-o", "a.flac", "--bits", "8"}, "FLAC takes --bits 16 or 24, not 8"},
        {{"a.mid", "-o", "a.ogg", "--bits", "16"}, "Ogg Vorbis takes no --bits"},
        {{"a.mid", "-o", "a.ogg", "--quality", "11"}, "--quality must be between 0 and 10"},
        {{"a.mid", "-o", "a.flac", "--quality", "5"}, "FLAC takes no --quality"},
        {{"a.mid", "-o", "a.opus", "--bitrate", "600"}, "Opus takes --bitrate 6 to 256"},
        {{"a.mid", "-o", "a.wav", "--bitrate", "128"}, "WAV takes no --bitrate"},
        {{"a.mid", "-o", "a.flac", "--vbr", "32-320"}, "FLAC takes no --vbr"},
        {{"a.mid", "-o", "a.mp3", "--stems"}, "--stems writes WAV, FLAC, Ogg Vorbis or Opus"},
        {{"a.mid", "-o", "a.wav", "--channels", "0"}, "--channels"},
        {{"a.mid", "-o", "a.mp3", "--bitrate", "100"}, "100 kb/s"},
        {{"a.mid", "-o", "a.mp3", "--bitrate", "-128"}, "-128"},
        {{"a.mid", "-o", "a.mp3", "--vbr", "128"}, "MIN-MAX"},
        {{"a.mid", "-o", "a.mp3", "--vbr", "320-32"}, "above the maximum"},
        {{"a.mid", "-o", "a.mp3", "--vbr", "32-330"}, "330"},
        {{"a.mid", "-o", "a.mp3", "--vbr", "32-320", "--bitrate", "128"}, "exclude"},
        {{"a.mid", "-o", "a.mp3", "--channel-mode", "surround"}, "stereo|joint|mono|dual"},
        {{"a.mid", "-o", "a.mp3", "--jobs", "0"}, "--jobs"},
        {{"a.mid", "-o", "a.mp3", "--loudness", "-31"}, "-31"},
        {{"a.mid", "-o", "a.mp3", "--loudness", "loud"}, "--loudness"},
        {{"a.mid", "--output-dir", "d", "--format", "oga"}, "wav|flac|ogg|opus|mp3"},
        {{"a.mid", "-o", "a.mp3", "--force=yes"}, "takes no value"},
        {{"a.mid", "--output-dir", "d", "--format", "wav", "--shard", "2/2"}, "2 of 2 does not"},
        {{"a.mid", "--output-dir", "d", "--format", "wav", "--shard", "1-4"}, "K/N"},
        {{"a.mid", "--output-dir", "d", "--format", "wav", "--shard", "slurm"}, "SLURM_ARRAY"},
        {{"a.mid", "--output-dir", "d", "--format", "wav", "--shard", "index/4"}, "JOB_COMPL"},
        {{"a.mid", "-o", "a.wav", "--keep-tree", "m"}, "--keep-tree needs --output-dir"},
        {{"--files-from", "list.txt", "-o", "a.wav"}, "--output-dir DIR with --files-from"},
        {{"a.mid", "-o", "a.wav", "--max-seconds", "0"}, "--max-seconds"},
        {{"a.mid", "-o", "a.wav", "--timeout", "soon"}, "soon"},
    };
    for (const BadLine& line : table) {
        const ParsedArguments parsed = parseArguments(line.args);
        std::string joined;
        for (const std::string& arg : line.args)
            joined += arg + " ";
        EXPECT_NE(parsed.error.find(line.mentions), std::string::npos)
            << joined << "-> \"" << parsed.error << "\"";
    }
}

TEST(ConvertOptions, ValuesReachTheOptionsInBothSpellings) {
    const ParsedArguments parsed =
        // clang-format off
        parse({"--rate=22050", "--vbr", "40-256",
               "--channel-mode", "dual", "--jobs=3", "--force", "-q", "--settings", "o.ini",
               "--soundfont", "gm.sf2", "--loudness", "-14.5", "--output-dir", "d", "--format", "mp3", "a.mid", "--",
               "-odd.mid", "--jobs"});
    // clang-format on
    ASSERT_EQ(parsed.error, "");
    const Options& o = parsed.options;
    EXPECT_EQ(o.overrides.rate, 22050);
    const Overrides wav =
        parse({"--bits", "32f", "--channels", "1", "a.mid", "-o", "a.wav"}).options.overrides;
    EXPECT_EQ(wav.bits, 32) << "32-bit float";
    EXPECT_EQ(wav.channels, 1);
    EXPECT_EQ(o.overrides.vbrMin, 40);
    EXPECT_EQ(o.overrides.vbrMax, 256);
    EXPECT_FALSE(o.overrides.bitRate);
    EXPECT_EQ(o.overrides.channelMode, 3);
    EXPECT_EQ(o.jobs, 3);
    EXPECT_TRUE(o.force);
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.settingsFile, fs::path("o.ini"));
    EXPECT_EQ(o.overrides.soundFonts, std::vector<fs::path>{"gm.sf2"});
    // A negative target is the option's value, not an option of its own.
    EXPECT_EQ(o.overrides.loudness, (quillory::renderer::LoudnessChoice{true, -14.5}));
    EXPECT_EQ(parse({"--loudness=OFF", "a.mid", "-o", "a.wav"}).options.overrides.loudness,
              quillory::renderer::LoudnessChoice::off());
    // After "--" everything is an input, even what looks like an option.
    EXPECT_EQ(o.inputs, (std::vector<fs::path>{"a.mid", "-odd.mid", "--jobs"}));
    EXPECT_EQ(o.outputDir, fs::path("d"));
    EXPECT_EQ(o.format, OutputType::Mp3);
}

// A shard named by hand, by a Slurm array numbered from 1, and by a Kubernetes indexed job.
TEST(ConvertOptions, ShardsComeFromTheLineOrTheEnvironment) {
    const std::map<std::string, const char*> variables = {{"SLURM_ARRAY_TASK_ID", "7"},
                                                          {"SLURM_ARRAY_TASK_COUNT", "10"},
                                                          {"SLURM_ARRAY_TASK_MIN", "1"},
                                                          {"JOB_COMPLETION_INDEX", "5"}};
    const auto environment = [&](const char* name) {
        return variables.contains(name) ? variables.at(name) : nullptr;
    };
    for (const auto& [given, index, count] :
         {std::tuple{"3/4", 3, 4}, {"slurm", 6, 10}, {"index/8", 5, 8}}) {
        const ParsedArguments parsed = parseArguments(
            {"--files-from", "-", "--output-dir", "d", "--format", "wav", "--shard", given},
            environment);
        ASSERT_EQ(parsed.error, "") << given;
        EXPECT_EQ(parsed.options.shard->index, index) << given;
        EXPECT_EQ(parsed.options.shard->count, count) << given;
    }
}

TEST(ConvertOptions, HelpAndVersionNeedNothingElse) {
    ParsedArguments parsed = parse({"--help"});
    EXPECT_EQ(parsed.error, "");
    EXPECT_TRUE(parsed.options.help);
    parsed = parse({"--version"});
    EXPECT_EQ(parsed.error, "");
    EXPECT_TRUE(parsed.options.version);
}

TEST(ConvertOptions, FileNamesKeepEveryByteWhateverTheirEncoding) {
    // Latin-1 and broken UTF-8 names, as old files and other systems leave them.
    const ParsedArguments parsed =
        parse({"caf\xe9.mid", "-o", "\xff\xfe.mp3", "--soundfont=\xc3.sf2"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.inputs, (std::vector<fs::path>{"caf\xe9.mid"}));
    EXPECT_EQ(parsed.options.output, fs::path("\xff\xfe.mp3"));
    EXPECT_EQ(parsed.options.overrides.soundFonts, std::vector<fs::path>{"\xc3.sf2"});
}

class ConvertPlan : public ::testing::Test {
protected:
    Options options(std::vector<fs::path> inputs, std::optional<OutputType> format) {
        Options o;
        o.inputs = std::move(inputs);
        o.outputDir = dir();
        o.format = format;
        return o;
    }
    fs::path dir() const { return temp_.path().toStdString(); }

private:
    QTemporaryDir temp_;
};

TEST_F(ConvertPlan, BatchOutputsTakeTheInputsBaseNameInTheOutputFolder) {
    const JobPlan plan = planJobs(options(
        {"x/song.mid", "y/Tune.MIDI", "take.2.wav", "web.RMI", "sing.kar"}, OutputType::Mp3));
    ASSERT_EQ(plan.error, "");
    ASSERT_EQ(plan.jobs.size(), 5u);
    EXPECT_EQ(plan.jobs[0].output, dir() / "song.mp3");
    EXPECT_EQ(plan.jobs[1].output, dir() / "Tune.mp3");
    EXPECT_EQ(plan.jobs[2].output, dir() / "take.2.mp3");
    EXPECT_EQ(plan.jobs[3].output, dir() / "web.mp3");
    EXPECT_EQ(plan.jobs[4].output, dir() / "sing.mp3");
    for (std::size_t i : {0u, 1u, 3u, 4u})
        EXPECT_EQ(plan.jobs[i].from, InputType::Midi) << plan.jobs[i].input;
    EXPECT_EQ(plan.jobs[2].from, InputType::Wav);
    for (const Job& job : plan.jobs)
        EXPECT_EQ(job.to, OutputType::Mp3);
}

TEST_F(ConvertPlan, KeepTreePutsEachOutputWhereItsInputIsBelowTheRoot) {
    Options o =
        options({"midi/a/one.mid", "./midi/b/c/two.mid", "elsewhere/three.mid"}, OutputType::Flac);
    o.keepTree = "midi";
    EXPECT_NE(planJobs(o).error.find("\"elsewhere/three.mid\" is not below --keep-tree"),
              std::string::npos);
    o.inputs.pop_back();
    const JobPlan plan = planJobs(o);
    ASSERT_EQ(plan.error, "");
    EXPECT_EQ(plan.jobs[0].output, dir() / "a/one.flac");
    EXPECT_EQ(plan.jobs[1].output, dir() / "b/c/two.flac");
    EXPECT_TRUE(plan.jobs[1].makeFolder);
}

TEST_F(ConvertPlan, TwoInputsForOneOutputAreRefusedNamingBoth) {
    for (const auto& pair : std::vector<std::vector<fs::path>>{
             {"x/song.mid", "y/song.mid"}, {"song.mid", "song.midi"}, {"a.mid", "./a.mid"}}) {
        const JobPlan plan = planJobs(options(pair, OutputType::Wav));
        EXPECT_NE(plan.error.find(pair[0].string()), std::string::npos) << plan.error;
        EXPECT_NE(plan.error.find(pair[1].string()), std::string::npos) << plan.error;
        EXPECT_TRUE(plan.jobs.empty());
    }
}

TEST_F(ConvertPlan, WrongTypesAndFoldersAreUsageErrors) {
    Options same = options({dir() / "a.wav"}, OutputType::Wav);
    EXPECT_NE(planJobs(same).error.find("replace the input itself"), std::string::npos);
    Options flac = options({"a.wav"}, OutputType::Flac);
    EXPECT_EQ(planJobs(flac).error, "") << "a WAV may become FLAC";
    flac.stems = true;
    EXPECT_NE(planJobs(flac).error.find("\"a.wav\" is a WAV file"), std::string::npos);
    EXPECT_NE(planJobs(options({"notes.txt"}, OutputType::Mp3)).error.find("notes.txt"),
              std::string::npos);
    Options single;
    single.inputs = {"a.mid"};
    single.output = "a.ogx";
    EXPECT_NE(planJobs(single).error.find(".wav, .flac, .ogg, .opus or .mp3"), std::string::npos);
    single.output = "a.wav";
    single.format = OutputType::Mp3;
    EXPECT_NE(planJobs(single).error.find("--format"), std::string::npos);
}

TEST_F(ConvertPlan, SingleOutputTypeComesFromItsExtensionInAnyCase) {
    Options single;
    single.inputs = {"in.WAV"};
    single.output = "out.MP3";
    const JobPlan plan = planJobs(single);
    ASSERT_EQ(plan.error, "");
    ASSERT_EQ(plan.jobs.size(), 1u);
    EXPECT_EQ(plan.jobs[0].from, InputType::Wav);
    EXPECT_EQ(plan.jobs[0].to, OutputType::Mp3);
    EXPECT_EQ(plan.jobs[0].output, fs::path("out.MP3"));
}
