// The WAV-to-MP3 tool with a scripted encoder and the real Ombrel bar: the checks and their
// messages, the direct route, the fallback through temporary files and its delayed copy,
// closing mid-way, failures; and one real encoding of a generated WAV.
#include "app/decoration/ProgressBar.h"
#include "app/encoding/frmWav2Mp3.h"
#include "app/main/TempFiles.h"
#include "components/encoder/LameMp3Encoder.h"
#include "platform/Files.h"
#include "platform/control/Registry.h"
#include "tests/app/dialogs/DialogTestSupport.h"
#include "tests/components/encoder/Mp3Probe.h"
#include "tests/components/encoder/WavFixtures.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <memory>
#include <mpg123.h>
#include <unistd.h>

namespace {

using platform::MsgAnswer;

class Wav2Mp3Test : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        RegisterGauge();
        source = path("song.wav");
        WriteBytes(source, "RIFF wave data");
        target = path("song.mp3");
    }
    void open() {
        window = std::make_unique<frmWav2Mp3>(nullptr, RealButtons(), [this](QObject* parent) {
            encoder = new FakeEncoder(parent);
            return encoder;
        });
        window->show();
    }
    QString path(const char* name) const { return program.filePath(QString::fromLatin1(name)); }
    SkinButton* button(const char* name) {
        auto* found = window->findChild<SkinButton*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QLineEdit* box(const char* name) { return window->findChild<QLineEdit*>(name); }
    void click(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }
    void choose(const char* button, const QString& path) {
        dialogs.choices.push_back(path);
        click(button);
    }
    void convert(const QString& from, const QString& to) {
        choose("cmdWAV", from);
        choose("cmdMP3", to);
        click("cmdConvert");
    }
    ProgressBar* bar() { return window->findChild<ProgressBar*>("pbCur"); }
    int barValue() { return bar()->value(); }
    bool idle() {
        return button("cmdConvert")->isEnabled() && button("cmdConvert")->foreColor() == 0xFF0000u;
    }
    bool busy() {
        return !button("cmdConvert")->isEnabled() &&
               button("cmdConvert")->foreColor() == platform::ColourGreyText;
    }
    static QStringList workFiles() { return platform::FindFiles(WindowsFolder() + "/*"); }

    QString source;
    QString target;
    FakeEncoder* encoder = nullptr;
    std::unique_ptr<frmWav2Mp3> window;
};

TEST_F(Wav2Mp3Test, LoadPutsTheMp3SettingsInOrderAndPlacesTheBar) {
    startProgram("[MP3]\nBitrate=192\nMp3Channels=1\nVBR=True\nMinBitrate=64\nMaxBitrate=256\n");
    open();
    const std::vector<std::pair<QString, int>> expected = {{"VbrMode", 1},
                                                           {"BitRateKbps", 192},
                                                           {"ChannelMode", 1},
                                                           {"MaxBitRateKbps", 256},
                                                           {"MinBitRateKbps", 64}};
    EXPECT_EQ(encoder->puts, expected);
    EXPECT_EQ(window->windowTitle(), "Convert WAV to MP3");
    EXPECT_EQ(window->size(), QSize(385, 174));
    ASSERT_NE(bar(), nullptr);
    EXPECT_TRUE(bar()->hasControl());
    EXPECT_EQ(bar()->geometry(), QRect(16, 128, 281, 21));
    EXPECT_EQ(barValue(), 0);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(idle());
}

TEST_F(Wav2Mp3Test, ChecksComeInOrderAndNoKeepsTheExistingTarget) {
    open();
    click("cmdConvert");
    choose("cmdWAV", "   ");
    click("cmdConvert");
    choose("cmdWAV", path("missing.wav"));
    click("cmdConvert");
    choose("cmdMP3", target);
    click("cmdConvert");
    choose("cmdWAV", source);
    WriteBytes(target, "keep me");
    boxes.answers = {MsgAnswer::No};
    click("cmdConvert");
    EXPECT_EQ(texts(), (QStringList{"Please open a WAV file!", "Please open a WAV file!",
                                    "Please enter an MP3 file name to save!",
                                    "The below file is not existing:\r\n" + path("missing.wav"),
                                    "The below file is already existed,\r\nDo you want to "
                                    "overwrite it?\r\n" +
                                        target}));
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(boxes.shown[i].icon, platform::MsgIcon::Critical);
        EXPECT_EQ(boxes.shown[i].caption, "Quillory");
    }
    EXPECT_EQ(boxes.shown[4].buttons, platform::MsgButtons::YesNo);
    EXPECT_EQ(boxes.shown[4].icon, platform::MsgIcon::Question);
    EXPECT_TRUE(encoder->calls.empty());
    EXPECT_EQ(ReadBytes(target), "keep me");
    EXPECT_TRUE(idle());

    boxes.answers = {MsgAnswer::Yes};
    click("cmdConvert");
    ASSERT_EQ(encoder->calls.size(), 1u);
    EXPECT_EQ(encoder->calls[0], std::make_pair(source, target));
    EXPECT_EQ(ReadBytes(target), "partial") << "Yes deleted the old target before encoding";
}

TEST_F(Wav2Mp3Test, FileDialogsAskForTheirTypeAndCancelKeepsThePath) {
    open();
    choose("cmdWAV", source);
    choose("cmdMP3", target);
    dialogs.choices = {std::nullopt, std::nullopt};
    click("cmdWAV");
    click("cmdMP3");
    EXPECT_EQ(box("txtWAV")->text(), source);
    EXPECT_EQ(box("txtMP3")->text(), target);
    const auto& requests = dialogs.requests;
    EXPECT_EQ(requests[0].kind, platform::FileDialogKind::Open);
    EXPECT_EQ(requests[0].filter, "WAV Files(*.wav)|*.wav");
    EXPECT_EQ(requests[0].flags, 0x281001);
    EXPECT_EQ(requests[1].kind, platform::FileDialogKind::Save);
    EXPECT_EQ(requests[1].filter, "MP3 Files(*.mp3)|*.mp3");
    EXPECT_EQ(requests[1].flags, 0x280002);
    EXPECT_TRUE(requests[1].fileName.isEmpty());
}

TEST_F(Wav2Mp3Test, DirectRouteRunsSeveralTimesAndTheBarWaitsForTheFirstProgress) {
    open();
    convert(source, target);
    EXPECT_TRUE(busy());
    EXPECT_TRUE(window->isEncoding());
    encoder->progress(40);
    EXPECT_EQ(barValue(), 40);
    EXPECT_EQ(window->windowTitle(), "Convert WAV to MP3") << "the caption does not follow";
    encoder->progress(99);
    EXPECT_TRUE(busy());
    encoder->finish();
    EXPECT_TRUE(idle());
    EXPECT_EQ(barValue(), 100);

    const QString second = path("second.mp3");
    choose("cmdMP3", second);
    click("cmdConvert");
    EXPECT_EQ(encoder->calls.back(), std::make_pair(source, second));
    EXPECT_EQ(barValue(), 100) << "a new conversion does not reset the bar";
    encoder->progress(3);
    EXPECT_EQ(barValue(), 3);
    encoder->finish();
    EXPECT_EQ(ReadBytes(second), FakeEncoder::Result);
    EXPECT_TRUE(idle());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(Wav2Mp3Test, FallbackCopiesTheResultAboutOneSecondAfterTheEnd) {
    open();
    encoder->answers = {false, true};
    convert(source, target);
    ASSERT_EQ(encoder->calls.size(), 2u);
    const auto [copy, encoded] = encoder->calls[1];
    EXPECT_EQ(copy, WindowsFolder() + "/__qlr_1.wav");
    EXPECT_EQ(encoded, WindowsFolder() + "/__qlr_1.mp3");
    EXPECT_EQ(ReadBytes(copy), ReadBytes(source));
    EXPECT_TRUE(busy());
    encoder->finish();
    QElapsedTimer sinceEnd;
    sinceEnd.start();
    EXPECT_TRUE(busy()) << "the copy is still to come";
    EXPECT_FALSE(QFile::exists(target));
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(target); }, 5000));
    EXPECT_GE(sinceEnd.elapsed(), 900);
    EXPECT_EQ(ReadBytes(target), FakeEncoder::Result);
    EXPECT_TRUE(idle());
    EXPECT_TRUE(workFiles().isEmpty()) << workFiles().join(' ').toStdString();
}

TEST_F(Wav2Mp3Test, TargetChosenDuringTheFallbackReceivesTheResult) {
    open();
    encoder->answers = {false, true};
    convert(source, target);
    const QString other = path("other.mp3");
    choose("cmdMP3", other);
    encoder->finish();
    ASSERT_TRUE(WaitUntil([&] { return idle(); }, 5000));
    EXPECT_EQ(ReadBytes(other), FakeEncoder::Result);
    EXPECT_FALSE(QFile::exists(target));
}

TEST_F(Wav2Mp3Test, BothRefusalsGiveTheEncodersReasonAndLeaveNothing) {
    open();
    encoder->answers = {false, false};
    encoder->error = "The source is not a WAV file.";
    convert(source, target);
    EXPECT_EQ(texts(), QStringList{"Unknow error!\r\nThe source is not a WAV file."});
    EXPECT_TRUE(idle());
    EXPECT_TRUE(workFiles().isEmpty());
    EXPECT_FALSE(QFile::exists(target));
}

TEST_F(Wav2Mp3Test, UnreadableSourceIsReportedWithTheFirstReason) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads any file";
    open();
    QFile::setPermissions(source, QFileDevice::WriteOwner);
    encoder->answers = {false};
    encoder->error = "The WAV file cannot be read.";
    convert(source, target);
    EXPECT_EQ(encoder->calls.size(), 1u) << "no copy, so no second call";
    EXPECT_EQ(texts(), QStringList{"Unknow error!\r\nThe WAV file cannot be read."});
    EXPECT_TRUE(idle());
    EXPECT_TRUE(workFiles().isEmpty());
}

TEST_F(Wav2Mp3Test, FailedCopyIsReportedAndTheResultKept) {
    open();
    encoder->answers = {false, true};
    const QString unreachable = path("no such folder/song.mp3");
    convert(source, unreachable);
    encoder->finish();
    ASSERT_TRUE(WaitUntil([&] { return idle(); }, 5000));
    const QString kept = WindowsFolder() + "/song.mp3";
    EXPECT_EQ(texts(), QStringList{"The MP3 file could not be copied to:\r\n" + unreachable +
                                   "\r\nIt has been kept as:\r\n" + kept});
    EXPECT_EQ(ReadBytes(kept), FakeEncoder::Result);
    DeleteTempFiles();
    EXPECT_TRUE(QFile::exists(kept)) << "the main window's clean-up leaves it alone";
}

TEST_F(Wav2Mp3Test, ClosingStopsTheEncodingOrMakesThePendingCopy) {
    open();
    convert(source, target);
    window->close();
    EXPECT_EQ(encoder->stops, 1);
    EXPECT_FALSE(window->isEncoding());
    EXPECT_FALSE(QFile::exists(target)) << "the stopped encoding's partial file is gone";

    open();
    encoder->answers = {false, true};
    convert(source, target);
    encoder->finish();
    window->reject();
    EXPECT_EQ(encoder->stops, 0) << "a finished encoding is not stopped";
    EXPECT_EQ(ReadBytes(target), FakeEncoder::Result) << "closing makes the pending copy at once";
    EXPECT_TRUE(workFiles().isEmpty());
}

TEST_F(Wav2Mp3Test, FailureHalfWayIsReportedAndTheToolIsIdleAgain) {
    open();
    convert(source, target);
    encoder->progress(30);
    encoder->fail("The WAV file ends early.");
    EXPECT_EQ(texts(), QStringList{"The WAV file ends early."});
    EXPECT_TRUE(idle());
    EXPECT_FALSE(window->isEncoding());
    window->close();
    EXPECT_EQ(encoder->stops, 0);
}

TEST_F(Wav2Mp3Test, WithoutTheBarTheToolSaysHowToRegisterItAndStillConverts) {
    QFile::remove(platform::control::ControlRegistryPath());
    open();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].text.contains("Ombrel.OmbrelGauge"))
        << boxes.shown[0].text.toStdString();
    EXPECT_FALSE(bar()->hasControl());
    convert(source, target);
    encoder->progress(50);
    encoder->finish();
    EXPECT_TRUE(idle());
}

// The real encoder on a generated WAV: the tool's settings reach the MP3, decoded independently.
class Wav2Mp3EndToEnd : public Wav2Mp3Test {
protected:
    void openWithRealEncoder() {
        window = std::make_unique<frmWav2Mp3>(
            nullptr, RealButtons(), [](QObject* parent) { return new LameMp3Encoder(parent); });
        window->show();
    }
};

TEST_F(Wav2Mp3EndToEnd, EncodesAGeneratedWavWithTheMp3Settings) {
    startProgram("[MP3]\nBitrate=96\nMp3Channels=2\n");
    openWithRealEncoder();
    const QString wav = path("tone.wav");
    const std::int64_t frames = fixtures::writeWav(wav.toStdString(), {44100, 2, 0, 0.5});
    convert(wav, target);
    ASSERT_TRUE(WaitUntil([&] { return idle(); })) << texts().join('|').toStdString();
    EXPECT_EQ(barValue(), 100);
    const fixtures::Mp3Facts mp3 = fixtures::probeMp3(target.toStdString());
    ASSERT_TRUE(mp3.decoded) << mp3.error;
    EXPECT_EQ(mp3.rate, 44100);
    EXPECT_EQ(mp3.channels, 1);
    EXPECT_EQ(mp3.modes, std::set<int>{MPG123_M_MONO});
    EXPECT_EQ(mp3.minKbps, 96);
    EXPECT_EQ(mp3.maxKbps, 96);
    EXPECT_NEAR(double(mp3.samples), double(frames), fixtures::samplesPerFrame(44100));
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(Wav2Mp3EndToEnd, NotAWavGetsTheEncodersReasonAndLeavesNothing) {
    openWithRealEncoder();
    convert(source, target);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].text.startsWith("Unknow error!\r\n"));
    EXPECT_GT(boxes.shown[0].text.size(), QString("Unknow error!\r\n").size());
    EXPECT_FALSE(QFile::exists(target));
    EXPECT_TRUE(workFiles().isEmpty());
}

TEST_F(Wav2Mp3EndToEnd, UnwritableTargetGoesThroughTheFallbackAndReportsTheCopy) {
    openWithRealEncoder();
    const QString wav = path("tone.wav");
    fixtures::writeWav(wav.toStdString(), {22050, 1, 0, 0.3});
    const QString unreachable = path("missing/out.mp3");
    convert(wav, unreachable);
    ASSERT_TRUE(WaitUntil([&] { return !boxes.shown.empty() && idle(); }));
    const QString kept = WindowsFolder() + "/out.mp3";
    EXPECT_EQ(texts(), QStringList{"The MP3 file could not be copied to:\r\n" + unreachable +
                                   "\r\nIt has been kept as:\r\n" + kept});
    EXPECT_TRUE(fixtures::probeMp3(kept.toStdString()).decoded);
}

} // namespace
