// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "python/engine/ArrayRender.h"

#include "components/conversion/Conversions.h"
#include "components/conversion/Progress.h"
#include "components/conversion/RendererSettings.h"
#include "components/conversion/StemConversion.h"
#include "components/levelling/LoudnessChoice.h"
#include "components/output/Claim.h"
#include "components/output/OutputFile.h"
#include "components/output/SoundWriter.h"
#include "components/renderer/RenderJob.h"
#include "components/synthesis/SoundFontSearch.h"
#include "platform/CodeFile.h"
#include "platform/Files.h"
#include "platform/InstanceFolder.h"
#include "platform/MemoryFile.h"
#include "tools/convert/ConvertSettings.h"

#include <sndfile.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>

namespace quillory::python {

namespace fs = std::filesystem;
using renderer::MidiFile;
using renderer::SoundFontStack;
using renderer::SynthError;
using renderer::Synthesizer;

namespace {

constexpr const char* kPluginFile = "quillory-effect-share.so";

std::string quoted(const fs::path& file) {
    return "\"" + file.string() + "\"";
}

} // namespace

// A file the user named must open for reading as a file; what the system says otherwise is
// what Python reports.
void checkReadable(const fs::path& file) {
    std::error_code ec;
    if (fs::is_directory(file, ec))
        throw FileError(EISDIR, file, quoted(file) + " is a folder");
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        throw FileError(error, file, quoted(file) + " cannot be opened: " + std::strerror(error));
    }
    ::close(fd);
}

namespace {

// The song as it was written, the converter's WAV included, read back as a file in memory.
SoundData readBack(int fd, const std::string& name) {
    if (::lseek(fd, 0, SEEK_SET) != 0)
        throw RenderFailure(name + " cannot be read back: " + std::strerror(errno));
    return SoundData(fd);
}

int openBack(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw RenderFailure(quoted(file) + " cannot be read back: " + std::strerror(errno));
    return fd;
}

// A folder of one render's own in the instance's work folder, removed with what is in it.
class PrivateFolder {
public:
    PrivateFolder() {
        std::string pattern = workFolder() / "array-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw RenderFailure("a work folder cannot be made in " + quoted(workFolder()) + ": " +
                                std::strerror(errno));
        path_ = pattern;
    }
    ~PrivateFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    const fs::path& path() const { return path_; }

    static fs::path workFolder() { return platform::ToFsPath(platform::InstanceFolder()); }

private:
    fs::path path_;
};

conversion::Levelling levellingOf(const Settings& settings, renderer::ThreadBudget* threads,
                                  unsigned maxThreads, bool labels) {
    conversion::Levelling levelling;
    if (settings.loudness)
        levelling.loudness = renderer::LoudnessTarget{.lufs = *settings.loudness};
    levelling.workFolder = PrivateFolder::workFolder();
    levelling.threads = threads;
    levelling.maxThreads = maxThreads;
    levelling.labels = labels;
    return levelling;
}

} // namespace

fs::path programFolder() {
    const fs::path code = platform::CodeFileOf(reinterpret_cast<const void*>(&programFolder));
    if (code.empty())
        return {};
    // The package links the program's plugin beside the module; the program lies beside it.
    std::error_code ec;
    const fs::path plugin = fs::canonical(code.parent_path() / kPluginFile, ec);
    return ec ? code.parent_path() : plugin.parent_path();
}

SoundFontStack defaultSoundFonts() {
    const fs::path folder = programFolder();
    const QString chosen = conversion::ReadSoundFontPath(
        QString::fromStdString(convert::programSettingsFile(folder).string()));
    if (!chosen.isEmpty())
        return {fs::path(chosen.toStdString())};
    if (fs::path found = renderer::findSoundFont(folder); !found.empty())
        return {found};
    return {};
}

Settings checked(Settings settings) {
    if (settings.channels != 1 && settings.channels != 2)
        throw std::invalid_argument("channels must be 1 or 2, not " +
                                    std::to_string(settings.channels));
    if (settings.rate < Synthesizer::kMinRate || settings.rate > Synthesizer::kMaxRate)
        throw std::invalid_argument("rate must be from " + std::to_string(Synthesizer::kMinRate) +
                                    " to " + std::to_string(Synthesizer::kMaxRate) + " Hz, not " +
                                    std::to_string(settings.rate));
    if (settings.loudness && !(*settings.loudness >= renderer::LoudnessChoice::kLowestLufs &&
                               *settings.loudness <= renderer::LoudnessChoice::kHighestLufs))
        throw std::invalid_argument("loudness must be from -30 to -5 LUFS, or None");
    if (settings.maxSeconds <= 0)
        throw std::invalid_argument("max_seconds must be positive");
    if (settings.soundFonts.empty())
        settings.soundFonts = defaultSoundFonts();
    if (settings.soundFonts.empty())
        throw SynthError("no SoundFont found; name one with soundfont=");
    for (const fs::path& soundFont : settings.soundFonts)
        checkReadable(soundFont);
    return settings;
}

MidiFile readSong(const MidiInput& midi) {
    if (midi.inMemory) {
        if (midi.bytes.size() > MidiFile::kMaxFileBytes)
            throw renderer::MidiError(midi.name, "is too large to be a MIDI file (" +
                                                     std::to_string(midi.bytes.size() >> 20) +
                                                     " MiB)");
        return MidiFile::parse(midi.bytes, midi.name);
    }
    checkReadable(midi.file);
    return MidiFile::read(midi.file);
}

SoundData::SoundData(int fd)
    : fd_(fd) {
    SF_INFO info{};
    SNDFILE* file = sf_open_fd(fd_, SFM_READ, &info, 0);
    if (!file) {
        ::close(fd_);
        fd_ = -1;
        throw RenderFailure(std::string("the converted song cannot be read back: ") +
                            sf_strerror(nullptr));
    }
    frames_ = std::uint64_t(std::max<sf_count_t>(info.frames, 0));
    channels_ = info.channels;
    rate_ = info.samplerate;
    sf_close(file);
}

SoundData::~SoundData() {
    if (fd_ >= 0)
        ::close(fd_);
}

SoundData::SoundData(SoundData&& other) noexcept
    : fd_(std::exchange(other.fd_, -1))
    , frames_(other.frames_)
    , channels_(other.channels_)
    , rate_(other.rate_) {
}

SoundData& SoundData::operator=(SoundData&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        frames_ = other.frames_;
        channels_ = other.channels_;
        rate_ = other.rate_;
    }
    return *this;
}

void SoundData::read(float* into) const {
    if (fd_ < 0 || frames_ == 0)
        return;
    if (::lseek(fd_, 0, SEEK_SET) != 0)
        throw RenderFailure(std::string("the converted song cannot be read back: ") +
                            std::strerror(errno));
    SF_INFO info{};
    SNDFILE* file = sf_open_fd(fd_, SFM_READ, &info, 0);
    if (!file)
        throw RenderFailure(std::string("the converted song cannot be read back: ") +
                            sf_strerror(nullptr));
    const sf_count_t got = sf_readf_float(file, into, sf_count_t(frames_));
    sf_close(file);
    if (got != sf_count_t(frames_))
        throw RenderFailure("the converted song was read back short");
}

ArrayRenderer::ArrayRenderer(Settings settings, renderer::ThreadBudget* threads,
                             unsigned maxThreads)
    : settings_(std::move(settings))
    , threads_(threads)
    , maxThreads_(maxThreads) {
}

ArrayRenderer::~ArrayRenderer() = default;

void ArrayRenderer::load() {
    synth();
}

Synthesizer& ArrayRenderer::synth() {
    if (!synth_)
        synth_ = std::make_unique<Synthesizer>(settings_.soundFonts, settings_.rate);
    return *synth_;
}

Rendered ArrayRenderer::render(const MidiInput& midi, bool stems, bool labels,
                               const Progress& progress) {
    MidiFile song = readSong(midi);
    if (const double seconds = song.lengthMs() / 1000.0; seconds > settings_.maxSeconds)
        throw RenderFailure(song.name() + ": the song lasts " + std::to_string(int(seconds)) +
                            " s, longer than max_seconds " + std::to_string(settings_.maxSeconds) +
                            " allows");
    try {
        return renderSong(std::move(song), stems, labels, progress);
    } catch (const conversion::Interrupted&) {
        throw Stopped();
    } catch (const conversion::ConversionError& error) {
        throw RenderFailure(error.what());
    } catch (const renderer::RenderError& error) {
        throw RenderFailure(error.what());
    }
}

Rendered ArrayRenderer::renderSong(MidiFile song, bool stems, bool labels,
                                   const Progress& progress) {
    Rendered rendered;
    rendered.tags = renderer::songTags(song);
    const std::string name = song.name();
    const renderer::SoundFormat format{
        .sampleRate = settings_.rate, .bitsPerSample = 32, .channels = settings_.channels};
    const conversion::Levelling levelling = levellingOf(settings_, threads_, maxThreads_, labels);
    const conversion::ProgressFn percent = [&progress](int done) {
        return !progress || progress(done);
    };
    conversion::Facts facts;
    if (stems) {
        // The stem pipeline writes files and puts them in place as the command line does.
        const PrivateFolder folder;
        const fs::path target = folder.path() / "song.wav";
        output::Claim claim = output::Claim::take(target);
        if (!claim.held())
            throw RenderFailure(claim.why());
        rendered.notice = conversion::midiToSoundWithStems(std::move(song), synth(), format,
                                                           levelling, output::OutputFile(target),
                                                           claim, true, percent, facts);
        rendered.audio = SoundData(openBack(target));
        for (const conversion::StemFact& fact : facts.stems)
            rendered.stems.push_back({fact.channel, fact.name, fact.drums, fact.programs,
                                      SoundData(openBack(fact.file))});
    } else {
        const int fd = platform::MemoryFile("quillory-song");
        if (fd < 0)
            throw RenderFailure(std::string("no file in memory for the song: ") +
                                std::strerror(errno));
        // Closed with the song's data, or here when the conversion fails.
        struct Closer {
            int fd;
            bool kept = false;
            ~Closer() {
                if (!kept)
                    ::close(fd);
            }
        } closer{fd};
        rendered.notice =
            conversion::midiToSound(std::move(song), synth(), format, levelling,
                                    output::OutputFile::stream(fd, name), percent, facts);
        closer.kept = true;
        rendered.audio = readBack(fd, name);
    }
    rendered.rate = facts.sampleRate;
    rendered.seconds = facts.seconds;
    rendered.labels = std::move(facts.labels);
    rendered.loudness = facts.loudness;
    rendered.gainDb = facts.gainDb;
    return rendered;
}

} // namespace quillory::python
