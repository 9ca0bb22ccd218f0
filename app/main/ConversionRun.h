// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The conversion controller of the main window: the checks before a run, the renderer, the
// progress display, and the hand-over to the MP3 encoding stage at the end.
#pragma once

#include "components/renderer/Renderer.h"

#include <QObject>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

namespace platform {
class Inhibition;
}

class QLabel;
class QLineEdit;
class QRadioButton;
class QWidget;
class SkinButton;

// The main-window controls a run reads and changes.
struct ConversionControls {
    QWidget* window = nullptr;
    QLineEdit* txtOpen = nullptr;
    QLineEdit* txtSave = nullptr;
    QRadioButton* optMP3 = nullptr;
    QRadioButton* optWAV = nullptr;
    SkinButton* cmdConfigure = nullptr;
    SkinButton* cmdOpen = nullptr;
    SkinButton* cmdSave = nullptr;
    SkinButton* cmdConvert = nullptr;
    std::array<SkinButton*, 5> cmd{};
    QLabel* lNow = nullptr;
    QLabel* lTotal = nullptr;
    // Puts the rendered percentage into the progress bar, when the window has one.
    std::function<void(std::int16_t percent)> showPercent;
    // Opens the MP3 encoding stage modally and returns when it has closed.
    std::function<void()> runEncodingStage;
    // Whether the user is in another program, to be told by a notification when the run ends.
    std::function<bool()> userAway;
};

class ConversionRun : public QObject {
    Q_OBJECT
public:
    ConversionRun(ConversionControls controls, Renderer* renderer, QObject* parent = nullptr);
    ~ConversionRun() override;

    bool converting() const { return converting_; }
    std::int64_t totalMs() const { return totalMs_; }

    // What the Convert/Stop button does.
    void toggle();
    void StartConversion();
    void StopConversion();

private:
    bool checkPaths();
    bool confirmOverwrite(const QString& target);
    void ApplyRenderFormat(bool mp3);
    void SetControlsEnabled(bool enabled);
    void ShowEnabledColour(SkinButton* button);
    void enterIdle();
    void showTotal();
    void failRun(const QString& message);

    void handleProgress(qint16 percent);
    void handleEnd();
    void showNotice();
    void handleFailure(const QString& message);
    void FinishConversion();
    void copyFallbackResult();
    enum class RunEnd { Finished, Stopped, Failed };
    void endRun(RunEnd how);

    ConversionControls c_;
    Renderer* rendler1_;
    bool converting_ = false;
    bool runIsMp3_ = false;
    std::int64_t totalMs_ = 0;
    // What the renderer had to say about the run, told when it has ended.
    QString notice_;
    // Keeps the session awake from the start of a run to its very end, the MP3 stage included.
    std::unique_ptr<platform::Inhibition> awake_;
    bool started_ = false;
};
