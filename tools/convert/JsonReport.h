// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The report that --report asks for: one JSON object per input, a line each (JSON Lines), written
// as each input ends and flushed at once, so that a batch that is killed keeps the lines of what
// it finished and a later run can tell what is done. QJsonDocument writes them. Each line holds
// the input and output, the status ("ok", "failed", "interrupted", or "skipped" for what a later
// run leaves as it is) with the error, the song's length, what the loudness pass measured and the
// gain (or "off"), every setting used, the SoundFont with its size and SHA-256, the versions of
// the libraries and of Quillory, the stems with their programs, the frames written, and the wall
// and processor time. Called from every worker thread.
#pragma once

#include "tools/convert/ConvertSettings.h"
#include "tools/convert/Converter.h"
#include "tools/convert/Plan.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

namespace convert {

// What every line of a batch shares.
struct RunFacts {
    QJsonObject settings;
    QJsonArray soundFonts; // each SoundFont's object, in order; empty when no input is MIDI
    QJsonObject versions;
};

// The settings as the report names them: the output type and everything that shapes it.
QJsonObject settingsObject(const ConvertSettings& settings);
// The SoundFont's path, size and SHA-256 (read once, whole).
QJsonObject soundFontObject(const std::filesystem::path& soundFont);
// The same for each SoundFont of a stack, in order.
QJsonArray soundFontObjects(const quillory::renderer::SoundFontStack& soundFonts);
QJsonObject versionsObject(const std::string& quilloryVersion);

class JsonReport {
public:
    // "-" is standard output. Null, with the reason in error, when the file cannot be written.
    // Appending keeps the lines of earlier runs (--resume), after a last line that a killed run
    // cut short.
    static std::unique_ptr<JsonReport> open(const std::filesystem::path& path, RunFacts facts,
                                            std::string& error, bool append = false);
    ~JsonReport();
    JsonReport(const JsonReport&) = delete;
    JsonReport& operator=(const JsonReport&) = delete;

    void finished(const Job& job, const Outcome& outcome, double wallSeconds);
    // A file the batch never began, because it was interrupted.
    void notStarted(const Job& job);
    // A file left as it is (its output is already complete), and why.
    void skipped(const Job& job, const std::string& reason);
    // Why a line could not be written (a full disk), once one could not; empty while all were.
    std::string failure() const;

private:
    JsonReport(std::FILE* file, std::string name, bool owned, RunFacts facts);
    QJsonObject line(const Job& job, const char* status) const;
    void write(const QJsonObject& line);

    mutable std::mutex mutex_;
    std::FILE* file_;
    std::string name_; // as messages name the report
    bool owned_;
    RunFacts facts_;
    std::string failure_;
};

} // namespace convert
