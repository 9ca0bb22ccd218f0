// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Runs a small program that writes one output with a real component, and kills it with SIGKILL
// half-way, as a crash or a power cut would: no handler, no destructor, no clean-up runs. The
// program prints one line per progress report on stdout.
#pragma once

#include "components/output/OutputFile.h"

#include <QProcess>
#include <QStringList>
#include <algorithm>
#include <gtest/gtest.h>

// Succeeds when the program had reported progress, and so was writing, and was still running
// when it was killed.
inline ::testing::AssertionResult KillAfterFirstProgress(const QString& program,
                                                         const QStringList& args) {
    QProcess child;
    child.start(program, args);
    if (!child.waitForStarted(10000))
        return ::testing::AssertionFailure() << "it did not start";
    while (!child.canReadLine()) {
        if (!child.waitForReadyRead(30000))
            return ::testing::AssertionFailure()
                   << "no progress: " << child.readAllStandardError().toStdString();
    }
    const QByteArray line = child.readLine();
    const bool running = child.state() == QProcess::Running;
    child.kill();
    child.waitForFinished(10000);
    if (!line.startsWith("progress") || !running)
        return ::testing::AssertionFailure() << "it ended by itself: " << line.toStdString();
    return ::testing::AssertionSuccess();
}

// Succeeds when a killed child's hidden file lay in folder until the next output was written
// there, and no longer.
inline ::testing::AssertionResult SweptAtTheNextWrite(const std::filesystem::path& folder) {
    const auto parts = [&] {
        return std::count_if(std::filesystem::directory_iterator(folder), {},
                             [](const auto& entry) { return entry.path().extension() == ".part"; });
    };
    const auto before = parts();
    quillory::output::OutputFile(folder / "next").create();
    if (before > 0 && parts() == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << before << " hidden files before, " << parts() << " after";
}
