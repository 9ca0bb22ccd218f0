// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/renderer/SynthRenderer.h"

#include "components/midi/MidiFile.h"
#include "components/midi/SongTags.h"
#include "components/renderer/RenderJob.h"
#include "components/synthesis/SoundFontSearch.h"
#include "components/synthesis/Synthesizer.h"

#include "platform/Files.h"
#include "platform/ThreadName.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>

using namespace quillory::renderer;

SynthRenderer::SynthRenderer(QObject* parent)
    : Renderer(parent) {
}

SynthRenderer::~SynthRenderer() {
    endRender(Output::Keep);
}

void SynthRenderer::setChannelCount(int channels) {
    format_.channels = channels;
}
void SynthRenderer::setBitsPerSample(int bits) {
    format_.bitsPerSample = bits;
}
void SynthRenderer::setSampleRate(int rate) {
    format_.sampleRate = rate;
}
void SynthRenderer::setSoundFont(const QString& path) {
    soundFont_ = path;
}
void SynthRenderer::setLoudness(const LoudnessChoice& loudness) {
    loudness_ = loudness;
}
void SynthRenderer::setMp3Settings(const std::optional<encoder::Mp3Settings>& settings) {
    mp3Settings_ = settings;
}
void SynthRenderer::setWorkFolder(const QString& folder) {
    workFolder_ = folder;
}

QString SynthRenderer::loadedSoundFont() const {
    return synth_ ? QFile::decodeName(synth_->soundFont().string().c_str()) : QString();
}

double SynthRenderer::GetTotalTime(const QString&) {
    return totalMs_;
}

// Keeps the loaded SoundFont as long as the same one is asked for.
void SynthRenderer::startSynth() {
    std::filesystem::path wanted =
        soundFont_.isEmpty()
            ? findSoundFont(platform::ToFsPath(QCoreApplication::applicationDirPath()))
            : platform::ToFsPath(soundFont_);
    if (wanted.empty())
        throw SynthError("no General MIDI SoundFont was found: put a .sf2 file beside the program "
                         "or install one (the Debian package fluid-soundfont-gm, for example)");
    if (!synth_ || synth_->soundFont() != wanted) {
        synth_.reset();
        synth_ = std::make_unique<Synthesizer>(wanted, format_.sampleRate);
    }
}

bool SynthRenderer::Render(const QString& midiPath, const QString& wavPath) {
    if (worker_.joinable() && !done_) {
        errorText_ = QStringLiteral("a render is already running");
        return false;
    }
    // A render that ended but was not announced yet is kept, as a stop would keep it.
    endRender(Output::Keep);
    errorText_.clear();
    noticeText_.clear();
    failure_.clear();
    totalMs_ = 0;
    try {
        if (const std::string problem = format_.problem(); !problem.empty())
            throw RenderError(problem);
        MidiFile song = MidiFile::read(platform::ToFsPath(midiPath));
        const double length = song.lengthMs();
        startSynth();
        RenderOptions options;
        if (loudness_.even)
            options.loudness = LoudnessTarget{.lufs = loudness_.lufs};
        options.mp3Source = mp3Settings_;
        options.workFolder = platform::ToFsPath(workFolder_);
        options.tags = songTags(song);
        options.stoppable = true;
        options.stop = &stop_;
        job_ = std::make_unique<RenderJob>(std::move(song), *synth_, platform::ToFsPath(wavPath),
                                           format_, std::move(options));
        scratch_ = !workFolder_.isEmpty() && QFileInfo(wavPath).absoluteDir() == QDir(workFolder_);
        noticeText_ = QString::fromStdString(job_->notice());
        totalMs_ = length;
    } catch (const std::exception& e) {
        job_.reset();
        errorText_ = QString::fromStdString(e.what());
        return false;
    }
    stop_ = false;
    done_ = false;
    worker_ = std::thread(&SynthRenderer::runWorker, this, generation_);
    return true;
}

void SynthRenderer::StopRender() {
    endRender(Output::Keep);
}

void SynthRenderer::CancelRender() {
    endRender(Output::Drop);
}

// Ends the worker, silences the notifications still queued, and settles the file: a valid WAV of
// what was rendered at the target, or nothing at all.
void SynthRenderer::endRender(Output output) {
    stop_ = true;
    joinWorker();
    ++generation_;
    if (!job_)
        return;
    // The user waits on a Stop: the WAV is in place at once and reaches the disk right after.
    if (output == Output::Keep && failure_.empty()) {
        try {
            job_->close(scratch_ ? quillory::output::Flush::Never
                                 : quillory::output::Flush::Afterwards);
        } catch (const std::exception&) {
            job_->discard();
        }
    } else {
        job_->discard();
    }
    job_.reset();
}

void SynthRenderer::joinWorker() {
    if (worker_.joinable())
        worker_.join();
}

void SynthRenderer::post(unsigned generation, std::function<void()> notify) {
    QMetaObject::invokeMethod(
        this,
        [this, generation, notify = std::move(notify)] {
            if (generation == generation_)
                notify();
        },
        Qt::QueuedConnection);
}

void SynthRenderer::runWorker(unsigned generation) {
    platform::NameThisThread("quillory-render");
    int shown = -1;
    try {
        while (!stop_ && !job_->finished()) {
            job_->render(kBlockFrames);
            // 100 waits until the file is complete and at its target.
            const int percent = std::min(job_->percent(), 99);
            if (percent != shown) {
                shown = percent;
                post(generation, [this, percent] { emit RenderProgress(qint16(percent)); });
            }
        }
        // Here rather than on the owner's thread, which puts the file in place and would freeze
        // the window while the disk catches up.
        if (!stop_ && !scratch_)
            job_->sync();
    } catch (const std::exception& e) {
        failure_ = e.what();
    }
    done_ = true;
    // A stopped or cancelled render is settled by whoever stopped it.
    if (!stop_)
        post(generation, [this] { endRun(); });
}

// The end of a render that ran its course, on the owner's thread: the WAV is completed and put
// at its target before 100 and the end are announced.
void SynthRenderer::endRun() {
    joinWorker();
    // A work folder that filled up half-way turned the song to the fixed gain.
    noticeText_ = QString::fromStdString(job_->notice());
    std::string failure = failure_;
    if (failure.empty()) {
        try {
            job_->close(scratch_ ? quillory::output::Flush::Never : quillory::output::Flush::First);
        } catch (const std::exception& e) {
            failure = e.what();
        }
    }
    if (!failure.empty())
        job_->discard();
    job_.reset();
    if (!failure.empty()) {
        emit RenderFailed(QString::fromStdString(failure));
        return;
    }
    // A receiver of the 100 may stop or replace the render, or even destroy the renderer.
    const QPointer<SynthRenderer> self(this);
    const unsigned generation = generation_;
    emit RenderProgress(100);
    if (self && generation == generation_)
        emit RenderDone();
}
