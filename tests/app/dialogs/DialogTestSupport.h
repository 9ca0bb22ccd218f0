// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Shared by the dialog tests: real skinned buttons, waiting on the event loop, and a fixture
// that starts each test like a fresh program with its own settings file and answered dialogs.
#pragma once

#include "app/settings/RendererChoices.h"
#include "app/settings/Settings.h"
#include "components/button/DappletButton.h"
#include "tests/support/Fakes.h"
#include "tests/support/FileHelpers.h"
#include "tests/support/QtPrinting.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>

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

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(program.isValid());
        startProgram();
    }
    // Start-up as the main window does it, with options as the settings file when given.
    void startProgram(const QByteArray& options = QByteArray()) {
        if (!options.isNull())
            WriteBytes(program.filePath("options.ini"), options);
        Settings() = SettingsRecord{};
        SetDefaultSettings();
        SetSettingsPath(program.filePath("options.ini"));
        LoadSettings();
        LoadSoundFontPath();
        LoadLoudness();
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
    FakeSleepInhibitor holds;
};
