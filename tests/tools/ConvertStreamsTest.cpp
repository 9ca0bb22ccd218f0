// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// quillory-convert with "-" for standard input and standard output, run as processes joined by
// real pipes: what comes out of standard output is read by independent readers (our byte-wise
// WAV probe, ffmpeg, sox) and compared with what the same conversion writes to a file.
#include "tests/components/encoder/WavFixtures.h"
#include "tests/components/renderer/RenderSupport.h"
#include "tests/components/renderer/WavProbe.h"

#include <QProcess>
#include <QStandardPaths>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

std::uint32_t le32At(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | std::uint8_t(bytes[at + std::size_t(i)]);
    return value;
}

struct Ran {
    int exitCode = -1; // -1 for a crash or a hang
    std::string out, err;
};

// Waits for a process and takes what it printed.
Ran finish(QProcess& process) {
    Ran ran;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
    }
    ran.out = process.readAllStandardOutput().toStdString();
    ran.err = process.readAllStandardError().toStdString();
    if (process.exitStatus() == QProcess::NormalExit)
        ran.exitCode = process.exitCode();
    return ran;
}

class ConvertStreams : public ::testing::Test {
protected:
    void SetUp() override {
        std::ofstream(dir_ / "options.ini") << "";
        midiwriter::save(dir_ / "chord.mid", rendertest::chordSong());
        // The batch's work folder, to see that nothing is left in it.
        qputenv("XDG_CACHE_HOME", dir_.qpath("cache").toUtf8());
    }
    void TearDown() override { qunsetenv("XDG_CACHE_HOME"); }

    QStringList withSettings(QStringList args) const {
        return args << "--soundfont" << QString::fromStdString(rendertest::kSoundFont.string())
                    << "--settings" << dir_.qpath("options.ini");
    }
    void start(QProcess& process, const QStringList& args) const {
        process.start(QStringLiteral(QUILLORY_CONVERT_BINARY), withSettings(args));
    }
    // The converter with `input` on its standard input.
    Ran run(const QStringList& args, const std::string& input = {}) const {
        QProcess process;
        start(process, args);
        process.write(input.data(), qint64(input.size()));
        process.closeWriteChannel();
        return finish(process);
    }
    // The converter's standard output piped into `reader`; the reader's outcome, the
    // converter's in `converter`.
    Ran pipeInto(const QStringList& args, const QString& reader, const QStringList& readerArgs,
                 Ran& converter, const std::string& input = {}) const {
        QProcess source, sink;
        source.setStandardOutputProcess(&sink);
        start(source, args);
        sink.start(reader, readerArgs);
        source.write(input.data(), qint64(input.size()));
        // Nothing else runs the converter's side of the pipe while the reader is waited for.
        while (source.bytesToWrite() > 0 && source.waitForBytesWritten(60000)) {
        }
        source.closeWriteChannel();
        const Ran read = finish(sink);
        converter = finish(source);
        return read;
    }
    static std::string readFile(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // What ffmpeg decodes from bytes given on its standard input, as 32-bit integers.
    Ran decoded(const std::string& bytes) const {
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg", {"-v", "error", "-i", "-", "-f", "s32le", "-"});
        ffmpeg.write(bytes.data(), qint64(bytes.size()));
        ffmpeg.closeWriteChannel();
        return finish(ffmpeg);
    }
    // Every file the batches left in the work folder, but for the lock it keeps.
    std::vector<fs::path> workFiles() const {
        const fs::path work = dir_ / "cache" / "quillory" / "work";
        std::vector<fs::path> found;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(work, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            if (!it->is_directory() && it->path() != work / ".lock")
                found.push_back(it->path());
        EXPECT_TRUE(fs::exists(work / ".lock")) << "the batches worked elsewhere";
        return found;
    }

    rendertest::TempFolder dir_;
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

// A levelled song's length is known before its output pass: the WAV on standard output carries
// it from its first byte and is the file the same conversion writes, byte for byte, at every
// depth (an odd data chunk of 8 or 24-bit mono ends in a pad byte; a float WAV counts its frames
// in a fact chunk).
TEST_F(ConvertStreams, ALevelledSongOnStandardOutputIsItsWavFileByteForByte) {
    for (const QStringList& depth : {QStringList{"--bits", "16"},
                                     {"--bits", "8", "--channels", "1"},
                                     {"--bits", "24", "--channels", "1"},
                                     {"--bits", "32f"}}) {
        const QStringList song = QStringList{dir_.qpath("chord.mid")} << depth;
        const Ran file = run(QStringList(song) << "-o" << dir_.qpath("chord.wav") << "--force");
        ASSERT_EQ(file.exitCode, 0) << file.err;
        const Ran stream = run(QStringList(song) << "-o"
                                                 << "-"
                                                 << "--format"
                                                 << "wav");
        ASSERT_EQ(stream.exitCode, 0) << stream.err;
        EXPECT_TRUE(
            contains(stream.err, "ok " + (dir_ / "chord.mid").string() + " -> standard output"))
            << stream.err;
        EXPECT_GT(stream.out.size(), 44100u);
        EXPECT_TRUE(stream.out == readFile(dir_ / "chord.wav")) << depth.join(' ').toStdString();
    }
    EXPECT_EQ(workFiles(), std::vector<fs::path>());
}

// At the fixed gain the song's end is found as it is synthesised, after its header went out:
// the header says "up to the end", which sox and ffmpeg both read through a pipe.
TEST_F(ConvertStreams, AFixedGainStreamSaysUpToTheEndAndSoxAndFfmpegReadItAll) {
    const QStringList fixedGain = {dir_.qpath("chord.mid"), "--loudness", "off"};
    const Ran file = run(QStringList(fixedGain) << "-o" << dir_.qpath("chord.wav"));
    ASSERT_EQ(file.exitCode, 0) << file.err;
    const WavProbe written = WavProbe::read(dir_ / "chord.wav");
    ASSERT_TRUE(written.valid);
    const QStringList toStdout = QStringList(fixedGain) << "-o"
                                                        << "-"
                                                        << "--format"
                                                        << "wav";
    Ran converter;
    const Ran ffmpeg =
        pipeInto(toStdout, "ffmpeg", {"-v", "error", "-i", "-", "-f", "s16le", "-"}, converter);
    EXPECT_EQ(converter.exitCode, 0) << converter.err;
    EXPECT_EQ(ffmpeg.exitCode, 0) << ffmpeg.err;
    EXPECT_EQ(ffmpeg.out, std::string(written.data.begin(), written.data.end()));
    const Ran stream = run(toStdout);
    ASSERT_GT(stream.out.size(), 44u);
    EXPECT_EQ(le32At(stream.out, 4), 0xFFFFFFFFu);
    EXPECT_EQ(le32At(stream.out, stream.out.size() - written.data.size() - 4), 0xFFFFFFFFu);
    if (QStandardPaths::findExecutable("sox").isEmpty())
        GTEST_SKIP() << "sox is not installed";
    const Ran sox = pipeInto(toStdout, "sox", {"-t", "wav", "-", "-t", "raw", "-"}, converter);
    EXPECT_EQ(converter.exitCode, 0) << converter.err;
    EXPECT_EQ(sox.exitCode, 0) << sox.err;
    EXPECT_EQ(sox.out, std::string(written.data.begin(), written.data.end()));
}

// FLAC leaves its length and checksum unknown rather than appending them after the last frame;
// Ogg Vorbis and Opus stream as they are. Each decodes to what its file holds.
TEST_F(ConvertStreams, FlacOggAndOpusStreamAsTheirFilesDecode) {
    for (const char* format : {"flac", "ogg", "opus"}) {
        const std::string name = std::string("chord.") + format;
        const Ran file = run({dir_.qpath("chord.mid"), "-o", dir_.qpath(name)});
        ASSERT_EQ(file.exitCode, 0) << file.err;
        const Ran stream = run({dir_.qpath("chord.mid"), "-o", "-", "--format", format});
        ASSERT_EQ(stream.exitCode, 0) << format << ": " << stream.err;
        const Ran fromStream = decoded(stream.out);
        const Ran fromFile = decoded(readFile(dir_ / name));
        EXPECT_EQ(fromStream.err, "") << format;
        EXPECT_GT(fromFile.out.size(), 4u * 44100u) << format;
        EXPECT_EQ(fromStream.out, fromFile.out) << format;
        if (std::string(format) == "flac") {
            EXPECT_EQ(stream.out.size(), readFile(dir_ / name).size()) << "nothing after the end";
        }
    }
}

// A MIDI file and a WAV file come in through standard input, the WAV copied into the work folder
// and removed again; the output is the same as from the file itself, the report says "-".
TEST_F(ConvertStreams, StandardInputTakesAMidiOrAWavFile) {
    const Ran named = run({dir_.qpath("chord.mid"), "-o", dir_.qpath("named.wav")});
    ASSERT_EQ(named.exitCode, 0) << named.err;
    const Ran piped = run({"-", "-o", dir_.qpath("piped.wav"), "--report", dir_.qpath("r.jsonl")},
                          readFile(dir_ / "chord.mid"));
    ASSERT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_TRUE(contains(piped.err, "ok standard input -> " + (dir_ / "piped.wav").string()))
        << piped.err;
    EXPECT_EQ(WavProbe::read(dir_ / "piped.wav").data, WavProbe::read(dir_ / "named.wav").data);
    EXPECT_TRUE(contains(readFile(dir_ / "r.jsonl"), "\"input\":\"-\""))
        << readFile(dir_ / "r.jsonl");

    fixtures::writeWav(dir_ / "take.wav", {.rate = 22050, .channels = 1, .seconds = 0.5});
    Ran converter;
    const Ran flac = pipeInto({"-", "-o", "-", "--format", "flac"}, "ffmpeg",
                              {"-v", "error", "-i", "-", "-f", "s16le", "-"}, converter,
                              readFile(dir_ / "take.wav"));
    EXPECT_EQ(converter.exitCode, 0) << converter.err;
    const std::vector<std::uint8_t> take = WavProbe::read(dir_ / "take.wav").data;
    EXPECT_EQ(flac.out, std::string(take.begin(), take.end())) << "WAV to FLAC keeps every sample";
    EXPECT_EQ(workFiles(), std::vector<fs::path>());
}

// A reader that stops early (head) fails the conversion with the reason, and the work files go.
TEST_F(ConvertStreams, AReaderThatGoesAwayFailsTheConversionAndLeavesNoWorkFile) {
    Ran converter;
    const Ran head = pipeInto({dir_.qpath("chord.mid"), "-o", "-", "--format", "wav"}, "head",
                              {"-c", "100"}, converter);
    EXPECT_EQ(head.out.size(), 100u);
    EXPECT_EQ(converter.exitCode, 1) << converter.err;
    EXPECT_TRUE(contains(converter.err, "writing standard output failed (Broken pipe)"))
        << converter.err;
    EXPECT_EQ(workFiles(), std::vector<fs::path>());
}

// What cannot come through standard input, or cannot go out through standard output, is a usage
// error that names why, before anything is written there.
TEST_F(ConvertStreams, WhatTheStreamsCannotTakeIsAUsageError) {
    struct Line {
        QStringList args;
        std::string input;
        const char* says;
    };
    const std::string midi = readFile(dir_ / "chord.mid");
    fixtures::writeWav(dir_ / "take.wav", {});
    const std::string wav = readFile(dir_ / "take.wav");
    const std::vector<Line> lines = {
        {{"-", "-o", dir_.qpath("x.wav")}, "hello, world\n", "it begins with \"hell\""},
        {{"-", "-o", dir_.qpath("x.wav")}, "", "standard input, which is empty"},
        {{"-", "-o", dir_.qpath("x.wav")}, std::string("fLaC\0\0\0\x22", 8), "neither MIDI"},
        {{"-", "-o", dir_.qpath("x.wav"), "--stems"}, wav, "standard input is a WAV file"},
        {{"-", "-o", dir_.qpath("x.wav"), "--resume"}, midi, "--resume"},
        {{"-", "--output-dir", dir_.qpath("out"), "--format", "wav"}, midi, "has no name"},
        {{"-", "-o", "-"}, midi, "add --format wav, flac, ogg or opus"},
        {{"-", "-o", "-", "--format", "mp3"}, midi, "MP3 cannot be written"},
        {{"-", "-o", "-", "--format", "wav", "--stems"}, midi, "--stems writes a folder"},
        {{"-", "-o", "-", "--format", "wav", "--report", "-"}, midi, "--report - and -o -"},
        {{"-", dir_.qpath("chord.mid"), "-o", "-", "--format", "wav"}, midi, "2 inputs"},
    };
    for (const Line& line : lines) {
        const Ran ran = run(line.args, line.input);
        EXPECT_EQ(ran.exitCode, 2) << line.args.join(' ').toStdString() << "\n" << ran.err;
        EXPECT_TRUE(contains(ran.err, line.says)) << ran.err;
        EXPECT_EQ(ran.out, "");
    }
    EXPECT_FALSE(fs::exists(dir_ / "x.wav"));
    EXPECT_FALSE(fs::exists(dir_ / "out"));
}

// More than a MIDI file may hold fails, and so does a writer that stalls, once --timeout passes.
TEST_F(ConvertStreams, TooMuchOrTooSlowAStandardInputFails) {
    std::string huge = readFile(dir_ / "chord.mid");
    huge.resize((64u << 20) + 1, '\0');
    const Ran large = run({"-", "-o", dir_.qpath("x.wav")}, huge);
    EXPECT_EQ(large.exitCode, 1);
    EXPECT_TRUE(contains(large.err, "too large to be a MIDI file (more than 64 MiB)")) << large.err;

    QProcess stalled;
    start(stalled, {"-", "-o", dir_.qpath("x.wav"), "--timeout", "1"});
    stalled.write(readFile(dir_ / "chord.mid").substr(0, 20).c_str(), 20);
    stalled.waitForBytesWritten(10000);
    const Ran late = finish(stalled);
    EXPECT_EQ(late.exitCode, 1);
    EXPECT_TRUE(contains(late.err, "took longer than --timeout")) << late.err;
    EXPECT_FALSE(fs::exists(dir_ / "x.wav"));
}
