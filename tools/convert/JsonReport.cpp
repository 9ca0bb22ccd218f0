// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "tools/convert/JsonReport.h"

#include "components/encoder/Mp3Stream.h"
#include "components/output/SoundWriter.h"
#include "components/synthesis/FluidInstance.h"
#include "platform/ShownName.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <cerrno>
#include <cmath>
#include <cstring>

namespace convert {

using quillory::conversion::Facts;
using quillory::conversion::LabelForm;
using quillory::conversion::StemFact;

namespace {

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

QString pathText(const std::filesystem::path& path) {
    return QString::fromLocal8Bit(path.string());
}

// JSON has no infinity: a level that the meter found none of (silence) is null.
QJsonValue level(double db) {
    return std::isfinite(db) ? QJsonValue(db) : QJsonValue();
}

const char* typeName(OutputType type) {
    static const char* const names[] = {"wav", "flac", "ogg", "opus", "mp3"};
    return names[int(type)];
}

QJsonValue bitsValue(int bits) {
    if (bits == 0)
        return QJsonValue();
    return bits == quillory::renderer::SoundFormat::kFloatBits ? QJsonValue("32f")
                                                               : QJsonValue(bits);
}

QJsonObject mp3Object(const encoder::Mp3Settings& mp3) {
    static const char* const modes[] = {"stereo", "joint", "mono", "dual"};
    QJsonObject o{{"channel_mode", modes[std::clamp(mp3.channelMode, 0, 3)]}};
    if (mp3.vbrMode) {
        o["vbr_min_kbps"] = mp3.minBitRateKbps;
        o["vbr_max_kbps"] = mp3.maxBitRateKbps;
    } else {
        o["kbps"] = mp3.bitRateKbps;
    }
    return o;
}

QJsonObject loudnessObject(const Outcome& outcome) {
    const Facts& facts = outcome.facts;
    if (!facts.gainDb)
        return {};
    return {{"integrated_lufs", level(facts.loudness ? facts.loudness->integratedLufs : NAN)},
            {"true_peak_dbtp", level(facts.loudness ? facts.loudness->truePeakDbtp : NAN)},
            {"gain_db", *facts.gainDb}};
}

QJsonArray stemsArray(const Facts& facts) {
    QJsonArray stems;
    for (const StemFact& stem : facts.stems) {
        QJsonArray programs;
        for (const int program : stem.programs)
            programs.append(program);
        stems.append(QJsonObject{{"channel", stem.channel},
                                 {"name", text(stem.name)},
                                 {"file", pathText(stem.file)},
                                 {"drums", stem.drums},
                                 {"programs", programs}});
    }
    return stems;
}

} // namespace

QJsonObject settingsObject(const ConvertSettings& s) {
    const quillory::renderer::SoundFormat& f = s.sound;
    QJsonObject o{
        {"format", typeName(s.output)},
        {"loudness_lufs", s.loudness.even ? QJsonValue(s.loudness.lufs) : QJsonValue("off")},
        {"stems", s.stems}};
    if (s.labels)
        o["labels"] = *s.labels == LabelForm::Table ? "tsv" : "mir_eval";
    if (s.output == OutputType::Mp3) {
        o["sample_rate"] = s.mp3SynthRate;
        o["mp3"] = mp3Object(s.mp3);
        return o;
    }
    o["sample_rate"] = f.sampleRate;
    o["channels"] = f.channels;
    o["bits"] = bitsValue(
        f.integerPcm() || f.container == quillory::renderer::Container::Wav ? f.bitsPerSample : 0);
    if (s.output == OutputType::Vorbis)
        o["vorbis_quality"] = f.vorbisQuality;
    if (s.output == OutputType::Opus)
        o["opus_kbps"] = f.opusKbps;
    return o;
}

QJsonObject soundFontObject(const std::filesystem::path& soundFont) {
    QFile file(pathText(soundFont));
    QJsonObject o{{"path", pathText(soundFont)}};
    if (!file.open(QIODevice::ReadOnly))
        return o;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    o["bytes"] = double(file.size());
    o["sha256"] = QString::fromLatin1(hash.result().toHex());
    return o;
}

QJsonArray soundFontObjects(const quillory::renderer::SoundFontStack& soundFonts) {
    QJsonArray all;
    for (const std::filesystem::path& soundFont : soundFonts)
        all.append(soundFontObject(soundFont));
    return all;
}

QJsonObject versionsObject(const std::string& quilloryVersion) {
    return {{"quillory", text(quilloryVersion)},
            {"fluidsynth", text(quillory::renderer::fluidSynthVersion())},
            {"lame", text(encoder::lameVersion())},
            {"libsndfile", text(quillory::renderer::soundFileVersion())}};
}

std::unique_ptr<JsonReport> JsonReport::open(const std::filesystem::path& path, RunFacts facts,
                                             std::string& error, bool append) {
    if (path == "-")
        return std::unique_ptr<JsonReport>(
            new JsonReport(stdout, "standard output", false, std::move(facts)));
    std::FILE* file = std::fopen(path.c_str(), append ? "a+" : "w");
    if (!file) {
        error = "cannot write the report \"" + path.string() + "\": " + std::strerror(errno);
        return nullptr;
    }
    // A line cut short by a kill ends here, so that the next one starts on a line of its own.
    if (append && std::fseek(file, -1, SEEK_END) == 0) {
        const int last = std::fgetc(file);
        std::fseek(file, 0, SEEK_END);
        if (last != '\n')
            std::fputc('\n', file);
    }
    return std::unique_ptr<JsonReport>(
        new JsonReport(file, platform::Quoted(path), true, std::move(facts)));
}

JsonReport::JsonReport(std::FILE* file, std::string name, bool owned, RunFacts facts)
    : file_(file)
    , name_(std::move(name))
    , owned_(owned)
    , facts_(std::move(facts)) {
}

JsonReport::~JsonReport() {
    if (owned_)
        std::fclose(file_);
}

QJsonObject JsonReport::line(const Job& job, const char* status) const {
    QJsonObject o{{"input", pathText(job.input)},
                  {"output", pathText(job.output)},
                  {"status", status},
                  {"settings", facts_.settings},
                  {"versions", facts_.versions}};
    // "soundfont" is the first, as reports said before a stack could be played.
    if (job.from == InputType::Midi && !facts_.soundFonts.isEmpty()) {
        o["soundfont"] = facts_.soundFonts.first();
        o["soundfonts"] = facts_.soundFonts;
    }
    return o;
}

void JsonReport::finished(const Job& job, const Outcome& outcome, double wallSeconds) {
    const char* status = outcome.interrupted ? "interrupted" : outcome.ok ? "ok" : "failed";
    QJsonObject o = line(job, status);
    const Facts& facts = outcome.facts;
    o[outcome.ok ? "warning" : "error"] =
        outcome.message.empty() ? QJsonValue() : QJsonValue(text(outcome.message));
    o["seconds"] = facts.seconds;
    const QJsonObject loudness = loudnessObject(outcome);
    o["loudness"] = loudness.isEmpty() ? QJsonValue("off") : QJsonValue(loudness);
    if (outcome.ok) {
        o["written"] = QJsonObject{{"sample_rate", facts.sampleRate},
                                   {"channels", facts.channels},
                                   {"bits", bitsValue(facts.bitsPerSample)},
                                   {"frames", double(facts.frames)}};
        o["stems"] = stemsArray(facts);
        if (!facts.labelsFile.empty())
            o["labels"] = pathText(facts.labelsFile);
    }
    o["wall_seconds"] = wallSeconds;
    o["cpu_seconds"] = outcome.cpuSeconds;
    write(o);
}

void JsonReport::notStarted(const Job& job) {
    QJsonObject o = line(job, "interrupted");
    o["error"] = "not started";
    write(o);
}

void JsonReport::skipped(const Job& job, const std::string& reason) {
    QJsonObject o = line(job, "skipped");
    o["reason"] = text(reason);
    write(o);
}

void JsonReport::write(const QJsonObject& line) {
    const QByteArray bytes = QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    const std::lock_guard lock(mutex_);
    if (!failure_.empty())
        return;
    if (std::fwrite(bytes.data(), 1, std::size_t(bytes.size()), file_) !=
            std::size_t(bytes.size()) ||
        std::fflush(file_) != 0)
        failure_ = "writing the report " + name_ + " failed: " + std::strerror(errno);
}

std::string JsonReport::failure() const {
    const std::lock_guard lock(mutex_);
    return failure_;
}

} // namespace convert
