// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The renderer the main window drives: runs a RenderJob on a worker thread and raises the
// contract's notifications on the thread that owns this object, through its event queue.
// The worker only renders; the WAV is completed and put at its target (or dropped) on the
// owner's thread, so a stop, a cancel and the end never race over the file.
// The SoundFont is loaded at the first render and kept for the next ones. A finished WAV is
// flushed to disk by the worker before it is put in place; a stopped one is put in place at once
// and flushed right after on a thread of its own, so that neither a Stop nor the end waits on
// the disk. A WAV in the work folder (the one the encoding stage reads) is not flushed at all.
//
// Songs are evened out to -16 LUFS unless told otherwise, in two passes over one synthesis with
// the work file in the work folder. A stop must leave at once what was rendered so far, but the
// levelled WAV only exists after the whole song was synthesised and measured; so while the song
// is synthesised the job also writes it at the fixed gain beside the target (a stoppable
// RenderJob), and a stop just closes that file, as quickly as a one-pass render would. It costs
// a dithered 16-bit write of every block, about 1 % of the synthesis, and no waiting anywhere.
#pragma once

#include "components/output/SoundWriter.h"
#include "components/renderer/Renderer.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace quillory::renderer {
class RenderJob;
class Synthesizer;
} // namespace quillory::renderer

class SynthRenderer : public Renderer {
    Q_OBJECT
public:
    // Frames per block: small enough that a stop takes effect well within 100 ms at any rate.
    static constexpr std::size_t kBlockFrames = 1024;

    explicit SynthRenderer(QObject* parent = nullptr);
    // Stops a running render; the WAV is closed with what was rendered.
    ~SynthRenderer() override;

    void setChannelCount(int channels) override;
    void setBitsPerSample(int bits) override;
    void setSampleRate(int rate) override;
    void setSoundFont(const QString& path) override;
    void setLoudness(const quillory::renderer::LoudnessChoice& loudness) override;
    void setMp3Settings(const std::optional<encoder::Mp3Settings>& settings) override;
    // Without a work folder, the system's temporary folder holds the work files.
    void setWorkFolder(const QString& folder) override;
    QString soundFont() const { return soundFont_; }
    // The SoundFont in use since the last successful Render; empty before.
    QString loadedSoundFont() const;

    bool Render(const QString& midiPath, const QString& wavPath) override;
    double GetTotalTime(const QString& unused) override;
    void StopRender() override;
    void CancelRender() override;
    QString errorText() const override { return errorText_; }
    QString noticeText() const override { return noticeText_; }

private:
    enum class Output { Keep, Drop };

    void startSynth();
    void runWorker(unsigned generation);
    void endRun();
    void endRender(Output output);
    void post(unsigned generation, std::function<void()> notify);
    void joinWorker();

    quillory::renderer::SoundFormat format_;
    quillory::renderer::LoudnessChoice loudness_;
    std::optional<encoder::Mp3Settings> mp3Settings_;
    QString soundFont_;
    QString workFolder_;
    QString errorText_;
    QString noticeText_;
    // Whether the render writes a work file in the work folder, which is never flushed to disk.
    bool scratch_ = false;
    double totalMs_ = 0;
    std::unique_ptr<quillory::renderer::Synthesizer> synth_;
    std::unique_ptr<quillory::renderer::RenderJob> job_;
    std::thread worker_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{true};
    // Why the worker's render failed; written by the worker before it ends, read once joined.
    std::string failure_;
    // Notifications of a render that was stopped or replaced are dropped on arrival.
    unsigned generation_ = 0;
};
