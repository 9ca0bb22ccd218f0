// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/encoder/LameMp3Encoder.h"

#include "components/encoder/Mp3FileEncoder.h"

#include "platform/Files.h"
#include "platform/ThreadName.h"

#include <QFile>
#include <QMetaObject>

#include <algorithm>
#include <filesystem>
#include <system_error>

LameMp3Encoder::LameMp3Encoder(QObject* parent)
    : Mp3Encoder(parent) {
}

LameMp3Encoder::~LameMp3Encoder() {
    Stop();
}

bool LameMp3Encoder::EncodeFile(const QString& wavPath, const QString& mp3Path) {
    if (running_) {
        error_ = QStringLiteral("An encoding is already running.");
        return false;
    }
    error_.clear();
    warning_.clear();
    auto job = std::make_unique<encoder::Mp3FileEncoder>();
    if (!job->open(platform::ToFsPath(wavPath), platform::ToFsPath(mp3Path), settings_)) {
        error_ = QString::fromStdString(job->error());
        return false;
    }
    warning_ = QString::fromStdString(job->warning());
    job_ = std::move(job);
    stopRequested_ = false;
    outcome_ = Outcome::Stopped;
    failure_.clear();
    const quint64 run = ++run_;
    try {
        worker_ = std::thread(&LameMp3Encoder::encodeOnWorker, this, run);
    } catch (const std::system_error& e) {
        job_.reset();
        error_ = QStringLiteral("The encoding could not be started: %1.").arg(e.what());
        return false;
    }
    running_ = true;
    return true;
}

bool LameMp3Encoder::Stop() {
    if (!running_)
        return false;
    stopRequested_ = true;
    worker_.join();
    // Finished but not yet announced: the MP3 is complete at its target and stays there.
    const bool completed = outcome_ == Outcome::Completed;
    job_.reset();
    running_ = false;
    ++run_;
    return completed;
}

void LameMp3Encoder::encodeOnWorker(quint64 run) {
    platform::NameThisThread("quillory-mp3");
    using Step = encoder::Mp3FileEncoder::Step;
    const std::int64_t total = job_->totalFrames();
    int lastPercent = -1;
    Step step = Step::More;
    while (step == Step::More) {
        if (stopRequested_) {
            job_->abandon();
            outcome_ = Outcome::Stopped;
            return;
        }
        step = job_->encodeBlock();
        // 100 is kept for the moment the file is complete and closed.
        const int percent =
            total > 0
                ? static_cast<int>(std::min<std::int64_t>(99, job_->framesDone() * 100 / total))
                : 0;
        if (step != Step::Failed && percent != lastPercent) {
            lastPercent = percent;
            QMetaObject::invokeMethod(
                this, [this, run, percent] { raiseProgress(run, percent); }, Qt::QueuedConnection);
        }
    }
    const bool completed = step == Step::End && job_->finish();
    outcome_ = completed ? Outcome::Completed : Outcome::Failed;
    if (!completed)
        failure_ = QString::fromStdString(job_->error());
    QMetaObject::invokeMethod(
        this, [this, run] { endRun(run); }, Qt::QueuedConnection);
}

void LameMp3Encoder::raiseProgress(quint64 run, int percent) {
    if (run == run_ && running_)
        emit Progress(static_cast<qint16>(percent), 0);
}

void LameMp3Encoder::endRun(quint64 run) {
    if (run != run_ || !running_)
        return;
    worker_.join();
    job_.reset();
    running_ = false;
    const QString failure = failure_;
    // Emitting is the last thing done here: a receiver may destroy this encoder in its handler.
    if (outcome_ == Outcome::Completed)
        emit Progress(100, 0);
    else
        emit EncodeFailed(failure);
}
