// Shared by the dialog tests: a scripted encoder, the real Ombrel library registered in the
// test's private control registry, waiting on the event loop, and the settings file of a test.
#pragma once

#include "app/encoding/Mp3Encoder.h"
#include "app/settings/Settings.h"
#include "app/settings/SoundFontSetting.h"
#include "components/button/DappletButton.h"
#include "platform/control/Com.h"
#include "tests/support/Fakes.h"
#include "tests/support/FileHelpers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLibrary>
#include <QStringList>
#include <QThread>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

// Plays the encoder: accepts or refuses each EncodeFile as scripted, and raises Progress when
// the test says so. Finishing writes a small file at the target, as a real encoding would.
class FakeEncoder final : public Mp3Encoder {
public:
    using Mp3Encoder::Mp3Encoder;

    void setVbrMode(int mode) override { puts.push_back({"VbrMode", mode}); }
    void setBitRateKbps(int kbps) override { puts.push_back({"BitRateKbps", kbps}); }
    void setChannelMode(int mode) override { puts.push_back({"ChannelMode", mode}); }
    void setMaxBitRateKbps(int kbps) override { puts.push_back({"MaxBitRateKbps", kbps}); }
    void setMinBitRateKbps(int kbps) override { puts.push_back({"MinBitRateKbps", kbps}); }

    bool EncodeFile(const QString& wavPath, const QString& mp3Path) override {
        calls.push_back({wavPath, mp3Path});
        const bool accepted = answers.empty() || answers.front();
        if (!answers.empty())
            answers.pop_front();
        if (accepted)
            WriteBytes(mp3Path, "partial");
        return accepted;
    }
    void Stop() override {
        ++stops;
        QFile::remove(calls.back().second);
    }
    QString errorText() const override { return error; }

    void progress(qint16 percent) { emit Progress(percent, 0); }
    void finish() {
        WriteBytes(calls.back().second, Result);
        progress(100);
    }
    void fail(const QString& message) {
        QFile::remove(calls.back().second);
        emit EncodeFailed(message);
    }

    static inline const QByteArray Result = "an encoded MP3";
    std::vector<std::pair<QString, int>> puts;
    std::deque<bool> answers; // empty: every call is accepted
    std::vector<std::pair<QString, QString>> calls;
    int stops = 0;
    QString error;
};

inline ButtonFactory RealButtons() {
    return [](QWidget* parent) -> SkinButton* { return new DappletButton(parent); };
}

inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return done();
}

// Registers the freshly built Ombrel library where this process's control registry is now
// (ScopedUserFolders moves it into the test's folder).
inline void RegisterGauge() {
    QLibrary library(QStringLiteral(QUILLORY_OMBREL_LIBRARY));
    ASSERT_TRUE(library.load()) << qPrintable(library.errorString());
    const auto registerServer = reinterpret_cast<platform::control::DllRegisterServerFn>(
        library.resolve("DllRegisterServer"));
    ASSERT_NE(registerServer, nullptr);
    ASSERT_TRUE(platform::control::Succeeded(registerServer()));
}

// Every test starts like a fresh program whose settings file is options.ini in program.
class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(program.isValid());
        startProgram();
    }
    void startProgram(const QByteArray& options = QByteArray()) {
        if (!options.isNull())
            WriteBytes(program.filePath("options.ini"), options);
        Settings() = SettingsRecord{};
        SetDefaultSettings();
        SetSettingsPath(program.filePath("options.ini"));
        LoadSettings();
        LoadSoundFontPath();
    }
    QByteArray optionsFile() const { return ReadBytes(program.filePath("options.ini")); }
    QStringList texts() const {
        QStringList shown;
        for (const auto& box : boxes.shown)
            shown << box.text;
        return shown;
    }

    ScopedUserFolders folders;
    QTemporaryDir program;
    FakeMessageBoxes boxes;
    FakeFileDialogs dialogs;
    FakeShell shell;
};
