// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The program's MP3 encoder: the Mp3Encoder interface over the LAME engine. EncodeFile opens
// both files at once, so every refusal is immediate, then encodes on a worker thread; Progress
// and EncodeFailed arrive queued on the thread that owns the encoder, 100 only after the MP3 is
// complete, closed and at its target. Stopping, or destroying the encoder while it works, waits
// for the worker and removes the partial MP3; a complete one is never removed.
#pragma once

#include "components/encoder/Mp3Encoder.h"
#include "components/encoder/Mp3Plan.h"

#include <QString>

#include <atomic>
#include <memory>
#include <thread>

namespace encoder {
class Mp3FileEncoder;
}

class LameMp3Encoder final : public Mp3Encoder {
    Q_OBJECT
public:
    explicit LameMp3Encoder(QObject* parent = nullptr);
    ~LameMp3Encoder() override;

    void setVbrMode(int mode) override { settings_.vbrMode = mode; }
    void setBitRateKbps(int kbps) override { settings_.bitRateKbps = kbps; }
    void setChannelMode(int mode) override { settings_.channelMode = mode; }
    void setMaxBitRateKbps(int kbps) override { settings_.maxBitRateKbps = kbps; }
    void setMinBitRateKbps(int kbps) override { settings_.minBitRateKbps = kbps; }

    bool EncodeFile(const QString& wavPath, const QString& mp3Path) override;
    bool Stop() override;
    QString errorText() const override { return error_; }

    // What the user should know about the source of the encoding started last although it could
    // be encoded (a data chunk running past the end of the file, say); empty when nothing.
    QString warningText() const override { return warning_; }
    // From a successful EncodeFile until its 100 or EncodeFailed has been raised.
    bool isEncoding() const { return running_; }

private:
    enum class Outcome { Completed, Failed, Stopped };

    void encodeOnWorker(quint64 run);
    void raiseProgress(quint64 run, int percent);
    void endRun(quint64 run);

    encoder::Mp3Settings settings_;
    QString error_;
    QString warning_;

    // One run is one accepted EncodeFile; queued notifications of an earlier run are dropped.
    quint64 run_ = 0;
    bool running_ = false;
    std::unique_ptr<encoder::Mp3FileEncoder> job_;
    std::thread worker_;
    std::atomic<bool> stopRequested_{false};
    // Written by the worker before it ends, read once it has been joined.
    Outcome outcome_ = Outcome::Stopped;
    QString failure_;
};
