// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Fake renderer and encoder for window tests: they record what the window asked and let the
// test raise their notifications at the moment it chooses.
#pragma once

#include "components/encoder/Mp3Encoder.h"
#include "components/renderer/Renderer.h"
#include "tests/support/FileHelpers.h"

#include <QFile>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <utility>
#include <vector>

class FakeRenderer final : public Renderer {
public:
    using Renderer::Renderer;

    void setChannelCount(int channels) override {
        calls << QString("ChannelCount=%1").arg(channels);
    }
    void setBitsPerSample(int bits) override { calls << QString("BitsPerSample=%1").arg(bits); }
    void setSampleRate(int rate) override { calls << QString("SampleRate=%1").arg(rate); }
    void setSoundFont(const QString& path) override { soundFont = path; }
    void setLoudness(const quillory::renderer::LoudnessChoice& choice) override {
        loudness = choice;
    }
    void setMp3Settings(const std::optional<encoder::Mp3Settings>& settings) override {
        mp3Settings = settings;
    }
    void setWorkFolder(const QString& folder) override { workFolder = folder; }
    QString noticeText() const override { return notice; }
    bool Render(const QString& midi, const QString& wav) override {
        calls << "Render " + midi + " -> " + wav;
        lastTarget = wav;
        if (!accept)
            return false;
        if (createTarget)
            WriteBytes(wav, "RIFF");
        return true;
    }
    double GetTotalTime(const QString&) override { return totalMs; }
    void StopRender() override { calls << "StopRender"; }
    // Drops the output, as the real renderer does.
    void CancelRender() override {
        calls << "CancelRender";
        QFile::remove(lastTarget);
    }
    QString errorText() const override { return error; }

    QStringList calls;
    QString lastTarget;
    QString soundFont;
    quillory::renderer::LoudnessChoice loudness = quillory::renderer::LoudnessChoice::off();
    std::optional<encoder::Mp3Settings> mp3Settings;
    QString workFolder;
    QString notice;
    double totalMs = 125000;
    bool accept = true;
    bool createTarget = true;
    QString error = QStringLiteral("The renderer refused the file.");
};

// What a fake encoder was asked and saw; kept outside the encoder, which dies with its window.
struct EncoderLog {
    QStringList calls;
    std::vector<std::pair<QString, QString>> encodes;
    QStringList titles;
};

class FakeEncoder final : public Mp3Encoder {
public:
    FakeEncoder(QObject* parent, EncoderLog& log)
        : Mp3Encoder(parent)
        , log(log) {}

    void setVbrMode(int mode) override { log.calls << QString("VbrMode=%1").arg(mode); }
    void setBitRateKbps(int kbps) override { log.calls << QString("BitRateKbps=%1").arg(kbps); }
    void setChannelMode(int mode) override { log.calls << QString("ChannelMode=%1").arg(mode); }
    void setMaxBitRateKbps(int kbps) override {
        log.calls << QString("MaxBitRateKbps=%1").arg(kbps);
    }
    void setMinBitRateKbps(int kbps) override {
        log.calls << QString("MinBitRateKbps=%1").arg(kbps);
    }
    bool EncodeFile(const QString& wav, const QString& mp3) override {
        log.encodes.push_back({wav, mp3});
        const bool ok = results.empty() ? true : results.front();
        if (!results.empty())
            results.pop_front();
        if (ok) {
            WriteBytes(mp3, "ID3");
            QTimer::singleShot(0, this, [this] { playScript(0); });
        }
        return ok;
    }
    bool Stop() override {
        log.calls << "Stop";
        return completeOnStop;
    }
    QString errorText() const override { return QStringLiteral("refused"); }
    QString warningText() const override { return warning; }

    // Raises the scripted percentages one event-loop turn apart, noting the window's caption
    // before each and after the last.
    void playScript(std::size_t step) {
        if (step >= script.size())
            return;
        log.titles << windowTitle();
        emit Progress(script[step], 0);
        if (step + 1 == script.size())
            log.titles << windowTitle();
        else
            QTimer::singleShot(0, this, [this, step] { playScript(step + 1); });
    }
    QString windowTitle() const {
        const auto* window = qobject_cast<const QWidget*>(parent());
        return window ? window->windowTitle() : QString();
    }

    EncoderLog& log;
    // One answer per EncodeFile call; true once they run out.
    std::deque<bool> results;
    std::vector<qint16> script{57, 100};
    QString warning;
    // Whether Stop finds the encoding already complete, its 100 not yet raised.
    bool completeOnStop = false;
};
