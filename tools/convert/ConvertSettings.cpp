#include "tools/convert/ConvertSettings.h"

#include "app/settings/LoudnessSetting.h"
#include "app/settings/Settings.h"
#include "app/settings/SoundFontSetting.h"
#include "components/synthesis/SoundFontSearch.h"
#include "platform/Files.h"

#include <QString>

namespace convert {

namespace fs = std::filesystem;

namespace {

QString toQString(const fs::path& path) {
    return QString::fromStdString(path.string());
}

void applyOverrides(const Overrides& o, ConvertSettings& s) {
    if (o.rate) {
        s.wav.sampleRate = *o.rate;
        s.mp3SynthRate = *o.rate;
    }
    s.wav.bitsPerSample = o.bits.value_or(s.wav.bitsPerSample);
    s.wav.channels = o.channels.value_or(s.wav.channels);
    s.mp3.channelMode = o.channelMode.value_or(s.mp3.channelMode);
    if (o.bitRate) {
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
    return platform::ToFsPath(SettingsFilesFor(toQString(programFolder)).toRead());
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
    SetSettingsPath(toQString(file));
    SetDefaultSettings();
    LoadSettings();
    const SettingsRecord& record = Settings();
    ConvertSettings& s = resolved.settings;
    s.wav = {record.Frequency, record.Bits, record.WavChannels};
    s.mp3 = {record.VBR ? 1 : 0, record.Bitrate, record.Mp3Channels, record.MinBitrate,
             record.MaxBitrate};
    s.loudness = options.overrides.loudness.value_or(ReadLoudness(toQString(file)));
    applyOverrides(options.overrides, s);

    if (options.overrides.soundFont) {
        s.soundFont = *options.overrides.soundFont;
        if (!fs::is_regular_file(s.soundFont, ec)) {
            resolved.error = "the SoundFont \"" + s.soundFont.string() + "\" does not exist";
            return resolved;
        }
        // Loaded whole, as the renderer loads it: a damaged SoundFont often has a sound header.
        try {
            resolved.loadedSoundFont =
                std::make_shared<quillory::renderer::Synthesizer>(s.soundFont);
        } catch (const std::exception& refused) {
            resolved.error = refused.what();
            return resolved;
        }
    } else if (const QString chosen = ReadSoundFontPath(toQString(file)); !chosen.isEmpty()) {
        s.soundFont = chosen.toStdString();
    } else {
        s.soundFont = quillory::renderer::findSoundFont(programFolder);
    }
    return resolved;
}

} // namespace convert
