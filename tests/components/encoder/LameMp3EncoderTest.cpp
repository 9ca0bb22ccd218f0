// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The encoder as the windows use it: immediate refusals with a reason and no file, progress on
// the UI thread with 100 last and only for a complete, closed file, several runs in a row, stop,
// destruction mid-run, a failure half-way, and a killed encoding that leaves no half file.
#include "components/encoder/LameMp3Encoder.h"
#include "components/encoder/WavSource.h"
#include "tests/components/encoder/Mp3Probe.h"
#include "tests/components/encoder/WavFixtures.h"

#include "tests/support/EventWait.h"
#include "tests/support/KilledChild.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Whether any descriptor of this process still refers to the file.
bool isOpenHere(const fs::path& file) {
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd", ec)) {
        const fs::path target = fs::read_symlink(fd.path(), ec);
        if (!ec && target == file)
            return true;
    }
    return false;
}

struct Events {
    std::vector<int> percents;
    std::vector<QString> failures;
    bool ended() const {
        return !failures.empty() || (!percents.empty() && percents.back() == 100);
    }
};

class LameMp3EncoderTest : public ::testing::Test {
protected:
    QString path(const char* name) const { return dir_.filePath(name); }
    fs::path fsPath(const char* name) const { return fs::path(path(name).toStdString()); }

    void record(Mp3Encoder& encoder, Events& events) {
        QObject::connect(&encoder, &Mp3Encoder::Progress, &encoder,
                         [&events](qint16 percent, int) { events.percents.push_back(percent); });
        QObject::connect(&encoder, &Mp3Encoder::EncodeFailed, &encoder,
                         [&events](const QString& message) { events.failures.push_back(message); });
    }

    QStringList filesInDir() const { return QDir(dir_.path()).entryList(QDir::Files); }

    QTemporaryDir dir_;
};

TEST_F(LameMp3EncoderTest, ProgressClimbsToHundredOnlyOnceTheFileIsCompleteAndClosed) {
    const std::int64_t frames = fixtures::writeWav(fsPath("in.wav"), {.seconds = 3});
    LameMp3Encoder encoder;
    Events events;
    record(encoder, events);
    fixtures::Mp3Facts atHundred;
    bool openAtHundred = true;
    QObject::connect(&encoder, &Mp3Encoder::Progress, &encoder, [&](qint16 percent, int) {
        if (percent == 100) {
            openAtHundred = isOpenHere(fsPath("out.mp3"));
            atHundred = fixtures::probeMp3(fsPath("out.mp3"));
        }
    });

    ASSERT_TRUE(encoder.EncodeFile(path("in.wav"), path("out.mp3")))
        << encoder.errorText().toStdString();
    EXPECT_TRUE(encoder.isEncoding());
    ASSERT_TRUE(WaitUntil([&] { return events.ended(); }));
    ProcessEventsFor(100);

    ASSERT_TRUE(events.failures.empty()) << events.failures.front().toStdString();
    ASSERT_GE(events.percents.size(), 5u);
    EXPECT_EQ(events.percents.back(), 100);
    for (std::size_t i = 1; i < events.percents.size(); ++i)
        EXPECT_LT(events.percents[i - 1], events.percents[i]);
    EXPECT_GE(events.percents.front(), 0);
    EXPECT_FALSE(openAtHundred);
    EXPECT_TRUE(atHundred.decoded) << atHundred.error;
    EXPECT_EQ(atHundred.headerLength, frames);
    EXPECT_EQ(atHundred.samples, frames);
    EXPECT_FALSE(encoder.isEncoding());
}

TEST_F(LameMp3EncoderTest, RunsSeveralEncodingsInARowStartingEachFromTheHundredHandler) {
    const std::int64_t frames = fixtures::writeWav(fsPath("in.wav"), {.seconds = 0.5});
    LameMp3Encoder encoder;
    encoder.setChannelMode(2);
    const QStringList targets{path("a.mp3"), path("b.mp3"), path("c.mp3")};
    int finished = 0;
    QObject::connect(&encoder, &Mp3Encoder::Progress, &encoder, [&](qint16 percent, int) {
        if (percent == 100 && ++finished < targets.size()) {
            EXPECT_TRUE(encoder.EncodeFile(path("in.wav"), targets[finished]))
                << encoder.errorText().toStdString();
        }
    });
    ASSERT_TRUE(encoder.EncodeFile(path("in.wav"), targets[0]));
    ASSERT_TRUE(WaitUntil([&] { return finished == targets.size(); }));
    for (const QString& target : targets) {
        const fixtures::Mp3Facts mp3 = fixtures::probeMp3(target.toStdString());
        EXPECT_TRUE(mp3.decoded) << mp3.error;
        EXPECT_EQ(mp3.samples, frames);
        EXPECT_EQ(mp3.channels, 1);
    }
}

TEST_F(LameMp3EncoderTest, RefusesASecondFileWhileOneIsEncoding) {
    fixtures::writeWav(fsPath("in.wav"), {.seconds = 2});
    LameMp3Encoder encoder;
    Events events;
    record(encoder, events);
    ASSERT_TRUE(encoder.EncodeFile(path("in.wav"), path("first.mp3")));
    EXPECT_FALSE(encoder.EncodeFile(path("in.wav"), path("second.mp3")));
    EXPECT_TRUE(encoder.errorText().contains("already running"));
    ASSERT_TRUE(WaitUntil([&] { return events.ended(); }));
    EXPECT_EQ(events.percents.back(), 100);
    EXPECT_FALSE(QFile::exists(path("second.mp3")));
}

TEST_F(LameMp3EncoderTest, StopRemovesThePartialFileAndSilencesTheRun) {
    fixtures::writeWav(fsPath("in.wav"), {.seconds = 20});
    LameMp3Encoder encoder;
    Events events;
    record(encoder, events);
    ASSERT_TRUE(encoder.EncodeFile(path("in.wav"), path("out.mp3")));
    ASSERT_TRUE(WaitUntil([&] { return !events.percents.empty(); }));
    EXPECT_FALSE(encoder.Stop()) << "an unfinished encoding is not complete";
    EXPECT_FALSE(encoder.isEncoding());
    EXPECT_FALSE(QFile::exists(path("out.mp3")));
    const std::size_t seen = events.percents.size();
    ProcessEventsFor(300);
    EXPECT_EQ(events.percents.size(), seen);
    EXPECT_LT(events.percents.back(), 100);
    EXPECT_TRUE(events.failures.empty());

    // The same instance takes the next file.
    events.percents.clear();
    ASSERT_TRUE(encoder.EncodeFile(path("in.wav"), path("again.mp3")));
    ASSERT_TRUE(WaitUntil([&] { return events.ended(); }, 60000));
    EXPECT_EQ(events.percents.back(), 100);
}

TEST_F(LameMp3EncoderTest, StopBeforeTheHundredIsRaisedKeepsAFinishedFileAndSaysSo) {
    const std::int64_t frames = fixtures::writeWav(fsPath("in.wav"), {});
    LameMp3Encoder encoder;
    Events events;
    record(encoder, events);
    ASSERT_TRUE(encoder.EncodeFile(path("in.wav"), path("out.mp3")));
    QThread::msleep(500); // the worker finishes; its notifications wait in the queue
    EXPECT_TRUE(encoder.Stop());
    ProcessEventsFor(100);
    EXPECT_TRUE(events.percents.empty());
    const fixtures::Mp3Facts mp3 = fixtures::probeMp3(fsPath("out.mp3"));
    EXPECT_TRUE(mp3.decoded) << mp3.error;
    EXPECT_EQ(mp3.samples, frames);
}

TEST_F(LameMp3EncoderTest, DestroyingTheEncoderMidRunJoinsAndRemovesThePartialFile) {
    fixtures::writeWav(fsPath("in.wav"), {.seconds = 20});
    Events events;
    {
        LameMp3Encoder encoder;
        record(encoder, events);
        ASSERT_TRUE(encoder.EncodeFile(path("in.wav"), path("out.mp3")));
        ASSERT_TRUE(WaitUntil([&] { return !events.percents.empty(); }));
    }
    EXPECT_FALSE(QFile::exists(path("out.mp3")));
    ProcessEventsFor(100);
}

TEST_F(LameMp3EncoderTest, AKilledEncodingLeavesNothingOrTheFileItWasToReplace) {
    fixtures::writeWav(fsPath("in.wav"), {.seconds = 60});
    fixtures::writeBytes(fsPath("old.mp3"), {'o', 'l', 'd'});
    for (const char* target : {"new.mp3", "old.mp3"}) {
        SCOPED_TRACE(target);
        EXPECT_TRUE(KillAfterFirstProgress(ENCODE_CHILD, {path("in.wav"), path(target)}));
    }
    EXPECT_FALSE(QFile::exists(path("new.mp3")));
    EXPECT_EQ(QFileInfo(path("old.mp3")).size(), 3);
    EXPECT_TRUE(SweptAtTheNextWrite(fsPath("")));
}

TEST_F(LameMp3EncoderTest, MayBeDestroyedInsideItsHundredHandler) {
    fixtures::writeWav(fsPath("in.wav"), {.seconds = 0.5});
    auto* encoder = new LameMp3Encoder;
    bool destroyed = false;
    QObject::connect(encoder, &QObject::destroyed, [&] { destroyed = true; });
    QObject::connect(encoder, &Mp3Encoder::Progress, encoder, [encoder](qint16 percent, int) {
        if (percent == 100)
            delete encoder;
    });
    ASSERT_TRUE(encoder->EncodeFile(path("in.wav"), path("out.mp3")));
    ASSERT_TRUE(WaitUntil([&] { return destroyed; }));
    ProcessEventsFor(100);
    EXPECT_TRUE(fixtures::probeMp3(fsPath("out.mp3")).decoded);
}

TEST_F(LameMp3EncoderTest, AFailureHalfWayIsReportedAndLeavesNoFile) {
    fixtures::writeWav(fsPath("in.wav"), {.seconds = 20});
    // A file-size limit makes the disk "full" for this process after 100 kB.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

    LameMp3Encoder encoder;
    Events events;
    record(encoder, events);
    const bool started = encoder.EncodeFile(path("in.wav"), path("out.mp3"));
    const bool ended = started && WaitUntil([&] { return events.ended(); });
    setrlimit(RLIMIT_FSIZE, &saved);

    ASSERT_TRUE(started) << encoder.errorText().toStdString();
    ASSERT_TRUE(ended);
    ASSERT_EQ(events.failures.size(), 1u);
    EXPECT_TRUE(events.failures.front().contains("out.mp3"))
        << events.failures.front().toStdString();
    EXPECT_TRUE(events.percents.empty() || events.percents.back() < 100);
    EXPECT_FALSE(QFile::exists(path("out.mp3")));
    EXPECT_FALSE(encoder.isEncoding());
}

TEST_F(LameMp3EncoderTest, DataRunningPastTheEndOfTheFileIsEncodedWithAWarning) {
    fixtures::RawWav wav;
    wav.data.assign(44100 * 4 / 2, 0); // half a second of 16-bit stereo silence
    wav.declaredDataBytes = 44100 * 4 * 10;
    fixtures::writeBytes(fsPath("cut.wav"), fixtures::rawWavBytes(wav));

    LameMp3Encoder encoder;
    Events events;
    record(encoder, events);
    ASSERT_TRUE(encoder.EncodeFile(path("cut.wav"), path("out.mp3")));
    EXPECT_TRUE(encoder.warningText().contains("more audio than the file holds"))
        << encoder.warningText().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return events.ended(); }));
    EXPECT_EQ(events.percents.back(), 100);
    EXPECT_EQ(fixtures::probeMp3(fsPath("out.mp3")).samples, 44100 / 2);

    fixtures::writeWav(fsPath("whole.wav"), {});
    events.percents.clear();
    ASSERT_TRUE(encoder.EncodeFile(path("whole.wav"), path("whole.mp3")));
    EXPECT_TRUE(encoder.warningText().isEmpty());
    ASSERT_TRUE(WaitUntil([&] { return events.ended(); }));
}

// A WAV written to a pipe carries a streaming size where its length would go (ours and ffmpeg's
// 0xFFFFFFFF, sox's 0x7FFFF000), and an odd chunk of 8-bit mono may end without its pad byte:
// neither is a damaged file, while a chunk cut short still is.
TEST_F(LameMp3EncoderTest, AStreamingSizeOrAnOddChunkIsNoDamageButACutChunkIs) {
    const auto warningOf = [&](const fixtures::RawWav& wav, std::int64_t frames) {
        fixtures::writeBytes(fsPath("in.wav"), fixtures::rawWavBytes(wav));
        std::string error;
        const auto source = encoder::WavSource::openFile(fsPath("in.wav"), error);
        EXPECT_TRUE(source) << error;
        EXPECT_EQ(source ? source->frames() : -1, frames);
        return source ? source->warning() : error;
    };
    fixtures::RawWav stream;
    stream.data.assign(4000, 0);
    for (const std::uint32_t declared : {0xFFFFFFFFu, 0x7FFFF000u}) {
        stream.declaredDataBytes = declared;
        EXPECT_EQ(warningOf(stream, 1000), "") << declared;
    }
    stream.declaredDataBytes = 8000;
    EXPECT_NE(warningOf(stream, 1000).find("declares more audio"), std::string::npos);
    fixtures::RawWav odd;
    odd.channels = 1;
    odd.bits = 8;
    odd.data.assign(1001, 128);
    odd.declaredDataBytes = 1001;
    EXPECT_EQ(warningOf(odd, 1001), "");
}

// A folder this process cannot create files in. Root ignores permission bits, so for root the
// sysfs root stands in: it accepts no new files from anyone.
QString readOnlyFolder(const QTemporaryDir& dir) {
    const QString folder = dir.filePath("locked");
    QDir().mkdir(folder);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QFile probe(folder + "/probe");
    if (!probe.open(QIODevice::WriteOnly))
        return folder;
    probe.remove();
    return QStringLiteral("/sys");
}

TEST_F(LameMp3EncoderTest, RefusesBadInputAtOnceWithAReasonAndNoFile) {
    fixtures::writeWav(fsPath("good.wav"), {});
    fixtures::RawWav raw;
    raw.data.assign(4000, 0);
    raw.declaredDataBytes = 4000;
    fixtures::RawWav noChannels = raw;
    noChannels.channels = 0;
    fixtures::writeBytes(fsPath("no-channels.wav"), fixtures::rawWavBytes(noChannels));
    fixtures::RawWav noRate = raw;
    noRate.rate = 0;
    fixtures::writeBytes(fsPath("no-rate.wav"), fixtures::rawWavBytes(noRate));
    const auto whole = fixtures::rawWavBytes(raw);
    fixtures::writeBytes(fsPath("truncated.wav"), {whole.begin(), whole.begin() + 30});
    fixtures::writeBytes(fsPath("text.wav"), {'n', 'o', 't', ' ', 'a', ' ', 'W', 'A', 'V'});
    fixtures::writeBytes(fsPath("empty.wav"), {});
    fixtures::writeWav(fsPath("ima.wav"), {.format = SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM});
    fixtures::writeWav(fsPath("ms.wav"), {.format = SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM});
    fixtures::writeWav(fsPath("alaw.wav"), {.format = SF_FORMAT_WAV | SF_FORMAT_ALAW});
    fixtures::writeWav(fsPath("six.wav"), {.channels = 6});
    fixtures::writeWav(fsPath("aiff.wav"), {.format = SF_FORMAT_AIFF | SF_FORMAT_PCM_16});
    fixtures::writeWav(fsPath("slow.wav"), {.rate = 500});
    QDir().mkdir(path("folder.mp3"));
    const QString locked = readOnlyFolder(dir_);

    struct Case {
        QString source, target, reason;
    } const cases[] = {
        {path("missing.wav"), path("out.mp3"), "does not exist"},
        {path("no-channels.wav"), path("out.mp3"), "Channel count is zero"},
        {path("no-rate.wav"), path("out.mp3"), "sample rate of 0 Hz"},
        {path("truncated.wav"), path("out.mp3"), "Cannot read"},
        {path("text.wav"), path("out.mp3"), "Cannot read"},
        {path("empty.wav"), path("out.mp3"), "Cannot read"},
        {path("ima.wav"), path("out.mp3"), "IMA ADPCM"},
        {path("ms.wav"), path("out.mp3"), "Microsoft ADPCM"},
        {path("alaw.wav"), path("out.mp3"), "A-Law"},
        {path("six.wav"), path("out.mp3"), "6 channels"},
        {path("aiff.wav"), path("out.mp3"), "is not a WAV file"},
        {path("slow.wav"), path("out.mp3"), "500 Hz"},
        {dir_.path(), path("out.mp3"), "is not a file"},
        {path("good.wav"), path("no-such-folder/out.mp3"), "does not exist"},
        {path("good.wav"), locked + "/out.mp3", "Cannot create"},
        {path("good.wav"), path("folder.mp3"), "Cannot create"},
        {path("good.wav"), path("good.wav"), "its own source"},
    };
    const QStringList before = filesInDir();
    LameMp3Encoder encoder;
    Events events;
    record(encoder, events);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source.toStdString() + " -> " + c.target.toStdString());
        EXPECT_FALSE(encoder.EncodeFile(c.source, c.target));
        EXPECT_TRUE(encoder.errorText().contains(c.reason)) << encoder.errorText().toStdString();
        EXPECT_FALSE(encoder.isEncoding());
        EXPECT_FALSE(QFile::exists(c.target) && c.target != path("good.wav") &&
                     c.target != path("folder.mp3"));
    }
    ProcessEventsFor(50);
    EXPECT_EQ(filesInDir(), before);
    EXPECT_TRUE(events.percents.empty());
    EXPECT_TRUE(events.failures.empty());
}

} // namespace
