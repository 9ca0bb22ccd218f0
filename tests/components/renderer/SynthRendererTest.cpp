// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The renderer as the window sees it: Render returns at once with the length known, the
// notifications arrive in order on the UI thread, Stop leaves a valid file and silence, Cancel
// leaves nothing, every failure is a clear message with no output left behind, and a killed
// render never leaves half a file under the target's name.
#include "components/renderer/SynthRenderer.h"
#include "components/synthesis/ThreadBudget.h"
#include "tests/components/renderer/LevelProbe.h"
#include "tests/components/renderer/RenderSupport.h"
#include "tests/components/renderer/WavProbe.h"

#include "tests/support/EventWait.h"
#include "tests/support/KilledChild.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <filesystem>
#include <optional>

using rendertest::TempFolder;

namespace {

// Everything the renderer told us, in order: "p<percent>", "done", "ended", "failed: ...".
struct Log {
    QStringList entries;
    QThread* thread = nullptr;
    bool allOnUiThread = true;

    explicit Log(SynthRenderer& renderer) {
        QObject::connect(&renderer, &Renderer::RenderProgress,
                         [this](qint16 p) { add("p" + QString::number(p)); });
        QObject::connect(&renderer, &Renderer::RenderDone, [this] { add("done"); });
        QObject::connect(&renderer, &Renderer::RenderEnded, [this] { add("ended"); });
        QObject::connect(&renderer, &Renderer::RenderFailed,
                         [this](const QString& m) { add("failed: " + m); });
    }
    void add(const QString& entry) {
        allOnUiThread =
            allOnUiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        entries << entry;
    }
    bool ended() const {
        return !entries.isEmpty() &&
               (entries.last() == "done" || entries.last().startsWith("failed"));
    }
};

void setFormat(SynthRenderer& renderer, int rate, int bits, int channels) {
    renderer.setSampleRate(rate);
    renderer.setBitsPerSample(bits);
    renderer.setChannelCount(channels);
    renderer.setSoundFont(QString::fromStdString(rendertest::kSoundFont.string()));
}

} // namespace

TEST(SynthRenderer, RendersInTheBackgroundAndReportsInOrder) {
    TempFolder dir;
    midiwriter::save(dir / "song.mid", rendertest::chordSong());
    SynthRenderer renderer;
    setFormat(renderer, 11025, 8, 2);
    Log log(renderer);
    ASSERT_TRUE(renderer.Render(dir.qpath("song.mid"), dir.qpath("song.wav")))
        << renderer.errorText().toStdString();
    EXPECT_DOUBLE_EQ(renderer.GetTotalTime(QString()), 1000.0);
    EXPECT_TRUE(log.entries.isEmpty())
        << "notifications come through the event loop, never inside Render";
    WaitUntil([&] { return log.ended(); });

    ASSERT_EQ(log.entries.last(), "done");
    ASSERT_GE(log.entries.size(), 2);
    EXPECT_EQ(log.entries[log.entries.size() - 2], "p100");
    int last = -1;
    for (int i = 0; i + 1 < log.entries.size(); ++i) {
        const int percent = log.entries[i].mid(1).toInt();
        EXPECT_GT(percent, last) << log.entries.join(' ').toStdString();
        last = percent;
    }
    EXPECT_TRUE(log.allOnUiThread);
    // Complete and closed when RenderDone arrives.
    const WavProbe wav = WavProbe::read(dir / "song.wav");
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.sampleRate, 11025);
    EXPECT_EQ(wav.bits, 8);
    EXPECT_EQ(wav.channels, 2);
    EXPECT_GE(wav.frames(), 11025u);
    EXPECT_LE(wav.frames(), 4 * 11025u);
    ProcessEventsFor(50);
    EXPECT_EQ(log.entries.last(), "done") << "nothing follows the end";
}

TEST(SynthRenderer, StopEndsTheRenderWithAValidFileAndNoMoreNotifications) {
    TempFolder dir;
    midiwriter::save(dir / "long.mid", rendertest::steadySong(600));
    SynthRenderer renderer;
    setFormat(renderer, 8000, 16, 1);
    Log log(renderer);
    ASSERT_TRUE(renderer.Render(dir.qpath("long.mid"), dir.qpath("long.wav")));
    EXPECT_DOUBLE_EQ(renderer.GetTotalTime(QString()), 600000.0);
    WaitUntil([&] { return log.entries.size() >= 2; });
    renderer.StopRender();
    const int seen = int(log.entries.size());
    ProcessEventsFor(200);
    EXPECT_EQ(log.entries.size(), seen) << log.entries.join(' ').toStdString();
    EXPECT_FALSE(log.entries.contains("done"));
    const WavProbe wav = WavProbe::read(dir / "long.wav");
    ASSERT_TRUE(wav.valid) << "the stopped file is closed with a consistent header";
    EXPECT_GT(wav.frames(), 0u);
    EXPECT_LT(wav.frames(), 600u * 8000u);

    // The same renderer goes on to the next file.
    midiwriter::save(dir / "short.mid", rendertest::chordSong());
    ASSERT_TRUE(renderer.Render(dir.qpath("short.mid"), dir.qpath("short.wav")));
    WaitUntil([&] { return log.ended(); });
    EXPECT_EQ(log.entries.last(), "done");
}

namespace {

// Ten thousand notes struck at once across the sixteen channels and held for a minute: every
// synthesiser the song is split over is as busy as it can be when the stop comes.
midiwriter::Bytes tenThousandHeldNotes() {
    std::vector<midiwriter::Track> tracks;
    for (int ch = 0; ch < 16; ++ch) {
        midiwriter::Track track;
        for (int n = 0; n < 625; ++n)
            track.noteOn(0, ch, 24 + (n * 7 + ch) % 80, 40 + n % 80);
        tracks.push_back(track.endOfTrack(480 * 120));
    }
    return midiwriter::file(1, 480, tracks);
}

} // namespace

TEST(SynthRenderer, AStopMidSongEndsEverySynthesisThreadAndGivesTheCoresBack) {
    quillory::renderer::ThreadBudget& budget = quillory::renderer::ThreadBudget::shared();
    TempFolder dir;
    midiwriter::save(dir / "dense.mid", tenThousandHeldNotes());
    midiwriter::save(dir / "short.mid", rendertest::chordSong());
    SynthRenderer renderer;
    setFormat(renderer, 22050, 16, 2);
    Log log(renderer);
    // Loading the SoundFont may leave a thread pool of the library's; a first song loads it.
    ASSERT_TRUE(renderer.Render(dir.qpath("short.mid"), dir.qpath("short.wav")));
    WaitUntil([&] { return log.ended(); });
    log.entries.clear();
    const std::string threadsBefore = rendertest::workingThreads();
    ASSERT_TRUE(renderer.Render(dir.qpath("dense.mid"), dir.qpath("dense.wav")));
    WaitUntil([&] { return log.entries.size() >= 2; });
    if (budget.total() > 1) {
        EXPECT_EQ(budget.available(), 0u) << "the song is not split over the cores";
    }
    renderer.StopRender();
    EXPECT_EQ(budget.available(), budget.total());
    // The stopped WAV's flush to disk may still run on a thread of its own; the library's
    // threads under a synthesiser that ended may take a moment to go.
    EXPECT_TRUE(WaitUntil([&] { return rendertest::workingThreads() == threadsBefore; }))
        << "before: " << threadsBefore << "\nafter: " << rendertest::workingThreads();
    ProcessEventsFor(50);
    EXPECT_FALSE(log.entries.contains("done"));
    const WavProbe wav = WavProbe::read(dir / "dense.wav");
    ASSERT_TRUE(wav.valid);
    EXPECT_GT(wav.frames(), 0u);
    EXPECT_LT(wav.frames(), 60u * 22050u);
}

TEST(SynthRenderer, ClosingTheWindowMidRenderStopsCleanly) {
    TempFolder dir;
    midiwriter::save(dir / "long.mid", rendertest::steadySong(600));
    auto renderer = std::make_unique<SynthRenderer>();
    setFormat(*renderer, 8000, 8, 1);
    Log log(*renderer);
    ASSERT_TRUE(renderer->Render(dir.qpath("long.mid"), dir.qpath("long.wav")));
    WaitUntil([&] { return !log.entries.isEmpty(); });
    renderer.reset();
    ProcessEventsFor(50);
    EXPECT_FALSE(log.entries.contains("done"));
    EXPECT_TRUE(WavProbe::read(dir / "long.wav").valid);
}

TEST(SynthRenderer, CancelLeavesNothingAtTheTargetEvenForASongThatEndedAtOnce) {
    TempFolder dir;
    midiwriter::save(dir / "no music.mid",
                     midiwriter::file(0, 96, {midiwriter::Track().endOfTrack()}));
    midiwriter::save(dir / "long.mid", rendertest::steadySong(600));
    SynthRenderer renderer;
    setFormat(renderer, 8000, 16, 1);
    Log log(renderer);
    ASSERT_TRUE(renderer.Render(dir.qpath("no music.mid"), dir.qpath("silence.wav")))
        << renderer.errorText().toStdString();
    EXPECT_EQ(renderer.GetTotalTime(QString()), 0.0);
    QThread::msleep(200); // the worker has finished; its end waits in the queue
    renderer.CancelRender();

    ASSERT_TRUE(renderer.Render(dir.qpath("long.mid"), dir.qpath("long.wav")));
    WaitUntil([&] { return !log.entries.isEmpty(); });
    renderer.CancelRender();
    const auto seen = log.entries.size();
    ProcessEventsFor(200);
    EXPECT_EQ(log.entries.size(), seen) << log.entries.join(' ').toStdString();
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"long.mid", "no music.mid"}));
}

TEST(SynthRenderer, AKilledRenderLeavesNothingOrTheFileItWasToReplace) {
    TempFolder dir;
    midiwriter::save(dir / "long.mid", rendertest::steadySong(600));
    midiwriter::save(dir / "old.wav", {'o', 'l', 'd'});
    for (const char* target : {"new.wav", "old.wav"}) {
        SCOPED_TRACE(target);
        EXPECT_TRUE(KillAfterFirstProgress(
            RENDER_CHILD, {dir.qpath("long.mid"), dir.qpath(target), "22050",
                           QString::fromStdString(rendertest::kSoundFont.string())}));
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "new.wav"));
    EXPECT_EQ(std::filesystem::file_size(dir / "old.wav"), 3u);
    EXPECT_TRUE(SweptAtTheNextWrite(dir.path()));
}

TEST(SynthRenderer, RefusesASecondRenderWhileOneRuns) {
    TempFolder dir;
    midiwriter::save(dir / "long.mid", rendertest::steadySong(600));
    SynthRenderer renderer;
    setFormat(renderer, 8000, 8, 1);
    ASSERT_TRUE(renderer.Render(dir.qpath("long.mid"), dir.qpath("a.wav")));
    EXPECT_FALSE(renderer.Render(dir.qpath("long.mid"), dir.qpath("b.wav")));
    EXPECT_EQ(renderer.errorText(), "a render is already running");
    EXPECT_FALSE(std::filesystem::exists(dir / "b.wav"));
    renderer.StopRender();
}

TEST(SynthRenderer, BadInputIsAClearErrorAndLeavesNoFile) {
    TempFolder dir;
    midiwriter::save(dir / "empty.mid", {});
    midiwriter::save(dir / "text.mid", {'h', 'e', 'l', 'l', 'o'});
    midiwriter::save(dir / "tempo0.mid",
                     midiwriter::file(0, 96, {midiwriter::Track().tempo(0, 0).endOfTrack()}));
    midiwriter::save(dir / "good.mid", rendertest::chordSong());
    midiwriter::save(dir / "broken.sf2", {'n', 'o', 'p', 'e'});
    struct Case {
        const char* midi;
        const char* soundFont; // relative to the folder; empty for the test SoundFont
        int rate;
        const char* target;
        std::string expected;
    } cases[] = {
        {"missing.mid", "", 8000, "out.wav", (dir / "missing.mid").string() + ": cannot be opened"},
        {"empty.mid", "", 8000, "out.wav", (dir / "empty.mid").string() + ": the file is empty"},
        {"text.mid", "", 8000, "out.wav", "not a MIDI file"},
        {"tempo0.mid", "", 8000, "out.wav", "track 1, byte 22: tempo 0"},
        {"good.mid", "none.sf2", 8000, "out.wav",
         "SoundFont " + (dir / "none.sf2").string() + " does not exist"},
        {"good.mid", "broken.sf2", 8000, "out.wav", "cannot be loaded"},
        {"good.mid", "", 4000, "out.wav", "4000 Hz is not supported"},
        {"good.mid", "", 8000, "no/such/folder/out.wav", "cannot create"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.midi + std::string(" ") + c.soundFont);
        SynthRenderer renderer;
        setFormat(renderer, c.rate, 16, 2);
        if (*c.soundFont)
            renderer.setSoundFont(dir.qpath(c.soundFont));
        Log log(renderer);
        EXPECT_FALSE(renderer.Render(dir.qpath(c.midi), dir.qpath(c.target)));
        EXPECT_TRUE(renderer.errorText().toStdString().find(c.expected) != std::string::npos)
            << renderer.errorText().toStdString();
        EXPECT_EQ(renderer.GetTotalTime(QString()), 0.0);
        EXPECT_FALSE(std::filesystem::exists(dir / c.target));
        ProcessEventsFor(10);
        EXPECT_TRUE(log.entries.isEmpty());
    }
}

TEST(SynthRenderer, AFailureHalfWayIsReportedAndThePartialFileRemoved) {
    TempFolder dir;
    midiwriter::save(dir / "song.mid", rendertest::steadySong(20));
    SynthRenderer renderer;
    setFormat(renderer, 22050, 16, 2);
    Log log(renderer);
    bool started = false;
    {
        const rendertest::FileSizeLimit fullDisk(256 * 1024);
        started = renderer.Render(dir.qpath("song.mid"), dir.qpath("song.wav"));
        WaitUntil([&] { return log.ended(); });
    }
    ASSERT_TRUE(started);
    ASSERT_FALSE(log.entries.isEmpty());
    EXPECT_TRUE(
        log.entries.last().startsWith("failed: writing " + dir.qpath("song.wav") + " failed"))
        << log.entries.last().toStdString();
    EXPECT_FALSE(log.entries.contains("done"));
    EXPECT_FALSE(log.entries.contains("p100"));
    EXPECT_FALSE(std::filesystem::exists(dir / "song.wav"));
}

TEST(SynthRenderer, EvensOutByDefaultWithItsWorkFileOnlyInTheWorkFolderAndOnlyWhileItRenders) {
    TempFolder dir;
    std::filesystem::create_directory(dir / "work");
    const auto workFiles = [&] {
        return std::distance(std::filesystem::directory_iterator(dir / "work"), {});
    };
    midiwriter::save(dir / "piano.mid", rendertest::quietPianoLine());
    midiwriter::save(dir / "long.mid", rendertest::steadySong(600));
    SynthRenderer renderer;
    setFormat(renderer, 22050, 16, 2);
    renderer.setWorkFolder(dir.qpath("work"));
    Log log(renderer);

    ASSERT_TRUE(renderer.Render(dir.qpath("piano.mid"), dir.qpath("even.wav")));
    EXPECT_EQ(renderer.noticeText(), "");
    WaitUntil([&] { return log.ended(); });
    ASSERT_EQ(log.entries.last(), "done");
    EXPECT_NEAR(levelprobe::measureWav(dir / "even.wav").lufs, -16.0, 1.0);
    renderer.setLoudness(quillory::renderer::LoudnessChoice::off());
    log.entries.clear();
    ASSERT_TRUE(renderer.Render(dir.qpath("piano.mid"), dir.qpath("fixed.wav")));
    WaitUntil([&] { return log.ended(); });
    EXPECT_LT(levelprobe::measureWav(dir / "fixed.wav").lufs, -30.0) << "Off is the fixed gain";
    renderer.setLoudness({true, -20.0});
    log.entries.clear();
    ASSERT_TRUE(renderer.Render(dir.qpath("piano.mid"), dir.qpath("softer.wav")));
    WaitUntil([&] { return log.ended(); });
    EXPECT_NEAR(levelprobe::measureWav(dir / "softer.wav").lufs, -20.0, 1.0);
    // The source of a 128 kb/s MP3 makes up for the 0.95 that LAME multiplies it by.
    renderer.setMp3Settings(encoder::Mp3Settings{});
    log.entries.clear();
    ASSERT_TRUE(renderer.Render(dir.qpath("piano.mid"), dir.qpath("source.wav")));
    WaitUntil([&] { return log.ended(); });
    EXPECT_NEAR(levelprobe::measureWav(dir / "source.wav").lufs, -20.0 - 20 * std::log10(0.95),
                0.05);
    renderer.setMp3Settings(std::nullopt);
    EXPECT_EQ(workFiles(), 0);

    // Stopped, cancelled, or failed half-way, a render takes its work file with it.
    for (const char* end : {"stop", "cancel", "fail"}) {
        SCOPED_TRACE(end);
        log.entries.clear();
        std::optional<rendertest::FileSizeLimit> fullDisk;
        if (std::string(end) == "fail")
            fullDisk.emplace(256 * 1024);
        ASSERT_TRUE(renderer.Render(dir.qpath("long.mid"), dir.qpath("long.wav")));
        WaitUntil([&] { return !log.entries.isEmpty(); });
        if (std::string(end) == "fail") {
            WaitUntil([&] { return log.ended(); });
            EXPECT_TRUE(log.entries.last().startsWith("failed: writing " + dir.qpath("long.wav")))
                << log.entries.last().toStdString();
        } else {
            EXPECT_EQ(workFiles(), 1) << "the work file is in the work folder";
            if (std::string(end) == "stop")
                renderer.StopRender();
            else
                renderer.CancelRender();
        }
        EXPECT_EQ(workFiles(), 0);
        EXPECT_EQ(std::filesystem::exists(dir / "long.wav"), std::string(end) == "stop");
        std::filesystem::remove(dir / "long.wav");
    }
}

TEST(SynthRenderer, AWorkFolderThatIsGoneMeansTheFixedGainAndANotice) {
    TempFolder dir;
    midiwriter::save(dir / "piano.mid", rendertest::quietPianoLine());
    SynthRenderer renderer;
    setFormat(renderer, 22050, 16, 2);
    renderer.setWorkFolder(dir.qpath("gone"));
    Log log(renderer);
    ASSERT_TRUE(renderer.Render(dir.qpath("piano.mid"), dir.qpath("song.wav")))
        << renderer.errorText().toStdString();
    EXPECT_TRUE(renderer.noticeText().contains(dir.qpath("gone")))
        << renderer.noticeText().toStdString();
    WaitUntil([&] { return log.ended(); });
    EXPECT_EQ(log.entries.last(), "done");
    EXPECT_LT(levelprobe::measureWav(dir / "song.wav").lufs, -30.0);
    // One that fills up half-way (the work file takes twice the WAV's bytes) is told at the end.
    renderer.setWorkFolder(dir.qpath(""));
    {
        const rendertest::FileSizeLimit fillingUp(std::filesystem::file_size(dir / "song.wav") * 3 /
                                                  2);
        Log late(renderer);
        ASSERT_TRUE(renderer.Render(dir.qpath("piano.mid"), dir.qpath("late.wav")));
        WaitUntil([&] { return late.ended(); });
    }
    EXPECT_TRUE(renderer.noticeText().contains("ran out of room"));
    // The next render that can be levelled says nothing.
    renderer.setWorkFolder(dir.qpath(""));
    ASSERT_TRUE(renderer.Render(dir.qpath("piano.mid"), dir.qpath("song.wav")));
    EXPECT_EQ(renderer.noticeText(), "");
    renderer.CancelRender();
}

TEST(SynthRenderer, LoadsTheSoundFontOnceAndKeepsIt) {
    TempFolder dir;
    std::filesystem::copy_file(rendertest::kSoundFont, dir / "own.sf2");
    midiwriter::save(dir / "song.mid", rendertest::chordSong());
    SynthRenderer renderer;
    setFormat(renderer, 8000, 16, 1);
    renderer.setSoundFont(dir.qpath("own.sf2"));
    Log log(renderer);
    ASSERT_TRUE(renderer.Render(dir.qpath("song.mid"), dir.qpath("a.wav")));
    WaitUntil([&] { return log.ended(); });
    EXPECT_EQ(renderer.loadedSoundFont(), dir.qpath("own.sf2"));
    std::filesystem::remove(dir / "own.sf2");
    log.entries.clear();
    ASSERT_TRUE(renderer.Render(dir.qpath("song.mid"), dir.qpath("b.wav")))
        << renderer.errorText().toStdString();
    WaitUntil([&] { return log.ended(); });
    EXPECT_EQ(log.entries.last(), "done");
    EXPECT_GT(WavProbe::read(dir / "b.wav").peak(), 2000);
}
