// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "tools/convert/ConvertSettings.h"

#include "components/conversion/OutputSettings.h"
#include "components/conversion/RendererSettings.h"
#include "components/conversion/SettingsFiles.h"
#include "components/synthesis/SoundFontSearch.h"
#include "platform/Files.h"

#include <QString>

namespace convert {

namespace fs = std::filesystem;

namespace {

QString toQString(const fs::path& path) {
    return QString::fromStdString(path.string());
}

using quillory::renderer::Container;
namespace conversion = quillory::conversion;

// The settings file's WAV settings serve every libsndfile format, as far as each takes them.
void applyFormat(const Overrides& o, OutputType type, quillory::renderer::SoundFormat& f) {
    switch (type) {
    case OutputType::Flac:
        f.container = Container::Flac;
        f.bitsPerSample = o.bits.value_or(16);
        break;
    case OutputType::Vorbis:
        f.container = Container::Vorbis;
        f.vorbisQuality = o.quality.value_or(f.vorbisQuality);
        break;
    case OutputType::Opus:
        f.container = Container::Opus;
        f.sampleRate = quillory::renderer::SoundFormat::kOpusRate;
        f.opusKbps = o.bitRate.value_or(f.opusKbps);
        break;
    default:
        break;
    }
}

void applyOverrides(const Overrides& o, ConvertSettings& s) {
    if (o.rate) {
        s.sound.sampleRate = *o.rate;
        s.mp3SynthRate = *o.rate;
    }
    s.sound.bitsPerSample = o.bits.value_or(s.sound.bitsPerSample);
    s.sound.channels = o.channels.value_or(s.sound.channels);
    s.bitsGiven = o.bits.has_value();
    s.channelsGiven = o.channels.has_value();
    applyFormat(o, s.output, s.sound);
    s.mp3.channelMode = o.channelMode.value_or(s.mp3.channelMode);
    if (o.bitRate && s.output != OutputType::Opus) {
        s.mp3.vbrMode = 0;
        s.mp3.bitRateKbps = *o.bitRate;
    }
    if (o.vbrMin) {
        s.mp3.vbrMode = 1;
        s.mp3.minBitRateKbps = *o.vbrMin;
        s.mp3.maxBitRateKbps = *o.vbrMax;
    }
}

} // namespace

fs::path programSettingsFile(const fs::path& programFolder) {
    return platform::ToFsPath(conversion::SettingsFilesFor(toQString(programFolder)).toRead());
}

ResolvedSettings resolveSettings(const Options& options, const fs::path& defaultSettingsFile,
                                 const fs::path& programFolder) {
    ResolvedSettings resolved;
    const fs::path file = options.settingsFile.value_or(defaultSettingsFile);
    std::error_code ec;
    if (options.settingsFile && !fs::is_regular_file(file, ec)) {
        resolved.error = "the settings file \"" + file.string() + "\" does not exist";
        return resolved;
    }
    // The program's own reader, so a file means exactly what it means to the program.
    const conversion::OutputSettings record = conversion::ReadOutputSettings(toQString(file));
    ConvertSettings& s = resolved.settings;
    s.output = options.format.value_or(
        options.output ? outputTypeOf(*options.output).value_or(OutputType::Wav) : OutputType::Wav);
    s.stems = options.stems;
    s.labels = options.labels;
    s.maxSeconds = options.maxSeconds;
    s.sound = {record.Frequency, record.Bits, record.WavChannels};
    s.mp3 = conversion::Mp3SettingsOf(record);
    s.loudness = options.overrides.loudness.value_or(conversion::ReadLoudness(toQString(file)));
    applyOverrides(options.overrides, s);

    if (!options.overrides.soundFonts.empty()) {
        s.soundFonts = options.overrides.soundFonts;
        for (const fs::path& soundFont : s.soundFonts)
            if (!fs::is_regular_file(soundFont, ec)) {
                resolved.error = "the SoundFont \"" + soundFont.string() + "\" does not exist";
                return resolved;
            }
        // Loaded whole, as the renderer loads it: a damaged SoundFont often has a sound header.
        // The smallest synthesiser FluidSynth makes holds the samples as well as a full one,
        // without a full one's voices and effects (about 12 MiB).
        try {
            s.soundFontHold =
                std::make_shared<SoundFontHold>(std::make_shared<quillory::renderer::FluidInstance>(
                    s.soundFonts, quillory::renderer::Synthesizer::kMinRate, 1));
        } catch (const std::exception& refused) {
            resolved.error = refused.what();
            return resolved;
        }
    } else if (const QString chosen = conversion::ReadSoundFontPath(toQString(file));
               !chosen.isEmpty()) {
        s.soundFonts = {fs::path(chosen.toStdString())};
    } else if (fs::path found = quillory::renderer::findSoundFont(programFolder); !found.empty()) {
        s.soundFonts = {found};
    }
    return resolved;
}

} // namespace convert
