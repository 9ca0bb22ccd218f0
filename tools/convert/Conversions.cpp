#include "tools/convert/Conversions.h"

#include "components/encoder/Mp3FileEncoder.h"
#include "components/encoder/Mp3Stream.h"
#include "components/renderer/RenderJob.h"
#include "components/renderer/SongRenderer.h"
#include "tools/convert/BlockQueue.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>
#include <thread>

namespace convert {

namespace fs = std::filesystem;
using quillory::renderer::MidiFile;
using quillory::renderer::SongRenderer;
using quillory::renderer::Synthesizer;

namespace {

constexpr std::size_t kSynthBlockFrames = 4096;
// About 0.75 s of audio at 44100 Hz: enough to ride out scheduling hiccups, small enough that
// memory does not depend on the song.
constexpr std::size_t kQueueBlocks = 8;
constexpr std::size_t kWriteBuffer = 1 << 16;

// Calls progress only when the whole percentage changes, and turns a request to stop into the
// error that ends the conversion.
class Percent {
public:
    explicit Percent(const ProgressFn& progress)
        : progress_(progress) {}
    void update(std::uint64_t done, std::uint64_t total) {
        const int percent = total == 0 ? 99 : int(std::min<std::uint64_t>(99, done * 100 / total));
        set(percent);
    }
    void set(int percent) {
        if (percent == last_)
            return;
        last_ = percent;
        if (progress_ && !progress_(percent))
            throw ConversionError("interrupted");
    }

private:
    const ProgressFn& progress_;
    int last_ = -1;
};

std::string quoted(const fs::path& path) {
    return "\"" + path.string() + "\"";
}

// The MP3 as it is written: the encoder's bytes in order, then the Xing/LAME header frame put
// back over the first frame, where players look for the length; then the file is put in place.
class Mp3Output {
public:
    explicit Mp3Output(quillory::output::OutputFile output)
        : output_(std::move(output))
        , path_(output_.target()) {
        if (const std::string refused = output_.create(); !refused.empty())
            throw ConversionError("cannot create " + quoted(path_) + ": " + refused);
        file_ = std::fopen(output_.writePath().string().c_str(), "wb");
        if (file_ == nullptr)
            throw ConversionError("cannot create " + quoted(path_) + ": " + std::strerror(errno));
        std::setvbuf(file_, nullptr, _IOFBF, kWriteBuffer);
    }
    ~Mp3Output() {
        if (file_ != nullptr)
            std::fclose(file_);
    }
    Mp3Output(const Mp3Output&) = delete;
    Mp3Output& operator=(const Mp3Output&) = delete;

    void write(std::span<const std::uint8_t> bytes) {
        if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
            throw ConversionError("writing " + quoted(path_) + " failed: " + std::strerror(errno));
    }
    void finish(const std::vector<std::uint8_t>& header) {
        if (!header.empty()) {
            if (std::fseek(file_, 0, SEEK_SET) != 0)
                throw ConversionError("cannot rewind " + quoted(path_) + ": " +
                                      std::strerror(errno));
            write(header);
        }
        const int closed = std::fclose(file_);
        file_ = nullptr;
        if (closed != 0)
            throw ConversionError("writing " + quoted(path_) + " failed: " + std::strerror(errno));
        if (const std::string failed = output_.commit(); !failed.empty())
            throw ConversionError(failed);
    }

private:
    quillory::output::OutputFile output_;
    fs::path path_;
    std::FILE* file_ = nullptr;
};

// The synthesis side of MIDI to MP3: renders blocks into the queue until the song ends or the
// queue is abandoned, then closes it. A failure is kept for the encoding side to report.
void produceBlocks(SongRenderer& renderer, BlockQueue& queue, std::string& failure) {
    try {
        std::vector<float> left(kSynthBlockFrames);
        std::vector<float> right(kSynthBlockFrames);
        while (const std::size_t frames =
                   renderer.render(left.data(), right.data(), kSynthBlockFrames)) {
            AudioBlock block;
            block.frames = frames;
            block.samples.resize(2 * frames);
            for (std::size_t i = 0; i < frames; ++i) {
                block.samples[2 * i] = left[i];
                block.samples[2 * i + 1] = right[i];
            }
            if (!queue.push(std::move(block)))
                return;
        }
    } catch (const std::exception& error) {
        failure = error.what();
    }
    queue.close();
}

} // namespace

void midiToWav(MidiFile song, Synthesizer& synth, const quillory::renderer::WavFormat& format,
               quillory::output::OutputFile output, const ProgressFn& progress) {
    quillory::renderer::RenderJob job(std::move(song), synth, std::move(output), format);
    Percent percent(progress);
    while (job.render(quillory::renderer::RenderJob::kMaxBlockFrames) > 0)
        percent.update(job.framesWritten(), job.songFrames());
    job.close();
    percent.set(100);
}

void midiToMp3(MidiFile song, Synthesizer& synth, int synthRate,
               const encoder::Mp3Settings& settings, quillory::output::OutputFile output,
               const ProgressFn& progress) {
    SongRenderer renderer(std::move(song), synth, synthRate);
    encoder::Mp3Stream stream;
    if (!stream.open(settings, synthRate, 2))
        throw ConversionError(stream.error());
    Mp3Output file(std::move(output));
    Percent percent(progress);

    BlockQueue queue(kQueueBlocks);
    std::string synthFailure;
    const std::uint64_t songFrames = renderer.songFrames();
    std::thread producer(produceBlocks, std::ref(renderer), std::ref(queue),
                         std::ref(synthFailure));
    try {
        AudioBlock block;
        std::uint64_t done = 0;
        while (queue.pop(block)) {
            const auto bytes = stream.encode(block.samples.data(), block.frames);
            if (!bytes)
                throw ConversionError(stream.error());
            file.write(*bytes);
            done += block.frames;
            percent.update(done, songFrames);
        }
    } catch (...) {
        queue.abandon();
        producer.join();
        throw;
    }
    producer.join();
    if (!synthFailure.empty())
        throw ConversionError(synthFailure);
    const auto tail = stream.flush();
    if (!tail)
        throw ConversionError(stream.error());
    file.write(*tail);
    file.finish(stream.header());
    percent.set(100);
}

std::string wavToMp3(const fs::path& wav, const encoder::Mp3Settings& settings,
                     quillory::output::OutputFile output, const ProgressFn& progress) {
    encoder::Mp3FileEncoder mp3;
    if (!mp3.open(wav, std::move(output), settings))
        throw ConversionError(mp3.error());
    Percent percent(progress);
    for (;;) {
        const auto step = mp3.encodeBlock();
        if (step == encoder::Mp3FileEncoder::Step::Failed)
            throw ConversionError(mp3.error());
        if (step == encoder::Mp3FileEncoder::Step::End)
            break;
        percent.update(std::uint64_t(mp3.framesDone()), std::uint64_t(mp3.totalFrames()));
    }
    if (!mp3.finish())
        throw ConversionError(mp3.error());
    percent.set(100);
    return mp3.warning();
}

} // namespace convert
