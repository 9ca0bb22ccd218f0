// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The MP3 encoding stage: a small window that waits a second, encodes the rendered temporary
// WAV into the target (or, when the encoder refuses the target, into a temporary MP3 that the
// main window copies afterwards), follows the encoder's progress, and closes itself at 100.
#pragma once

#include "components/encoder/Mp3Encoder.h"

#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <functional>

struct EncodingStageSetup {
    EncoderFactory makeEncoder;
    // The target as the main window holds it at the moment encoding starts.
    std::function<QString()> targetPath;
    // Creates the window's progress bar and returns how to put a percentage into it;
    // empty when no bar can be had.
    std::function<std::function<void(std::int16_t)>(QWidget* window)> makeProgressBar;
};

class frmConvert : public QDialog {
    Q_OBJECT
public:
    frmConvert(QWidget* owner, EncodingStageSetup setup);
    ~frmConvert() override;

    void RetryViaTemp();

public slots:
    void reject() override;

private:
    void startEncoding();
    void handleProgress(qint16 percent, int unused);
    void handleFailure(const QString& message);

    EncodingStageSetup setup_;
    QTimer Timer1;
    Mp3Encoder* MP3X = nullptr;
    std::function<void(std::int16_t)> showPercent_;
    bool encoding_ = false;
};
