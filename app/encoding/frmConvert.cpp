// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/encoding/frmConvert.h"

#include "app/decoration/Messages.h"
#include "app/decoration/Twips.h"
#include "app/encoding/EncoderProperties.h"
#include "app/settings/Settings.h"
#include "app/shared/ConversionState.h"
#include "app/shared/TempFiles.h"
#include "platform/MessageBox.h"

frmConvert::frmConvert(QWidget* owner, EncodingStageSetup setup)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint)
    , setup_(std::move(setup)) {
    setObjectName(QStringLiteral("frmConvert"));
    setWindowTitle(QStringLiteral("0%"));
    setFixedSize(TwipsToPixels(5445), TwipsToPixels(555));
    setModal(true);
    if (setup_.makeProgressBar)
        showPercent_ = setup_.makeProgressBar(this);
    MP3X = setup_.makeEncoder(this);
    connect(MP3X, &Mp3Encoder::Progress, this, &frmConvert::handleProgress);
    connect(MP3X, &Mp3Encoder::EncodeFailed, this, &frmConvert::handleFailure);
    Timer1.setSingleShot(true);
    Timer1.setTimerType(Qt::PreciseTimer);
    connect(&Timer1, &QTimer::timeout, this, &frmConvert::startEncoding);

    PutEncoderProperties(*MP3X, Settings());
    Timer1.setInterval(1000);
    Timer1.start();
}

frmConvert::~frmConvert() = default;

void frmConvert::startEncoding() {
    Timer1.stop();
    const QString target = setup_.targetPath();
    if (MP3X->EncodeFile(TempWavPath(), target)) {
        encoding_ = true;
        return;
    }
    RetryViaTemp();
}

void frmConvert::RetryViaTemp() {
    TempMp3Path() = NewTempPath(QStringLiteral(".mp3"));
    Mp3ViaTemp() = MP3X->EncodeFile(TempWavPath(), TempMp3Path());
    if (Mp3ViaTemp()) {
        encoding_ = true;
        return;
    }
    ShowError(this, QStringLiteral("Sorry, an unknow error occurred, please try to change \r\n"
                                   "the output file to another folder such as \"c:\\test.mp3\""));
    done(Rejected);
}

void frmConvert::handleProgress(qint16 percent, int) {
    if (showPercent_)
        showPercent_(percent);
    setWindowTitle(QString::number(percent) + QLatin1Char('%'));
    if (percent >= 100) {
        encoding_ = false;
        done(Accepted);
    }
}

void frmConvert::handleFailure(const QString& message) {
    encoding_ = false;
    Mp3ViaTemp() = false;
    ShowError(this, message);
    done(Rejected);
}

// Closing the window early abandons the encoding: the encoder removes its partial target, and
// nothing is left for the main window to copy. An encoding that has just completed is kept, and
// a complete fallback result is still copied to the target.
void frmConvert::reject() {
    Timer1.stop();
    if (encoding_) {
        encoding_ = false;
        if (!MP3X->Stop())
            Mp3ViaTemp() = false;
    }
    QDialog::reject();
}
