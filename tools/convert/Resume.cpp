// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "tools/convert/Resume.h"

#include "components/midi/MidiFile.h"
#include "components/output/PartFile.h"
#include "components/synthesis/SongTail.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

#include <fstream>
#include <sndfile.h>

namespace convert {

namespace fs = std::filesystem;

namespace {

// An MP3 or an Opus file decodes a few milliseconds longer or shorter than what was coded.
constexpr double kCodingSlack = 0.1;

QString pathText(const fs::path& path) {
    return QString::fromLocal8Bit(path.string());
}

// The length of a sound file as libsndfile decodes it; negative when it cannot be read.
double soundSeconds(const fs::path& file) {
    SF_INFO info{};
    SNDFILE* sound = sf_open(file.c_str(), SFM_READ, &info);
    if (sound == nullptr)
        return -1;
    sf_close(sound);
    return info.samplerate > 0 ? double(info.frames) / double(info.samplerate) : -1;
}

// The input's own time and the longest ring after it: a song's total time and tail, a WAV's
// length and nothing. Negative when the input cannot be read.
std::pair<double, double> inputTime(const Job& job) {
    if (job.from == InputType::Wav)
        return {soundSeconds(job.input), 0.0};
    try {
        const auto song = quillory::renderer::MidiFile::read(job.input);
        return {song.lengthMs() / 1000.0, double(quillory::renderer::SongTail::kLongestSeconds)};
    } catch (const std::exception&) {
        return {-1, 0};
    }
}

// The SoundFonts' SHA-256 in order: a line written before stacks could be played names one.
QStringList hashes(const QJsonArray& soundFonts) {
    QStringList all;
    for (const QJsonValue& soundFont : soundFonts)
        all.append(soundFont.toObject().value("sha256").toString());
    return all;
}

QStringList hashes(const QJsonObject& line) {
    return line.contains("soundfonts") ? hashes(line.value("soundfonts").toArray())
                                       : hashes(QJsonArray{line.value("soundfont")});
}

} // namespace

bool lengthAgrees(double seconds, double inputSeconds, double longestTail) {
    return inputSeconds >= 0 && seconds >= inputSeconds - kCodingSlack &&
           seconds <= inputSeconds + longestTail + kCodingSlack;
}

Resume::Resume(QJsonObject settings, QJsonArray soundFonts, const fs::path& report)
    : settings_(std::move(settings))
    , soundFonts_(std::move(soundFonts)) {
    std::ifstream lines(report, std::ios::binary);
    for (std::string line; std::getline(lines, line);) {
        // A run killed while it wrote leaves a last line cut short, which parses as nothing.
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        if (o.value("status").toString() == "ok")
            okLines_[o.value("output").toString()] = o;
    }
}

bool Resume::reportedOk(const Job& job) const {
    const auto found = okLines_.find(pathText(job.output));
    if (found == okLines_.end())
        return false;
    const QJsonObject& line = found->second;
    return line.value("settings").toObject() == settings_ &&
           (job.from != InputType::Midi || hashes(line) == hashes(soundFonts_));
}

std::string Resume::complete(Job& job) const {
    quillory::output::sweepParts(job.output.parent_path());
    std::error_code ec;
    if (!fs::is_regular_file(job.output, ec))
        return {};
    if (reportedOk(job))
        return "complete: an earlier run converted it with the same settings";
    const auto [seconds, tail] = inputTime(job);
    if (lengthAgrees(soundSeconds(job.output), seconds, tail))
        return "complete: its length agrees with the input's";
    job.replace = true;
    return {};
}

} // namespace convert
