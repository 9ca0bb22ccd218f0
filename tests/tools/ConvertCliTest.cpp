// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// quillory-convert end to end: the built command on small generated MIDI and WAV files, its exit
// codes and messages, and what it leaves on disk, read back with an independent WAV reader and
// MP3 decoder.
#include "tests/components/encoder/Mp3Probe.h"
#include "tests/components/encoder/WavFixtures.h"
#include "tests/components/renderer/Ffprobe.h"
#include "tests/components/renderer/RenderSupport.h"
#include "tests/components/renderer/WavProbe.h"
#include "tests/support/EventWait.h"

#include "components/synthesis/SongRenderer.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <array>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <mpg123.h>
#include <regex>
#include <sndfile.h>
#include <spawn.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

// Every name in a folder, hidden ones too, sorted.
std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct Result {
    int exitCode = -1; // -1 for a crash or a hang
    std::string err, out;
};

class ConvertCli : public ::testing::Test {
protected:
    void SetUp() override {
        // Every run reads this file, never the build folder's options.ini.
        writeText(path("options.ini"), settings_);
        midiwriter::save(path("chord.mid"), rendertest::chordSong());
    }

    fs::path path(const std::string& name) const { return dir_ / name; }
    QString qpath(const std::string& name) const { return dir_.qpath(name); }

    // The command run by `wrapper` (a command that ends by running its arguments) when given.
    // A settings file of the test's own may name the SoundFont.
    Result run(QStringList args, QStringList wrapper = {}) const {
        if (!args.contains(QStringLiteral("--soundfont")) &&
            !args.contains(QStringLiteral("--settings")))
            args << QStringLiteral("--soundfont")
                 << QString::fromStdString(rendertest::kSoundFont.string());
        if (!args.contains(QStringLiteral("--settings")))
            args << QStringLiteral("--settings") << qpath("options.ini");
        QProcess process;
        wrapper << QStringLiteral(QUILLORY_CONVERT_BINARY) << args;
        process.start(wrapper.takeFirst(), wrapper);
        Result result;
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.err = process.readAllStandardError().toStdString();
        result.out = process.readAllStandardOutput().toStdString();
        if (process.exitStatus() == QProcess::NormalExit)
            result.exitCode = process.exitCode();
        return result;
    }

    static void writeText(const fs::path& file, const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
    }
    static std::string readText(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Everything in the folder, hidden files too, so a stray temporary file shows.
    std::vector<std::string> files() const { return namesIn(dir_.path()); }

    std::string settings_;
    rendertest::TempFolder dir_;
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The converter in a process of its own for the test to signal, stderr into a file.
pid_t spawnConvert(std::vector<std::string> args, const fs::path& err) {
    args.insert(args.begin(), QUILLORY_CONVERT_BINARY);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Whether a signal sent to the process still waits to be taken (two would merge into one).
bool pending(pid_t pid, int number) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("ShdPnd:"))
            return (std::stoull(line.substr(7), nullptr, 16) >> (number - 1)) & 1;
    return false;
}

// What a shell says of how the process ended: its exit status, or 128 + the ending signal.
int shellStatus(pid_t pid, const std::function<void()>& meanwhile) {
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        meanwhile();
        QThread::usleep(100);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

// Files anywhere below a folder whose names end so.
std::vector<fs::path> filesEndingIn(const fs::path& folder, const std::string& ending) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != decltype(it)();
         it.increment(ec))
        if (it->path().filename().string().ends_with(ending))
            found.push_back(it->path());
    return found;
}

// A song on all sixteen channels, each with a program of its own. The first changes program
// half-way; the tenth plays a key the drum kit has nothing on, so its stem stays silent; the
// sixteenth is made a drum part by a GS message.
midiwriter::Bytes everyChannelSong() {
    std::vector<midiwriter::Track> tracks;
    for (int ch = 0; ch < 16; ++ch) {
        midiwriter::Track track;
        if (ch == 15)
            track.sysex(0, {0x41, 0x10, 0x42, 0x12, 0x40, 0x1F, 0x15, 0x01, 0x0B, 0xF7});
        track.program(0, ch, ch * 8).controller(0, ch, 10, ch * 8);
        const int key = ch == 9 ? 2 : ch == 15 ? 38 : 48 + ch;
        track.noteOn(0, ch, key, 100).noteOff(96, ch, key);
        if (ch == 0)
            track.program(0, ch, 5);
        track.noteOn(0, ch, key + 4, 90).noteOff(96, ch, key + 4);
        tracks.push_back(track.endOfTrack());
    }
    return midiwriter::file(1, 96, tracks);
}

// RMS of the difference between a file and the sum of others, in dB below full scale.
double residualDb(const fs::path& mix, const std::vector<fs::path>& parts) {
    std::vector<float> rest = ffprobe::decode(mix);
    double sum = 0;
    for (const fs::path& part : parts) {
        const std::vector<float> samples = ffprobe::decode(part);
        EXPECT_EQ(samples.size(), rest.size()) << part;
        for (std::size_t i = 0; i < std::min(samples.size(), rest.size()); ++i)
            rest[i] -= samples[i];
    }
    for (const float r : rest)
        sum += double(r) * double(r);
    return 10 * std::log10(std::max(sum / double(std::max<std::size_t>(rest.size(), 1)), 1e-30));
}

// Processor time of the children that ended so far.
double childSeconds() {
    rusage used{};
    getrusage(RUSAGE_CHILDREN, &used);
    return double(used.ru_utime.tv_sec + used.ru_stime.tv_sec) +
           1e-6 * double(used.ru_utime.tv_usec + used.ru_stime.tv_usec);
}

// A violin on the third channel for three seconds.
midiwriter::Bytes violinSong() {
    midiwriter::Track track;
    track.program(0, 2, 40).noteOn(0, 2, 67).noteOff(576, 2, 67);
    return midiwriter::file(0, 96, {track.endOfTrack()});
}

// Which song a mix and its stem folder hold: "chord" (chordSong) or "violin" (violinSong), or
// "mixed" when the stems are not those of the mix (their lengths differ from the mix's), or
// "missing".
std::string whichSong(const fs::path& mix, const fs::path& stems) {
    if (!fs::is_directory(stems) || !fs::is_regular_file(mix))
        return "missing";
    const std::vector<std::string> names = namesIn(stems);
    for (const std::string& name : names)
        if (WavProbe::read(stems / name).frames() != WavProbe::read(mix).frames())
            return "mixed";
    if (names ==
        std::vector<std::string>{"01 Acoustic Grand Piano.wav", "02 Electric Bass (finger).wav"})
        return "chord";
    return names == std::vector<std::string>{"03 Violin.wav"} ? "violin" : "mixed";
}

// The batch's last line: what became of its files, and its time.
bool endsWithCount(const std::string& err, const std::string& count) {
    return std::regex_search(err, std::regex(count + " \\([0-9]+\\.[0-9] s\\)\n$"));
}

} // namespace

TEST_F(ConvertCli, MidiToWavTakesTheSettingsFileAndTheCommandLineOverOne) {
    writeText(path("options.ini"), "[WAV]\nFrequency=22050\nBits=8\nWavChannels=1\n");
    const Result result =
        run({qpath("chord.mid"), QStringLiteral("-o"), qpath("out.wav"), "--rate", "32000"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(contains(result.err,
                         "ok " + path("chord.mid").string() + " -> " + path("out.wav").string()))
        << result.err;
    const WavProbe wav = WavProbe::read(path("out.wav"));
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.sampleRate, 32000);
    EXPECT_EQ(wav.bits, 8);
    EXPECT_EQ(wav.channels, 1);
    // The song lasts exactly one second, then rings for at most the bounded tail.
    EXPECT_GE(wav.frames(), 32000u);
    EXPECT_LE(wav.frames(), 32000u * 4);
    EXPECT_GT(wav.peak(), 3) << "silent";
    EXPECT_EQ(files(), (std::vector<std::string>{"chord.mid", "options.ini", "out.wav"}));
}

TEST_F(ConvertCli, MidiToMp3StreamsAtTheSettingsBitRateAndModeWithTheSongsLength) {
    writeText(path("options.ini"), "[MP3]\nBitrate=96\nMp3Channels=2\nVBR=False\n");
    ASSERT_EQ(run({qpath("chord.mid"), "-o", qpath("out.mp3")}).exitCode, 0);
    // The same song rendered to WAV at the MP3's rate is the length to match.
    ASSERT_EQ(run({qpath("chord.mid"), "-o", qpath("ref.wav"), "--rate", "44100"}).exitCode, 0);
    const fixtures::Mp3Facts mp3 = fixtures::probeMp3(path("out.mp3"));
    ASSERT_TRUE(mp3.decoded) << mp3.error;
    EXPECT_EQ(mp3.rate, 44100);
    EXPECT_EQ(mp3.channels, 1);
    EXPECT_EQ(mp3.modes, std::set<int>{MPG123_M_MONO});
    EXPECT_EQ(mp3.minKbps, 96);
    EXPECT_EQ(mp3.maxKbps, 96);
    EXPECT_TRUE(mp3.hasHeaderFrame);
    const auto reference = std::int64_t(WavProbe::read(path("ref.wav")).frames());
    EXPECT_NEAR(double(mp3.samples), double(reference), fixtures::samplesPerFrame(44100));
    EXPECT_EQ(mp3.headerLength, mp3.samples);
}

TEST_F(ConvertCli, WavToMp3UsesVariableBitRateRangeAndChannelModeFromTheCommandLine) {
    const std::int64_t frames = fixtures::writeWav(path("in.wav"), {44100, 2, 0, 1.0});
    const Result result =
        run({qpath("in.wav"), "-o", qpath("out.mp3"), "--vbr", "64-160", "--channel-mode", "dual"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const fixtures::Mp3Facts mp3 = fixtures::probeMp3(path("out.mp3"));
    ASSERT_TRUE(mp3.decoded) << mp3.error;
    EXPECT_EQ(mp3.rate, 44100);
    EXPECT_EQ(mp3.channels, 2);
    EXPECT_EQ(mp3.modes, std::set<int>{MPG123_M_DUAL});
    EXPECT_GE(mp3.minKbps, 64);
    EXPECT_LE(mp3.maxKbps, 160);
    EXPECT_NEAR(double(mp3.samples), double(frames), fixtures::samplesPerFrame(44100));
}

TEST_F(ConvertCli, ABadInputFailsByNameWhileTheOthersConvert) {
    fs::create_directory(path("out"));
    fixtures::writeWav(path("tone.wav"), {22050, 1, 0, 0.5});
    writeText(path("broken.mid"), "MThd this is not a MIDI file");
    midiwriter::save(path("wrapped.RMI"), midiwriter::rmid(rendertest::chordSong()));
    const Result result =
        run({qpath("chord.mid"), qpath("broken.mid"), qpath("tone.wav"), qpath("absent.mid"),
             qpath("wrapped.RMI"), "--output-dir", qpath("out"), "--format", "mp3", "--jobs", "2"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_TRUE(contains(result.err, "failed " + path("broken.mid").string() + ": ")) << result.err;
    EXPECT_TRUE(contains(result.err, "failed " + path("absent.mid").string() + ": ")) << result.err;
    EXPECT_TRUE(contains(result.err, "ok " + path("chord.mid").string())) << result.err;
    EXPECT_TRUE(contains(result.err, "ok " + path("tone.wav").string())) << result.err;
    EXPECT_TRUE(contains(result.err, "ok " + path("wrapped.RMI").string())) << result.err;
    EXPECT_FALSE(contains(result.err, "\r")) << "live progress when stderr is no terminal";
    EXPECT_TRUE(endsWithCount(result.err, "3 converted, 2 failed")) << result.err;

    std::vector<std::string> written;
    for (const auto& entry : fs::directory_iterator(path("out")))
        written.push_back(entry.path().filename().string());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"chord.mp3", "tone.mp3", "wrapped.mp3"}));
    EXPECT_TRUE(fixtures::probeMp3(path("out") / "chord.mp3").decoded);
    const fixtures::Mp3Facts tone = fixtures::probeMp3(path("out") / "tone.mp3");
    EXPECT_TRUE(tone.decoded);
    EXPECT_EQ(tone.channels, 1) << "a mono source gives a mono MP3";
}

TEST_F(ConvertCli, AMissingOutputFolderIsNamed) {
    const Result result = run({qpath("chord.mid"), "-o", qpath("nowhere/out.mp3")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(contains(result.err, "failed " + path("chord.mid").string() + ": the folder \"" +
                                         path("nowhere").string() + "\" does not exist"))
        << result.err;
    EXPECT_FALSE(fs::exists(path("nowhere")));
}

TEST_F(ConvertCli, AReadOnlyOutputFolderIsNamed) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    fs::create_directory(path("locked"));
    fs::permissions(path("locked"), fs::perms::owner_read | fs::perms::owner_exec);
    const Result result = run({qpath("chord.mid"), "-o", qpath("locked/out.mp3")});
    fs::permissions(path("locked"), fs::perms::owner_all);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(contains(result.err, "failed " + path("chord.mid").string() +
                                         ": cannot write in the folder \"" +
                                         path("locked").string() + "\""))
        << result.err;
    EXPECT_TRUE(fs::is_empty(path("locked")));
}

// Named in the settings file: --soundfont is refused up front instead.
TEST_F(ConvertCli, ABrokenSoundFontFailsTheMidiFilesButNotTheWavFiles) {
    fs::create_directory(path("out"));
    writeText(path("bad.sf2"), "RIFF this is no SoundFont");
    writeText(path("bad.ini"), "[Renderer]\nSoundFont=" + path("bad.sf2").string() + "\n");
    fixtures::writeWav(path("tone.wav"), {});
    midiwriter::save(path("other.mid"), rendertest::steadySong(2));
    const Result result =
        run({qpath("chord.mid"), qpath("tone.wav"), qpath("other.mid"), "--output-dir",
             qpath("out"), "--format", "mp3", "--settings", qpath("bad.ini"), "--jobs", "1"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(contains(result.err, "failed " + path("chord.mid").string())) << result.err;
    EXPECT_TRUE(contains(result.err, "failed " + path("other.mid").string())) << result.err;
    EXPECT_TRUE(contains(result.err, "ok " + path("tone.wav").string())) << result.err;
    std::vector<std::string> written;
    for (const auto& entry : fs::directory_iterator(path("out")))
        written.push_back(entry.path().filename().string());
    EXPECT_EQ(written, std::vector<std::string>{"tone.mp3"});
}

TEST_F(ConvertCli, ProgressIsLiveOnATerminal) {
    if (QStandardPaths::findExecutable(QStringLiteral("script")).isEmpty())
        GTEST_SKIP() << "needs script (util-linux) for a terminal";
    const QString command = QStringLiteral(QUILLORY_CONVERT_BINARY) + " " + qpath("chord.mid") +
                            " -o " + qpath("out.wav") + " --settings " + qpath("options.ini") +
                            " --soundfont " +
                            QString::fromStdString(rendertest::kSoundFont.string());
    QProcess terminal;
    terminal.start(QStringLiteral("script"), {"-qec", command, "/dev/null"});
    ASSERT_TRUE(terminal.waitForFinished(60000));
    EXPECT_EQ(terminal.exitCode(), 0);
    const std::string shown = terminal.readAllStandardOutput().toStdString();
    EXPECT_TRUE(contains(shown, "\r\033[K[0/1] chord.mid ")) << shown;
    EXPECT_TRUE(contains(shown, "%")) << shown;
    EXPECT_TRUE(contains(shown, "\r\033[Kok " + path("chord.mid").string())) << shown;
}

TEST_F(ConvertCli, QuietReportsFailuresOnlyIntoAnOutputFolderItMakes) {
    writeText(path("broken.mid"), "not MIDI");
    const Result result = run({qpath("chord.mid"), qpath("broken.mid"), "--output-dir",
                               qpath("made/out"), "--format", "wav", "--quiet"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_FALSE(contains(result.err, "ok ") || contains(result.err, "converted")) << result.err;
    EXPECT_TRUE(contains(result.err, "failed " + path("broken.mid").string())) << result.err;
    EXPECT_TRUE(fs::exists(path("made/out") / "chord.wav"));

    writeText(path("taken"), "a file where the folder would be");
    EXPECT_EQ(
        run({qpath("chord.mid"), "--output-dir", qpath("taken/out"), "--format", "wav"}).exitCode,
        1);
}

TEST_F(ConvertCli, AnExistingOutputIsLeftAloneWithoutForceAndReplacedWithIt) {
    writeText(path("out.mp3"), "my precious file");
    Result result = run({qpath("chord.mid"), "-o", qpath("out.mp3")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(contains(result.err, "failed " + path("chord.mid").string())) << result.err;
    EXPECT_TRUE(contains(result.err, "exists")) << result.err;
    EXPECT_EQ(readText(path("out.mp3")), "my precious file");

    // A forced conversion that fails still leaves the old file whole.
    writeText(path("broken.mid"), "MThd");
    result = run({qpath("broken.mid"), "-o", qpath("out.mp3"), "--force"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(readText(path("out.mp3")), "my precious file");

    // A private file stays private and in its group; a link stays a link to the file it names.
    const gid_t group = geteuid() == 0 ? 65534 : getegid(); // root may give any group
    ASSERT_EQ(chown(path("out.mp3").c_str(), uid_t(-1), group), 0);
    fs::permissions(path("out.mp3"), fs::perms(0600));
    writeText(path("real.mp3"), "my precious file");
    fs::create_symlink("real.mp3", path("link.mp3"));
    for (const char* name : {"out.mp3", "link.mp3"}) {
        result = run({qpath("chord.mid"), "-o", qpath(name), "--force"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
    }
    EXPECT_TRUE(fixtures::probeMp3(path("out.mp3")).decoded);
    EXPECT_EQ(fs::status(path("out.mp3")).permissions(), fs::perms(0600));
    EXPECT_EQ(QFileInfo(qpath("out.mp3")).groupId(), group);
    EXPECT_TRUE(fs::is_symlink(path("link.mp3")));
    EXPECT_TRUE(fixtures::probeMp3(path("real.mp3")).decoded);
    EXPECT_EQ(files(), (std::vector<std::string>{"broken.mid", "chord.mid", "link.mp3",
                                                 "options.ini", "out.mp3", "real.mp3"}));
}

// The hidden file beside it must fit the folder as well.
TEST_F(ConvertCli, AnOutputNameOf250BytesConverts) {
    const std::string name = std::string(246, 'n') + ".wav";
    const Result result = run({qpath("chord.mid"), "-o", qpath(name)});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(WavProbe::read(path(name)).valid);
}

TEST_F(ConvertCli, UsageErrorsExitWithTwoAndWriteNothing) {
    fs::create_directory(path("out"));
    fixtures::writeWav(path("in.wav"), {});
    const std::vector<QStringList> lines = {
        {qpath("chord.mid"), qpath("in.wav"), "-o", qpath("x.mp3")},
        {qpath("chord.mid"), "-o", qpath("x.wav"), "--rate", "fast"},
        {qpath("in.wav"), "-o", qpath("in.wav")},
        {qpath("chord.mid"), "-o", qpath("x.flac"), "--bits", "8"},
        {qpath("chord.mid"), "-o", qpath("x.oga")},
        {qpath("chord.mid"), "-o", qpath("x.wav"), "--report", qpath("nowhere/r.jsonl")},
        {qpath("chord.mid"), "-o", qpath("x.wav"), "--report", qpath("chord.mid")},
        {qpath("chord.mid"), qpath("chord.mid"), "--output-dir", qpath("out"), "--format", "mp3"},
        {qpath("chord.mid"), "--output-dir", qpath("in.wav"), "--format", "mp3"},
        {qpath("chord.mid"), "-o", qpath("x.mp3"), "--settings", qpath("typo.ini")},
        {qpath("chord.mid"), "-o", qpath("x.mp3"), "--soundfont", qpath("none.sf2")},
        // A real SoundFont cut short, whose header is sound.
        {qpath("chord.mid"), "-o", qpath("x.mp3"), "--soundfont", qpath("cut.sf2")},
        {"-o", qpath("x.mp3")},
    };
    writeText(path("cut.sf2"), readText(rendertest::kSoundFont).substr(0, 5120));
    for (const QStringList& line : lines) {
        const Result result = run(line);
        EXPECT_EQ(result.exitCode, 2) << line.join(' ').toStdString() << "\n" << result.err;
        EXPECT_TRUE(contains(result.err, "quillory-convert: ")) << result.err;
        EXPECT_TRUE(!line.contains(qpath("cut.sf2")) ||
                    contains(result.err, "cannot be loaded (SoundFont file size mismatch)"))
            << result.err;
    }
    EXPECT_TRUE(fs::is_empty(path("out")));
    EXPECT_EQ(files(),
              (std::vector<std::string>{"chord.mid", "cut.sf2", "in.wav", "options.ini", "out"}));
}

// Real signals: the first stops the batch within a block, even in the output pass of a long song;
// a second does not wait; neither leaves a temporary or a work file; the shell sees the signal.
TEST_F(ConvertCli, InterruptsStopAtOnceAndLeaveNothing) {
    midiwriter::save(path("long.mid"), rendertest::steadySong(60));
    const fs::path cache = path("cache"), out = path("out");
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(cache.string()));
    const auto partSize = [&] {
        std::error_code ec;
        const std::vector<fs::path> parts = filesEndingIn(out, ".part");
        // The file may be gone by the time its size is asked, which file_size answers with -1.
        const std::uintmax_t size = parts.empty() ? 0 : fs::file_size(parts.front(), ec);
        return ec ? std::uintmax_t(0) : size;
    };
    const auto outputPass = [&] { return partSize() > (1 << 16); };
    const auto firstPass = [&] { return !filesEndingIn(cache, ".f32").empty(); };
    struct Case {
        std::vector<int> sent;
        std::function<bool()> ready;
        int status;
        const char* told;
    } cases[] = {
        {{SIGINT}, outputPass, 130, "0 converted, 0 failed, 1 interrupted, 1 not started"},
        {{SIGINT, SIGINT}, firstPass, 130, nullptr},
        {{SIGTERM}, firstPass, 143, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent.size() == 2 ? "twice" : strsignal(c.sent[0]));
        fs::remove_all(out);
        const pid_t pid = spawnConvert({path("long.mid"), path("chord.mid"), "--output-dir", out,
                                        "--format", "wav", "--jobs", "1", "--settings",
                                        path("options.ini"), "--soundfont", rendertest::kSoundFont},
                                       path("err.txt"));
        ASSERT_TRUE(WaitUntil(c.ready, 60000)) << readText(path("err.txt"));
        const std::uintmax_t before = partSize();
        for (int number : c.sent) {
            kill(pid, number);
            WaitUntil([&] { return !pending(pid, number); });
        }
        std::uintmax_t most = before;
        EXPECT_EQ(shellStatus(pid, [&] { most = std::max(most, partSize()); }), c.status);
        // A few blocks at most, where a whole percent of the song is megabytes.
        EXPECT_LT(most - before, 1u << 20) << "written after the signal";
        const std::string err = readText(path("err.txt"));
        EXPECT_TRUE(!c.told || endsWithCount(err, c.told)) << err;
        EXPECT_TRUE(fs::is_empty(out)) << "a temporary file is left";
        EXPECT_EQ(filesEndingIn(cache, ".f32"), std::vector<fs::path>{}) << "a work file is left";
    }
    qunsetenv("XDG_CACHE_HOME");
}

// The issue's own case, on a real small disk where the system lets a user mount one: two songs
// at once in a work folder with room for one and a half work files.
TEST_F(ConvertCli, TwoSongsAtOnceInASmallWorkFolderBothConvert) {
    if (QProcess::execute(QStringLiteral("unshare"), {"-rm", "true"}) != 0)
        GTEST_SKIP() << "no user namespace to mount a small file system in";
    // Long enough that the two songs surely overlap: a first song that ended before the second
    // began would leave it all the room.
    const midiwriter::Bytes song = rendertest::steadySong(120);
    midiwriter::save(path("a.mid"), song);
    midiwriter::save(path("b.mid"), song);
    const std::uint64_t workBytes = 8 * quillory::renderer::SongRenderer::maxFrames(
                                            quillory::renderer::MidiFile::parse(song, "a"), 44100);
    fs::create_directory(path("cache"));
    qputenv("XDG_CACHE_HOME", qpath("cache").toUtf8());
    const QString mount = QString("mount -t tmpfs -o size=%1k tmpfs \"$0\" && exec \"$@\"");
    const Result result =
        run({qpath("a.mid"), qpath("b.mid"), "--output-dir", qpath("out"), "--format", "wav",
             "--jobs", "2"},
            {"unshare", "-rm", "sh", "-c", mount.arg(workBytes * 3 / 2 / 1024), qpath("cache")});
    qunsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    // One song is levelled; the other finds the first one's room taken and says so.
    EXPECT_TRUE(contains(result.err, "volume: there is not enough free space in the work folder"))
        << result.err;
    EXPECT_TRUE(endsWithCount(result.err, "2 converted, 0 failed")) << result.err;
}

// Under taskset the process may use one core, whatever the machine has.
TEST_F(ConvertCli, TheDefaultJobsFollowTheCoresTheProcessMayUse) {
    const Result help = run({"--help"}, {"taskset", "-c", "0"});
    EXPECT_TRUE(
        contains(QString::fromStdString(help.out).simplified().toStdString(), "1 on this system"))
        << help.out;
}

// A note of a song named "Nocturne é", copyright "© 1999", in Latin-1 as MIDI files hold them.
static void saveNamedSong(const fs::path& file) {
    midiwriter::Track named;
    named.meta(0, 0x03, {'N', 'o', 'c', 't', 'u', 'r', 'n', 'e', ' ', 0xE9})
        .meta(0, 0x02, {0xA9, ' ', '1', '9', '9', '9'});
    named.noteOn(0, 0, 60).noteOff(96, 0, 60).endOfTrack();
    midiwriter::save(file, midiwriter::file(0, 96, {named}));
}

TEST_F(ConvertCli, WhatComesFromMidiIsTaggedAndAWavsInfoGoesOnIntoItsMp3) {
    if (!ffprobe::available())
        GTEST_SKIP() << "ffprobe (package ffmpeg) is not installed";
    saveNamedSong(path("named.mid"));
    for (const char* output : {"named.mp3", "named.wav", "chord.mp3"}) {
        const std::string input = output[0] == 'n' ? "named.mid" : "chord.mid";
        ASSERT_EQ(run({qpath(input), "-o", qpath(output)}).exitCode, 0) << output;
    }
    ASSERT_EQ(run({qpath("named.wav"), "-o", qpath("from wav.mp3")}).exitCode, 0);

    for (const char* output : {"named.mp3", "named.wav", "from wav.mp3"}) {
        SCOPED_TRACE(output);
        const ffprobe::Facts facts = ffprobe::probe(path(output));
        ASSERT_TRUE(facts.ran);
        EXPECT_EQ(facts.tag("title"), "Nocturne \xC3\xA9");
        EXPECT_EQ(facts.tag("copyright"), "\xC2\xA9 1999");
        // libsndfile puts its own name after ours in a WAV.
        EXPECT_EQ(facts.tag("encoder").rfind("Quillory 2.0", 0), 0u) << facts.tag("encoder");
        EXPECT_TRUE(facts.warnings.empty()) << facts.warnings.front();
    }
    // A song without a name is named after its file.
    EXPECT_EQ(ffprobe::probe(path("chord.mp3")).tag("title"), "chord");
    // The header frame still follows the tag, with the exact length for players.
    for (const char* output : {"named.mp3", "from wav.mp3"}) {
        const fixtures::Mp3Facts mp3 = fixtures::probeMp3(path(output));
        EXPECT_TRUE(mp3.hasHeaderFrame) << output;
        EXPECT_EQ(mp3.headerLength, mp3.samples) << output;
    }
}

TEST_F(ConvertCli, EveryFormatComesOutAsAskedWithItsTags) {
    if (!ffprobe::available())
        GTEST_SKIP() << "ffprobe (package ffmpeg) is not installed";
    saveNamedSong(path("named.mid"));
    fixtures::writeWav(path("tone.wav"), {44100, 2, 0, 0.5});
    struct Case {
        QStringList args;
        const char* codec;
        int rate;
        int bits;
    } cases[] = {
        {{"named.mid", "-o", "a.wav"}, "pcm_s16le", 44100, 16},
        {{"named.mid", "-o", "b.wav", "--bits", "24", "--rate", "22050"}, "pcm_s24le", 22050, 24},
        {{"named.mid", "-o", "c.wav", "--bits", "32f"}, "pcm_f32le", 44100, 32},
        {{"named.mid", "-o", "d.flac"}, "flac", 44100, 16},
        {{"named.mid", "-o", "e.flac", "--bits", "24"}, "flac", 44100, 24},
        {{"named.mid", "-o", "f.ogg", "--quality", "2"}, "vorbis", 44100, 0},
        // Synthesised at 48 kHz whatever the rate, never resampled.
        {{"named.mid", "-o", "g.opus", "--rate", "22050", "--bitrate", "64"}, "opus", 48000, 0},
        {{"named.mid", "-o", "h.mp3"}, "mp3", 44100, 0},
        // A WAV at 44.1 kHz into Opus changes rate on the way.
        {{"tone.wav", "-o", "i.opus"}, "opus", 48000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QStringList args = c.args;
        args[0] = qpath(c.args[0].toStdString());
        args[2] = qpath(c.args[2].toStdString());
        const Result result = run(args);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const ffprobe::Facts facts = ffprobe::probe(args[2].toStdString());
        ASSERT_TRUE(facts.ran);
        EXPECT_TRUE(facts.warnings.empty()) << facts.warnings.front();
        EXPECT_EQ(facts.codec, c.codec);
        EXPECT_EQ(facts.sampleRate, c.rate);
        EXPECT_EQ(facts.channels, 2);
        if (c.bits > 0) {
            EXPECT_EQ(facts.bits, c.bits);
        }
        // A quarter note and its ring, or the WAV's half second.
        EXPECT_GT(facts.duration, 0.45);
        EXPECT_LT(facts.duration, 16.0);
        // libsndfile files the software as SOFTWARE (as ENCODER in Opus), LAME as ENCODER.
        std::string software = facts.tag("software");
        if (software.rfind("(no", 0) == 0)
            software = facts.tag("encoder");
        EXPECT_EQ(software.rfind("Quillory 2.0", 0), 0u) << software;
        if (c.args[0] == "named.mid") {
            EXPECT_EQ(facts.tag("title"), "Nocturne \xC3\xA9");
            EXPECT_EQ(facts.tag("copyright"), "\xC2\xA9 1999");
        }
    }
}

TEST_F(ConvertCli, WavToFlacKeepsEverySample) {
    if (!ffprobe::available())
        GTEST_SKIP() << "ffmpeg is not installed";
    const struct {
        fixtures::WavSpec wav;
        int bits;
    } cases[] = {{{22050, 2, 0, 0.3}, 16},
                 {{48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 0.3}, 24},
                 {{8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 0.3}, 16}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        fixtures::writeWav(path("in.wav"), c.wav);
        ASSERT_EQ(run({qpath("in.wav"), "-o", qpath("out.flac"), "--force"}).exitCode, 0);
        const ffprobe::Facts flac = ffprobe::probe(path("out.flac"));
        EXPECT_EQ(flac.sampleRate, c.wav.rate);
        EXPECT_EQ(flac.channels, c.wav.channels);
        EXPECT_EQ(flac.bits, c.bits);
        const std::string samples = ffprobe::decodeExactly(path("in.wav"));
        ASSERT_GT(samples.size(), 1000u);
        EXPECT_TRUE(samples == ffprobe::decodeExactly(path("out.flac"))) << "a sample changed";
    }
}

// 32-bit float and 24-bit FLAC add up to the mix to float rounding, 16 bits exactly, as the
// stems are dithered together; the limits are those promised, whatever the way.
TEST_F(ConvertCli, StemsAddUpToTheMixAndAreNamedAfterTheirChannels) {
    if (!ffprobe::available())
        GTEST_SKIP() << "ffmpeg is not installed";
    midiwriter::save(path("all.mid"), everyChannelSong());
    const struct {
        QStringList args;
        const char* extension;
        double limitDb;
    } cases[] = {{{"-o", qpath("f.wav"), "--bits", "32f"}, ".wav", -120},
                 {{"-o", qpath("g.flac"), "--bits", "24", "--loudness", "off"}, ".flac", -120},
                 {{"-o", qpath("h.wav"), "--channels", "1"}, ".wav", -85}};
    for (const auto& c : cases) {
        const fs::path mix = c.args[1].toStdString();
        SCOPED_TRACE(mix.filename().string());
        const double before = childSeconds();
        const Result result = run(
            QStringList{qpath("all.mid"), "--stems", "--report", qpath("report.jsonl")} + c.args);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        // The stems' synthesisers' threads count too, though they end before the file does.
        const QJsonObject line =
            QJsonDocument::fromJson(QByteArray::fromStdString(readText(path("report.jsonl"))))
                .object();
        EXPECT_GT(line["cpu_seconds"].toDouble(), 0.6 * (childSeconds() - before));
        std::vector<fs::path> stems;
        std::set<std::string> names;
        for (const auto& entry :
             fs::directory_iterator(fs::path(mix).replace_extension(".stems"))) {
            stems.push_back(entry.path());
            names.insert(entry.path().stem().string());
        }
        EXPECT_EQ(stems.size(), 15u) << "the silent tenth channel has no stem";
        EXPECT_TRUE(names.count("01 Acoustic Grand Piano") && names.count("02 Celesta") &&
                    names.count("16 Drums") && !names.count("10 Drums"));
        EXPECT_EQ(fs::path(stems.front()).extension(), c.extension);
        EXPECT_LE(residualDb(mix, stems), c.limitDb);
    }
    const QJsonObject line =
        QJsonDocument::fromJson(QByteArray::fromStdString(readText(path("report.jsonl")))).object();
    const QJsonObject first = line["stems"].toArray().first().toObject();
    EXPECT_EQ(first["programs"].toArray(), (QJsonArray{0, 5})) << "every program it used";
}

TEST_F(ConvertCli, AStemFolderIsLeftAloneWithoutForceAndADenseChannelStillHasItsStem) {
    midiwriter::Track crowd;
    for (int note = 0; note < 10000; ++note)
        crowd.noteOn(0, 0, 20 + note % 80, 100);
    for (int key = 20; key < 100; ++key)
        crowd.noteOff(key == 20 ? 96 : 0, 0, key);
    midiwriter::save(path("crowd.mid"), midiwriter::file(0, 96, {crowd.endOfTrack()}));
    fs::create_directory(path("crowd.stems"));
    writeText(path("crowd.stems") / "mine.txt", "keep me");
    Result result = run({qpath("crowd.mid"), "-o", qpath("crowd.wav"), "--stems"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(
        contains(result.err, "the stem folder \"" + path("crowd.stems").string() + "\" exists"))
        << result.err;
    EXPECT_EQ(readText(path("crowd.stems") / "mine.txt"), "keep me");
    EXPECT_FALSE(fs::exists(path("crowd.wav")));

    result = run({qpath("crowd.mid"), "-o", qpath("crowd.wav"), "--stems", "--force"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::vector<std::string> written;
    for (const auto& entry : fs::directory_iterator(path("crowd.stems")))
        written.push_back(entry.path().filename().string());
    EXPECT_EQ(written, std::vector<std::string>{"01 Acoustic Grand Piano.wav"});
    EXPECT_TRUE(WavProbe::read(path("crowd.stems") / written.front()).peak() > 3);
    EXPECT_EQ(files(), (std::vector<std::string>{"chord.mid", "crowd.mid", "crowd.stems",
                                                 "crowd.wav", "options.ini"}));
}

// Bounds on a bad file: a damaged tempo map that makes a song of hours, a song of controllers
// only, a render slower than --timeout. Each fails by name and leaves nothing; the rest convert.
TEST_F(ConvertCli, ALongASilentAndASlowSongFailAndLeaveNothing) {
    midiwriter::Track endless, knobs, slow;
    endless.tempo(0, 0xFFFFFF).noteOn(0, 0, 60).noteOff(480 * 1000, 0, 60);
    knobs.controller(0, 0, 7, 100).controller(480, 0, 10, 20);
    for (int note = 0; note < 2400; ++note)
        slow.noteOn(0, 0, 60 + note % 12).noteOff(480, 0, 60 + note % 12);
    midiwriter::save(path("endless.mid"), midiwriter::file(0, 480, {endless.endOfTrack()}));
    midiwriter::save(path("knobs.mid"), midiwriter::file(0, 480, {knobs.endOfTrack(480)}));
    midiwriter::save(path("slow.mid"), midiwriter::file(0, 480, {slow.endOfTrack()}));
    for (const QStringList& format : {QStringList{"wav"}, {"mp3"}, {"flac", "--stems"}}) {
        const QString out = qpath("out-" + format[0].toStdString());
        const Result result =
            run(QStringList{qpath("endless.mid"), qpath("knobs.mid"), qpath("chord.mid"),
                            "--output-dir", out, "--jobs", "1", "--format"} +
                format);
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_TRUE(contains(result.err, "longer than --max-seconds 14400 allows")) << result.err;
        EXPECT_TRUE(contains(result.err, "knobs.mid: renders to silence: no instrument of the "
                                         "SoundFont sounds"))
            << result.err;
        EXPECT_TRUE(fs::exists(out.toStdString() + "/chord." + format[0].toStdString()));
        for (const auto& entry : fs::directory_iterator(out.toStdString()))
            EXPECT_TRUE(entry.path().filename().string().starts_with("chord.")) << entry.path();
    }
    const Result result = run({qpath("slow.mid"), "-o", qpath("slow.wav"), "--timeout", "1"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_TRUE(contains(result.err, "stopped: took longer than --timeout 1.0 s")) << result.err;
    EXPECT_FALSE(fs::exists(path("slow.wav")));
}

TEST_F(ConvertCli, TheReportHasAJsonLinePerInputOnItsOwnOrOnStdout) {
    writeText(path("broken.mid"), "MThd this is not a MIDI file");
    fixtures::writeWav(path("tone.wav"), {22050, 1, 0, 0.3});
    Result result = run({qpath("chord.mid"), qpath("broken.mid"), qpath("tone.wav"), "--output-dir",
                         qpath("out"), "--format", "flac", "--report", qpath("out/report.jsonl"),
                         "--jobs", "1"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    std::istringstream lines(readText(path("out/report.jsonl")));
    std::map<std::string, QJsonObject> byInput;
    for (std::string line; std::getline(lines, line);) {
        writeText(path("line.json"), line);
        EXPECT_EQ(QProcess::execute("python3", {"-m", "json.tool", qpath("line.json")}), 0) << line;
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        byInput[fs::path(o["input"].toString().toStdString()).filename().string()] = o;
    }
    ASSERT_EQ(byInput.size(), 3u);
    const QJsonObject chord = byInput["chord.mid"];
    EXPECT_EQ(chord["status"], "ok");
    EXPECT_DOUBLE_EQ(chord["seconds"].toDouble(), 1.0);
    EXPECT_TRUE(chord["loudness"].toObject().contains("gain_db"));
    EXPECT_EQ(chord["settings"].toObject()["format"], "flac");
    EXPECT_EQ(chord["soundfont"].toObject()["sha256"].toString().size(), 64);
    EXPECT_FALSE(chord["versions"].toObject()["fluidsynth"].toString().isEmpty());
    EXPECT_GT(chord["cpu_seconds"].toDouble(), 0.0);
    EXPECT_EQ(byInput["broken.mid"]["status"], "failed");
    EXPECT_FALSE(byInput["broken.mid"]["error"].toString().isEmpty());
    EXPECT_EQ(byInput["tone.wav"]["loudness"], "off");
    EXPECT_EQ(byInput["tone.wav"]["written"].toObject()["sample_rate"], 22050);

    result = run({qpath("chord.mid"), "-o", qpath("solo.ogg"), "--report", "-"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 1) << result.out;
    EXPECT_TRUE(contains(result.out, "\"status\":\"ok\"")) << result.out;
    EXPECT_TRUE(contains(result.err, "ok " + path("chord.mid").string())) << result.err;
    // A report that fills the disk is not a success, though the file converted.
    result = run({qpath("chord.mid"), "-o", qpath("full.ogg"), "--report", "/dev/full"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_TRUE(contains(result.err, "writing the report \"/dev/full\" failed: No space left"))
        << result.err;
    if (geteuid() != 0) {
        fs::create_directory(path("locked"));
        fs::permissions(path("locked"), fs::perms::owner_read | fs::perms::owner_exec);
        result =
            run({qpath("chord.mid"), "-o", qpath("late.wav"), "--report", qpath("locked/r.jsonl")});
        EXPECT_EQ(result.exitCode, 2) << result.err;
        EXPECT_FALSE(fs::exists(path("late.wav")));
    }
}

// A name can hold any byte but '/' and NUL. Whatever a list holds, the terminal sees escapes
// only, a name once per line, and the report stays JSON that names the file exactly.
TEST_F(ConvertCli, NamesFromAListNeverReachTheTerminalRaw) {
    const std::string retitle = "\x1b]0;pwned\x07.mid";
    const std::string recolour = "\x1b[31mred.mid";
    const std::string bytes = "\x01\xff.mid";
    writeText(path("list.txt"), path(retitle).string() + "\n   \n\t\n\n" + path(recolour).string() +
                                    "\r\n" + path(bytes).string() + "\n" +
                                    path("chord.mid").string() + "\n");
    const Result result = run({"--files-from", qpath("list.txt"), "--output-dir", qpath("out"),
                               "--format", "mp3", "--report", qpath("report.jsonl")});
    // Blank lines are no inputs; missing files fail one by one.
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_TRUE(endsWithCount(result.err, "1 converted, 3 failed")) << result.err;
    for (const char raw : {'\x1b', '\x07', '\x01', '\xff'})
        EXPECT_EQ(result.err.find(raw), std::string::npos) << int(raw) << ": " << result.err;
    const std::string dir = path("").string();
    EXPECT_TRUE(contains(result.err, "failed '" + dir +
                                         "'$'\\033'']0;pwned'$'\\a''.mid': "
                                         "cannot be opened (No such file"))
        << result.err;
    EXPECT_TRUE(contains(result.err, "failed '" + dir + "'$'\\001\\377''.mid': ")) << result.err;
    const auto once = [&](const std::string& part) {
        return result.err.find(part) != std::string::npos &&
               result.err.find(part, result.err.find(part) + 1) == std::string::npos;
    };
    EXPECT_TRUE(once("[31mred.mid") && once("pwned")) << "each path once: " << result.err;

    std::istringstream lines(readText(path("report.jsonl")));
    std::set<std::string> inputs;
    for (std::string line; std::getline(lines, line);) {
        const QJsonDocument json = QJsonDocument::fromJson(QByteArray::fromStdString(line));
        ASSERT_TRUE(json.isObject()) << line;
        inputs.insert(json["input"].toString().toStdString());
    }
    EXPECT_TRUE(inputs.count(path(retitle).string())) << "the report names the file exactly";
    EXPECT_TRUE(inputs.count(path(recolour).string()));
}

TEST_F(ConvertCli, AListThatIsNoListSaysWhatItIs) {
    midiwriter::save(path("song.mid"), rendertest::chordSong());
    Result result =
        run({"--files-from", qpath("song.mid"), "--output-dir", qpath("out"), "--format", "wav"});
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_TRUE(contains(result.err, "the list \"" + path("song.mid").string() +
                                         "\" is a MIDI file (it holds NUL bytes), not a list"))
        << result.err;
    writeText(path("junk.bin"), std::string("paths\0\x9c\x01", 8));
    result =
        run({"--files-from", qpath("junk.bin"), "--output-dir", qpath("out"), "--format", "wav"});
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_TRUE(contains(result.err, "is a binary file (it holds NUL bytes)")) << result.err;
    EXPECT_FALSE(fs::exists(path("out")));
}

// The report's frames are what a decoder gives back, at the MP3's own rate.
TEST_F(ConvertCli, TheReportCountsTheFramesOfAnMp3) {
    fixtures::writeWav(path("odd.wav"), {30000, 1, 0, 0.7});
    const Result result = run({qpath("chord.mid"), qpath("odd.wav"), "--output-dir", qpath("out"),
                               "--format", "mp3", "--report", qpath("report.jsonl")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::istringstream lines(readText(path("report.jsonl")));
    int checked = 0;
    for (std::string line; std::getline(lines, line); ++checked) {
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        const fs::path output = o["output"].toString().toStdString();
        const fixtures::Mp3Facts mp3 = fixtures::probeMp3(output);
        ASSERT_TRUE(mp3.decoded) << mp3.error;
        const QJsonObject written = o["written"].toObject();
        EXPECT_EQ(written["sample_rate"].toInt(), mp3.rate) << line;
        EXPECT_EQ(written["frames"].toInteger(), mp3.samples) << line;
    }
    EXPECT_EQ(checked, 2);
}

// A stem folder in the making is hidden and named after its process, as the song's hidden file
// is: another conversion into the folder leaves it while its run lives, and removes it (with the
// song's hidden file and the claim) once the run was killed.
TEST_F(ConvertCli, AKilledStemRunLeavesNothingOnceTheFolderIsWrittenToAgain) {
    midiwriter::save(path("long.mid"), rendertest::steadySong(300));
    fs::create_directory(path("k"));
    const pid_t pid =
        spawnConvert({path("long.mid"), "-o", path("k/long.wav"), "--stems", "--settings",
                      path("options.ini"), "--soundfont", rendertest::kSoundFont},
                     path("err.txt"));
    std::string hidden;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const std::string& name : namesIn(path("k")))
                if (name.starts_with(".long.stems.") && fs::is_directory(path("k") / name))
                    hidden = name;
            return !hidden.empty();
        },
        60000))
        << readText(path("err.txt"));
    EXPECT_TRUE(hidden.starts_with(".long.stems." + std::to_string(pid) + "-") &&
                hidden.ends_with(".part"))
        << hidden;
    ASSERT_EQ(run({qpath("chord.mid"), "-o", qpath("k/chord.wav")}).exitCode, 0);
    EXPECT_TRUE(fs::is_directory(path("k") / hidden)) << "a running conversion's folder went";
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    ASSERT_EQ(run({qpath("chord.mid"), "-o", qpath("k/again.wav")}).exitCode, 0);
    EXPECT_EQ(namesIn(path("k")), (std::vector<std::string>{"again.wav", "chord.wav"}));
}

// --force --stems killed just before each rename that puts the new song and its stems in place,
// and just after the last: the next conversion into the folder, or the next run for that song,
// leaves the song with its own stems and nothing hidden.
TEST_F(ConvertCli, ASongAndItsStemsStayTogetherWhereverAForcedRunIsKilled) {
    midiwriter::save(path("violin.mid"), violinSong());
    // The claim, the old stems aside, the new stems in, the new song in. Killed while it still
    // writes, the run leaves the old song; from the first rename on, the new one.
    const struct {
        int rename;
        bool after;
        const char* song;
    } moments[] = {{1, true, "chord"},
                   {2, false, "violin"},
                   {3, false, "violin"},
                   {4, false, "violin"},
                   {4, true, "violin"}};
    for (const auto& moment : moments) {
        for (const bool sameSong : {false, true}) {
            SCOPED_TRACE(std::string(moment.after ? "after " : "before ") + "rename " +
                         std::to_string(moment.rename) +
                         (sameSong ? ", the song again" : ", another"));
            fs::remove_all(path("k"));
            fs::create_directory(path("k"));
            ASSERT_EQ(run({qpath("chord.mid"), "-o", qpath("k/song.wav"), "--stems"}).exitCode, 0);
            qputenv("LD_PRELOAD", RENAME_KILL_LIBRARY);
            qputenv("ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":verify_asan_link_order=0");
            qputenv("RENAME_KILL_FOLDER", qpath("k").toUtf8());
            qputenv("RENAME_KILL_AT", QByteArray::number(moment.rename));
            qputenv("RENAME_KILL_AFTER", moment.after ? "1" : "0");
            const Result killed =
                run({qpath("violin.mid"), "-o", qpath("k/song.wav"), "--stems", "--force"});
            for (const char* name :
                 {"LD_PRELOAD", "RENAME_KILL_FOLDER", "RENAME_KILL_AT", "RENAME_KILL_AFTER"})
                qunsetenv(name);
            EXPECT_EQ(killed.exitCode, -1);
            EXPECT_TRUE(contains(killed.err, "rename-kill: killed")) << killed.err;
            const Result next =
                sameSong
                    ? run({qpath("violin.mid"), "-o", qpath("k/song.wav"), "--stems", "--resume"})
                    : run({qpath("chord.mid"), "-o", qpath("k/other.wav")});
            EXPECT_EQ(next.exitCode, 0) << next.err;
            // The song again finishes what it began in any case.
            EXPECT_EQ(whichSong(path("k/song.wav"), path("k/song.stems")),
                      sameSong ? "violin" : moment.song);
            std::vector<std::string> names = namesIn(path("k"));
            std::erase(names, "other.wav");
            EXPECT_EQ(names, (std::vector<std::string>{"song.stems", "song.wav"}));
        }
    }
}

// Two runs of one batch at once into one folder share the work: a song that the other run is
// converting is left to it, and one that it finished meanwhile is complete. Both end well.
TEST_F(ConvertCli, TwoRunsOfOneBatchConvertEachSongOnceAndBothSucceed) {
    QStringList batch;
    for (int i = 0; i < 6; ++i) {
        midiwriter::save(path("s" + std::to_string(i) + ".mid"), rendertest::steadySong(20 + i));
        batch << qpath("s" + std::to_string(i) + ".mid");
    }
    batch << "--output-dir" << qpath("out") << "--format"
          << "flac"
          << "--resume"
          << "--jobs"
          << "1";
    const QStringList common{"--soundfont", QString::fromStdString(rendertest::kSoundFont.string()),
                             "--settings", qpath("options.ini")};
    QProcess runs[2];
    for (int r = 0; r < 2; ++r)
        runs[r].start(QUILLORY_CONVERT_BINARY,
                      batch + common +
                          QStringList{"--report", qpath("r" + std::to_string(r) + ".jsonl")});
    std::string err;
    for (QProcess& process : runs) {
        ASSERT_TRUE(process.waitForFinished(120000));
        err += process.readAllStandardError().toStdString();
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
    }
    for (int i = 0; i < 6; ++i) {
        const std::string input = path("s" + std::to_string(i) + ".mid").string();
        std::size_t converted = 0;
        for (std::size_t at = 0; (at = err.find("ok " + input + " ->", at)) != std::string::npos;
             ++at)
            ++converted;
        EXPECT_EQ(converted, 1u) << err;
    }
    EXPECT_EQ(namesIn(path("out")).size(), 6u);
    // A song left to the other run is reported so, with the reason, in the report too.
    const std::string report = readText(path("r0.jsonl")) + readText(path("r1.jsonl"));
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 12) << report;
    EXPECT_EQ(contains(err, "another process is converting it (process "),
              contains(report, "\"reason\":\"another process is converting it"))
        << err;

    // Held by a run that goes on, a song is skipped at once by another; one that appears complete
    // while it is converted counts as done.
    midiwriter::save(path("slow.mid"), rendertest::steadySong(600));
    fs::create_directory(path("late"));
    const pid_t pid = spawnConvert({path("slow.mid"), "-o", path("late/slow.wav"), "--settings",
                                    path("options.ini"), "--soundfont", rendertest::kSoundFont},
                                   path("err.txt"));
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(path("late/.slow.wav.claim")); }, 60000));
    Result result = run({qpath("slow.mid"), "-o", qpath("late/slow.wav"), "--resume"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(contains(result.err, "skipped " + path("slow.mid").string() +
                                         ": another process is converting it (process " +
                                         std::to_string(pid) + " on this machine)"))
        << result.err;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    ASSERT_EQ(run({qpath("slow.mid"), "-o", qpath("done.wav")}).exitCode, 0);
    const pid_t second =
        spawnConvert({path("slow.mid"), "-o", path("late/slow.wav"), "--resume", "--settings",
                      path("options.ini"), "--soundfont", rendertest::kSoundFont},
                     path("err.txt"));
    // The run's own hidden file once its claim is in place: the claim itself is first written
    // under such a name and renamed, so before it a hidden file of the run's may be gone at once.
    const std::string own = ".slow.wav." + std::to_string(second) + "-";
    ASSERT_TRUE(WaitUntil(
        [&] {
            if (!contains(readText(path("late/.slow.wav.claim")), std::to_string(second) + "@"))
                return false;
            const std::vector<std::string> names = namesIn(path("late"));
            return std::any_of(names.begin(), names.end(),
                               [&](const std::string& name) { return name.starts_with(own); });
        },
        60000))
        << readText(path("err.txt"));
    fs::copy_file(path("done.wav"), path("late/copy"));
    fs::rename(path("late/copy"), path("late/slow.wav"));
    EXPECT_EQ(shellStatus(second, [] {}), 0) << readText(path("err.txt"));
    EXPECT_TRUE(contains(readText(path("err.txt")), "(it appeared while this run converted it)"))
        << readText(path("err.txt"));
    EXPECT_EQ(namesIn(path("late")), std::vector<std::string>{"slow.wav"});
}

// One song gives one output, byte for byte: converted alone, anywhere in a batch of several with
// two workers (twice in it, after different songs), the same batch again, and on one core. The
// corpus is real songs (the last half-minute of three of Debian's planetblupi songs) and
// generated ones.
TEST_F(ConvertCli, ASongGivesTheSameBytesAloneInABatchAndOnAnyNumberOfCores) {
    std::vector<std::string> names;
    for (const char* real : {"music002", "music005", "music009"}) {
        const fs::path song = rendertest::kRealSongs / (std::string(real) + ".mid");
        if (!fs::exists(song))
            continue;
        midiwriter::save(path(std::string(real) + ".mid"),
                         rendertest::lastSecondsOf(quillory::renderer::MidiFile::read(song), 30));
        names.push_back(real);
    }
    midiwriter::save(path("all.mid"), everyChannelSong());
    midiwriter::save(path("steady.mid"), rendertest::steadySong(20));
    names.insert(names.end(), {"all", "steady", "chord"});
    // The same song later in the same batch, under the same name (its title) in a folder below.
    fs::create_directory(path("dup"));
    fs::copy_file(path("all.mid"), path("dup/all.mid"));
    QStringList batch;
    for (const std::string& name : names)
        batch << qpath(name + ".mid");
    batch << qpath("dup/all.mid") << "--keep-tree" << qpath("");
    const QStringList format{"--format", "wav", "--bits", "32f"};
    for (const char* folder : {"b1", "b2"})
        ASSERT_EQ(run(QStringList(batch) << "--output-dir" << qpath(folder) << format << "--jobs"
                                         << "2")
                      .exitCode,
                  0);
    const bool oneCore = QProcess::execute("taskset", {"-c", "0", "true"}) == 0;
    if (oneCore) {
        ASSERT_EQ(run(QStringList(batch) << "--output-dir" << qpath("c1") << format,
                      {"taskset", "-c", "0"})
                      .exitCode,
                  0);
    }
    for (const std::string& name : names) {
        ASSERT_EQ(run({qpath(name + ".mid"), "--output-dir", qpath("alone"), "--format", "wav",
                       "--bits", "32f"})
                      .exitCode,
                  0);
        const std::string alone = readText(path("alone") / (name + ".wav"));
        EXPECT_GT(alone.size(), 100000u) << name;
        EXPECT_TRUE(alone == readText(path("b1") / (name + ".wav"))) << name << " in a batch";
        EXPECT_TRUE(alone == readText(path("b2") / (name + ".wav"))) << name << " batched again";
        if (oneCore) {
            EXPECT_TRUE(alone == readText(path("c1") / (name + ".wav"))) << name << " on one core";
        }
    }
    EXPECT_TRUE(readText(path("b1/dup/all.wav")) == readText(path("alone/all.wav")))
        << "the same song later in the same batch";
    // Every song second on one worker, after a song of another length.
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& first = names[(i + 1) % names.size()];
        const std::string& name = names[i];
        const std::string folder = "w" + std::to_string(i);
        ASSERT_EQ(run({qpath(first + ".mid"), qpath(name + ".mid"), "--output-dir", qpath(folder),
                       "--format", "wav", "--bits", "32f", "--jobs", "1"})
                      .exitCode,
                  0);
        EXPECT_TRUE(readText(path(folder) / (name + ".wav")) ==
                    readText(path("alone") / (name + ".wav")))
            << name << " after " << first << " on one worker";
    }
    // Ogg Vorbis, Opus and FLAC too: the song twice in one batch.
    for (const char* format : {"ogg", "opus", "flac"}) {
        ASSERT_EQ(run({qpath("all.mid"), qpath("dup/all.mid"), "--keep-tree", qpath(""),
                       "--output-dir", qpath(format), "--format", format, "--jobs", "2"})
                      .exitCode,
                  0);
        const std::string file = std::string("all.") + format;
        EXPECT_TRUE(readText(path(format) / file) == readText(path(format) / "dup" / file))
            << format;
    }
}

namespace {

// What mir_eval.io.load_valued_intervals accepts: three numbers a line, whitespace between,
// intervals that do not end before they begin.
std::vector<std::array<double, 3>> mirEvalRows(const std::string& text) {
    std::vector<std::array<double, 3>> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::array<double, 3> row{};
        std::string rest;
        if (!(fields >> row[0] >> row[1] >> row[2]) || (fields >> rest) || row[0] < 0 ||
            row[1] < row[0] || row[2] <= 0)
            return {};
        rows.push_back(row);
    }
    return rows;
}

} // namespace

// Labels beside the output and each stem, in both forms, named in the report; a WAV has none.
TEST_F(ConvertCli, LabelsAreWrittenBesideTheOutputAndEachStem) {
    midiwriter::save(path("all.mid"), everyChannelSong());
    Result result = run({qpath("all.mid"), "-o", qpath("all.flac"), "--stems", "--labels",
                         "--report", qpath("r.jsonl")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::istringstream table(readText(path("all.labels.tsv")));
    std::string header;
    std::getline(table, header);
    EXPECT_EQ(header.rfind("onset_sample\toffset_sample\tonset_seconds\toffset_seconds\tkey\t", 0),
              0u);
    std::map<int, std::size_t> notesOf; // channel 1-16
    std::size_t notes = 0, sounded = 0;
    for (std::string line; std::getline(table, line); ++notes) {
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 12) << line;
        std::istringstream fields(line);
        std::vector<std::string> column;
        for (std::string field; std::getline(fields, field, '\t');)
            column.push_back(field);
        ++notesOf[std::stoi(column.at(7))];
        sounded += column.size() == 12; // no reason why it was silent
    }
    EXPECT_GT(sounded, 16u);
    // Each stem's labels are the mix's notes of its channel.
    for (const fs::path& file : filesEndingIn(path("all.stems"), ".labels.tsv")) {
        const std::string text = readText(file);
        const int channel = std::stoi(file.filename().string().substr(0, 2));
        EXPECT_EQ(std::size_t(std::count(text.begin(), text.end(), '\n')) - 1, notesOf[channel])
            << file;
    }
    EXPECT_TRUE(contains(readText(path("r.jsonl")),
                         "\"labels\":\"" + path("all.labels.tsv").string() + "\""));

    result = run({qpath("all.mid"), "-o", qpath("mir.wav"), "--labels", "mir_eval"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto rows = mirEvalRows(readText(path("mir.labels.txt")));
    EXPECT_EQ(rows.size(), sounded) << "the notes that sounded";
    // mir_eval's own loader, where Debian's python3-mir-eval is installed.
    QProcess mirEval;
    mirEval.start("/usr/bin/python3", {"-c",
                                       "import sys, mir_eval\n"
                                       "i, f = mir_eval.io.load_valued_intervals(sys.argv[1])\n"
                                       "mir_eval.util.validate_intervals(i)\n"
                                       "print(len(f))",
                                       qpath("mir.labels.txt")});
    mirEval.waitForFinished(60000);
    if (mirEval.exitCode() == 0)
        EXPECT_EQ(mirEval.readAllStandardOutput().trimmed().toULongLong(), sounded);
    else
        EXPECT_TRUE(mirEval.readAllStandardError().contains("No module named 'mir_eval'"))
            << mirEval.readAllStandardError().toStdString();

    fixtures::writeWav(path("tone.wav"), {22050, 1, 0, 0.5});
    result = run({qpath("tone.wav"), "-o", qpath("tone.flac"), "--labels"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(contains(result.err, "--labels labels the notes of MIDI files")) << result.err;
}
