// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The MP3 encoder as the encoding windows use it: five settings, one call per file,
// progress on the UI thread with 100 last, once the target is complete and closed.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class Mp3Encoder : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Mp3Encoder() override = default;

    virtual void setVbrMode(int mode) = 0; // 0 constant, 1 variable bit rate
    virtual void setBitRateKbps(int kbps) = 0;
    virtual void setChannelMode(int mode) = 0; // 0 stereo, 1 joint, 2 mono, 3 dual channel
    virtual void setMaxBitRateKbps(int kbps) = 0;
    virtual void setMinBitRateKbps(int kbps) = 0;

    // True when encoding has started; false when the source is no readable WAV or the target
    // cannot be created (errorText() says why).
    virtual bool EncodeFile(const QString& wavPath, const QString& mp3Path) = 0;
    // Stops a running encoding and removes its partial target. An encoding that has already
    // completed, its 100 still on the way, is kept whole at its target instead: then true. Either
    // way no notification follows.
    virtual bool Stop() = 0;
    virtual QString errorText() const = 0;
    // What the last encoding had to say about its source (data missing past the end of the
    // file, say); empty when there was nothing to tell.
    virtual QString warningText() const { return QString(); }

signals:
    void Progress(qint16 percent, int unused);
    // An encoding that failed half-way; the partial target has been removed.
    void EncodeFailed(const QString& message);
};

// How windows make their encoder; it lives and dies with the window that made it.
using EncoderFactory = std::function<Mp3Encoder*(QObject* parent)>;
