// The batch converter's MIDI conversions evened out in loudness, measured on the written files:
// MP3s decoded by an independent decoder and measured with libebur128 directly, a full disk
// while the levelled song is encoded, and a work folder with no room, which converts at the
// fixed gain and says so.
#include "components/midi/MidiFile.h"
#include "components/synthesis/Synthesizer.h"
#include "tests/components/encoder/Mp3Probe.h"
#include "tests/components/renderer/LevelProbe.h"
#include "tests/components/renderer/RenderSupport.h"
#include "tools/convert/Conversions.h"
#include "tools/convert/Converter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace fs = std::filesystem;
using namespace convert;
using quillory::renderer::LoudnessTarget;
using quillory::renderer::MidiFile;
using quillory::renderer::Synthesizer;
using rendertest::TempFolder;

namespace {

Levelling levelledIn(const fs::path& workFolder) {
    Levelling levelling;
    levelling.loudness = LoudnessTarget{};
    levelling.workFolder = workFolder;
    return levelling;
}

MidiFile song(const midiwriter::Bytes& bytes) {
    return MidiFile::parse(bytes, "song.mid");
}

bool isEmpty(const fs::path& folder) {
    return fs::directory_iterator(folder) == fs::directory_iterator();
}

} // namespace

TEST(ConvertLevels, MidiToMp3ComesOutAtTheTargetOrThePeakCeilingOnceDecoded) {
    TempFolder dir;
    fs::create_directory(dir / "work");
    Synthesizer synth(rendertest::kSoundFont, 44100);
    struct Case {
        const char* name;
        midiwriter::Bytes midi;
        encoder::Mp3Settings settings;
    };
    const Case cases[] = {
        {"quiet piano line, mono", rendertest::quietPianoLine(), {.channelMode = 2}},
        {"dense tutti", rendertest::denseTutti(), {}},
        {"sparse drum hits, variable bit rate", rendertest::sparseDrumHits(), {.vbrMode = 1}},
        {"near silence", rendertest::nearSilentSong(), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Facts facts;
        midiToSound(song(c.midi), synth, {44100, 16, 2}, {}, dir / "fixed.wav", {}, facts);
        std::vector<int> percents;
        const std::string notice = midiToMp3(
            song(c.midi), synth, 44100, c.settings, levelledIn(dir / "work"), dir / "even.mp3",
            [&](int percent) {
                percents.push_back(percent);
                return true;
            },
            facts);
        EXPECT_EQ(notice, "");
        const levelprobe::Level fixed = levelprobe::measureWav(dir / "fixed.wav");
        const fixtures::Mp3Facts mp3 = fixtures::probeMp3(dir / "even.mp3", true);
        ASSERT_TRUE(mp3.decoded) << mp3.error;
        const levelprobe::Level even = levelprobe::measure(mp3.audio, mp3.channels, int(mp3.rate));
        SCOPED_TRACE(testing::Message()
                     << "fixed " << fixed.lufs << " LUFS " << fixed.truePeakDbtp << " dBTP; MP3 "
                     << even.lufs << " LUFS " << even.truePeakDbtp << " dBTP");
        const double toTarget = -16.0 - fixed.lufs;
        const double toCeiling = -1.0 - fixed.truePeakDbtp;
        const double gain = std::min({toTarget, toCeiling, 24.0});
        // The encoder moves loudness and peaks a little; full scale stays out of reach.
        if (gain == toTarget)
            EXPECT_NEAR(even.lufs, -16.0, 1.0);
        else if (gain == toCeiling)
            EXPECT_NEAR(even.truePeakDbtp, -1.0, 0.5);
        else
            EXPECT_NEAR(20 * std::log10(even.samplePeak / fixed.samplePeak), 24.0, 1.0);
        EXPECT_LT(even.samplePeak, 1.0) << "a sample at full scale";
        ASSERT_FALSE(percents.empty());
        EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
        EXPECT_EQ(percents.back(), 100);
        EXPECT_TRUE(isEmpty(dir / "work"));
    }
}

TEST(ConvertLevels, AFullDiskWhileTheLevelledSongIsEncodedNamesTheMp3AndLeavesNothing) {
    TempFolder dir;
    fs::create_directory(dir / "work");
    fs::create_directory(dir / "out");
    Synthesizer synth(rendertest::kSoundFont, 44100);
    std::optional<rendertest::FileSizeLimit> fullDisk;
    Facts facts;
    try {
        // Once past the first pass, nothing more than 16 KiB can be written.
        midiToMp3(
            song(rendertest::denseTutti()), synth, 44100, {}, levelledIn(dir / "work"),
            dir / "out" / "song.mp3",
            [&](int percent) {
                if (percent > 76 && !fullDisk)
                    fullDisk.emplace(16 * 1024);
                return true;
            },
            facts);
        ADD_FAILURE() << "the write that did not fit went unnoticed";
    } catch (const ConversionError& error) {
        EXPECT_NE(std::string(error.what()).find((dir / "out" / "song.mp3").string()),
                  std::string::npos)
            << error.what();
    }
    ASSERT_TRUE(fullDisk) << "the encoding never began";
    fullDisk.reset();
    EXPECT_TRUE(isEmpty(dir / "out"));
    EXPECT_TRUE(isEmpty(dir / "work"));
}

TEST(ConvertLevels, WithoutRoomForTheWorkFileTheSongConvertsAtTheFixedGainWithAWarning) {
    TempFolder dir;
    midiwriter::save(dir / "piano.mid", rendertest::quietPianoLine());
    ConvertSettings settings;
    settings.soundFont = rendertest::kSoundFont;
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
