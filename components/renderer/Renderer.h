// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The MIDI renderer as the main window uses it: set the output format, start a render,
// read the song's length, stop, and hear about progress and the end on the UI thread.
#pragma once

#include "components/encoder/Mp3Plan.h"
#include "components/levelling/LoudnessChoice.h"

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class Renderer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Renderer() override = default;

    virtual void setChannelCount(int channels) = 0;
    virtual void setBitsPerSample(int bits) = 0;
    virtual void setSampleRate(int rate) = 0;
    // An empty path means the renderer's own search for a General MIDI SoundFont.
    virtual void setSoundFont(const QString& path) = 0;
    // Whether renders are evened out to a loudness target, or keep the synthesiser's fixed gain.
    virtual void setLoudness(const quillory::renderer::LoudnessChoice& loudness) = 0;
    // Settings when the WAV is only the source of an MP3 encoded with them, nothing for a WAV of
    // its own: an evened-out song is then made to sound right as the MP3.
    virtual void setMp3Settings(const std::optional<encoder::Mp3Settings>& settings) = 0;
    // The folder for the renderer's work files: this instance's private folder.
    virtual void setWorkFolder(const QString& folder) = 0;

    // Starts rendering midiPath into wavPath and returns while the work goes on.
    // False when the source cannot be read or the target cannot be created; errorText() says why.
    virtual bool Render(const QString& midiPath, const QString& wavPath) = 0;
    // The length in milliseconds of the file passed to the last Render; the argument is unused.
    virtual double GetTotalTime(const QString& unused) = 0;
    // Ends the running render, leaving a valid WAV of what was rendered; no end notification
    // follows.
    virtual void StopRender() = 0;
    // Ends the running render and drops its output: nothing of it is left at the target, and no
    // end notification follows. For a run that turned out to have nothing worth keeping.
    virtual void CancelRender() = 0;
    virtual QString errorText() const = 0;
    // What the user should know about the render started last although it runs: why it is not
    // evened out as asked, say. Empty when there is nothing to tell.
    virtual QString noticeText() const { return QString(); }

signals:
    void RenderProgress(qint16 percent);
    void RenderDone();
    void RenderEnded();
    // A render that failed half-way; the partial output has been removed.
    void RenderFailed(const QString& message);
};

using RendererFactory = std::function<Renderer*(QObject* parent)>;
