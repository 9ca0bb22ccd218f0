// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A main window on fake components, with scripted dialogs, message boxes and shell, its
// settings and work folder in temporary folders.
#pragma once

#include "app/main/frmMain.h"
#include "components/button/DappletButton.h"
#include "components/button/SkinButton.h"
#include "tests/support/FakeComponents.h"
#include "tests/support/Fakes.h"
#include "tests/support/GaugeRegistration.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

class MainWindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(RegisterBuiltGauge());
        open();
    }

    void open() {
        window.reset();
        MainWindowSetup setup;
        setup.programFolder = program.path();
        setup.makeButton = [](QWidget* parent) -> SkinButton* { return new DappletButton(parent); };
        setup.makeRenderer = [this](QObject* parent) -> Renderer* {
            renderer = new FakeRenderer(parent);
            return renderer;
        };
        setup.makeEncoder = [this](QObject* parent) -> Mp3Encoder* {
            encoder = new FakeEncoder(parent, encoderLog);
            if (prepareEncoder)
                prepareEncoder(*encoder);
            return encoder;
        };
        setup.userAway = [this] { return away; };
        if (realRenderer)
            setup.makeRenderer = realRenderer;
        if (realEncoder)
            setup.makeEncoder = realEncoder;
        window = std::make_unique<frmMain>(std::move(setup));
    }
    template <typename T = QWidget>
    T* control(const char* name) {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    SkinButton* button(const char* name) { return control<SkinButton>(name); }
    void click(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }
    QString text(const char* name) { return control<QLabel>(name)->text(); }
    QString target() { return control<QLineEdit>("txtSave")->text(); }
    bool mp3() { return control<QRadioButton>("optMP3")->isChecked(); }
    bool wav() { return control<QRadioButton>("OptWAV")->isChecked(); }
    void chooseSource(const QString& path) {
        dialogs.choices.push_back(path);
        click("cmdOpen");
    }
    void chooseTarget(const QString& path) {
        dialogs.choices.push_back(path);
        click("cmdSave");
    }

    ScopedUserFolders folders;
    QTemporaryDir program;
    FakeMessageBoxes boxes;
    FakeFileDialogs dialogs;
    FakeShell shell;
    // Whether the user is in another program when a run ends.
    bool away = false;
    QPointer<FakeRenderer> renderer;
    QPointer<FakeEncoder> encoder;
    EncoderLog encoderLog;
    std::function<void(FakeEncoder&)> prepareEncoder;
    // Set before SetUp to run the window on real components instead of the fakes.
    RendererFactory realRenderer;
    EncoderFactory realEncoder;
    std::unique_ptr<frmMain> window;
};
