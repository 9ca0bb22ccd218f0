// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The WAV-to-MP3 tool: encodes a WAV file the user picks into an MP3 file with the current MP3
// settings. When the encoder refuses the chosen paths, it encodes a temporary copy of the source
// into a temporary MP3 and copies that to the target a second after it is finished.
#pragma once

#include "app/decoration/Surface.h"
#include "components/button/SkinButton.h"
#include "components/encoder/Mp3Encoder.h"

#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <memory>

class QLineEdit;
class ProgressBar;

namespace platform {
class Inhibition;
}

class frmWav2Mp3 : public QDialog {
    Q_OBJECT
public:
    frmWav2Mp3(QWidget* owner, ButtonFactory makeButton, EncoderFactory makeEncoder);
    ~frmWav2Mp3() override;

    void RetryViaTemp(const QString& sourceWav);
    // A WAV file given from outside the Open dialog: named to the program or dropped here.
    void setSource(const QString& path);

    // Closing stops a running encoding (its partial target goes with it) and makes a pending
    // copy at once.
    void done(int result) override;

    const Surface& surface() const { return surface_; }
    bool isEncoding() const { return encoding_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createControls(const ButtonFactory& makeButton);
    void connectControls();
    void setTabOrder();
    void load();

    void chooseSource();
    void chooseTarget();
    void convert();
    void startedEncoding();
    void endedEncoding();
    void takeDropped(const QStringList& files);
    void showProgress(qint16 percent, int unused);
    void encodingFailed(const QString& message);
    void Timer1_Timer();
    void copyResult();
    QString inUserTerms(const QString& encoderText) const;

    Surface surface_;
    Mp3Encoder* MP3X_ = nullptr;
    QTimer Timer1_;

    QString SourceCopyPath;
    QString EncodedTempPath;
    bool EncodingViaTemp = false;
    // The user's source behind SourceCopyPath, and what the encoder had to say about it, shown
    // once the result has been copied.
    QString retriedSource_;
    QString pendingWarning_;
    // From an accepted EncodeFile until its 100 or its failure.
    bool encoding_ = false;
    // Keeps the session awake until the result is at its target.
    std::unique_ptr<platform::Inhibition> awake_;

    ProgressBar* pbCur_ = nullptr;
    QLineEdit* txtWAV_ = nullptr;
    QLineEdit* txtMP3_ = nullptr;
    SkinButton* cmdWAV_ = nullptr;
    SkinButton* cmdMP3_ = nullptr;
    SkinButton* cmdConvert_ = nullptr;
};
