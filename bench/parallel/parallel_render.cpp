// Command-line driver for the parallel synthesis benchmark: renders one MIDI file to a 16-bit
// stereo WAV the way the program does, block by block through WavWriter, with one synthesiser
// (SongRenderer) or with the song split over several (ParallelSongRenderer). Prints how the
// channels were shared out and where the time went: synthesis and summing, or writing.
#include "components/output/WavWriter.h"
#include "components/synthesis/ParallelSongRenderer.h"
#include "components/synthesis/SongRenderer.h"
#include "components/synthesis/UsableCores.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

using namespace quillory::renderer;
using Clock = std::chrono::steady_clock;

namespace {

int usage() {
    std::fprintf(stderr, "usage: parallel_render [--single] [--threads N] [--block FRAMES] "
                         "[--rate HZ] [--stops N] --soundfont FILE INPUT.mid OUTPUT.wav\n");
    return 2;
}

// Starts the split render on a worker thread, as the window does, stops it part-way and times
// how long the worker takes to end: the block in hand, the helpers joined, the WAV closed.
// A stop in the first block waits for the song's set-up (the synthesisers readied, the
// channels weighed), which is not a block of work; those are timed apart.
template <typename Make>
void timeStops(int stops, const Make& make, int firstMs, int stepMs, const char* when) {
    double worst = 0, sum = 0;
    for (int i = 0; i < stops; ++i) {
        std::atomic<bool> stop{false};
        std::thread worker([&] {
            auto [source, writer] = make();
            std::vector<float> left(1024), right(1024);
            while (!stop) {
                const std::size_t frames = source->render(left.data(), right.data(), 1024);
                if (frames == 0)
                    break;
                writer->write(left.data(), right.data(), frames);
            }
            writer->close();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(firstMs + stepMs * i));
        const auto start = Clock::now();
        stop = true;
        worker.join();
        const double took = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        worst = std::max(worst, took);
        sum += took;
    }
    std::printf("stop of a split render %s: mean %.2f ms, worst %.2f ms over %d stops\n", when,
                sum / stops, worst, stops);
}

// CPU seconds (user + system) of each of the process's threads, by thread id.
std::map<int, double> threadCpu() {
    std::map<int, double> cpu;
    const double tick = double(sysconf(_SC_CLK_TCK));
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream in(entry.path() / "stat");
        std::string line;
        std::getline(in, line);
        // Fields after the command name, which is in parentheses: state is field 3, utime 14.
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        std::string field;
        double user = 0, system = 0;
        for (int i = 3; fields >> field && i <= 15; ++i) {
            if (i == 14)
                user = std::stod(field);
            else if (i == 15)
                system = std::stod(field);
        }
        cpu[std::stoi(entry.path().filename().string())] = (user + system) / tick;
    }
    return cpu;
}

struct Timing {
    double synth = 0;
    double write = 0;
    // CPU time of each thread over the render, the busiest first; on idle cores the render can
    // take no less than the first.
    std::vector<double> threads;
};

template <typename Source>
Timing run(Source& source, WavWriter& writer, std::size_t block) {
    std::vector<float> left(block), right(block);
    Timing timing;
    const std::map<int, double> before = threadCpu();
    std::map<int, double> last = before;
    for (;;) {
        const auto a = Clock::now();
        const std::size_t frames = source.render(left.data(), right.data(), block);
        const auto b = Clock::now();
        for (const auto& [tid, seconds] : threadCpu())
            last[tid] = seconds; // helpers leave with the song, so keep their last reading
        if (frames == 0)
            break;
        writer.write(left.data(), right.data(), frames);
        timing.synth += std::chrono::duration<double>(b - a).count();
        timing.write += std::chrono::duration<double>(Clock::now() - b).count();
    }
    writer.close();
    for (const auto& [tid, seconds] : last) {
        const auto it = before.find(tid);
        const double used = seconds - (it == before.end() ? 0.0 : it->second);
        if (used >= 0.05)
            timing.threads.push_back(used);
    }
    std::sort(timing.threads.rbegin(), timing.threads.rend());
    return timing;
}

} // namespace

int main(int argc, char** argv) {
    bool single = false;
    unsigned threads = quillory::renderer::usableCores();
    std::size_t block = 4096;
    WavFormat format{44100, 16, 2};
    std::filesystem::path soundFont;
    int stops = 0;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--single")
            single = true;
        else if (arg == "--threads" && hasValue)
            threads = unsigned(std::atoi(argv[++i]));
        else if (arg == "--block" && hasValue)
            block = std::size_t(std::atoi(argv[++i]));
        else if (arg == "--rate" && hasValue)
            format.sampleRate = std::atoi(argv[++i]);
        else if (arg == "--stops" && hasValue)
            stops = std::atoi(argv[++i]);
        else if (arg == "--soundfont" && hasValue)
            soundFont = argv[++i];
        else if (!arg.starts_with("--"))
            files.push_back(arg);
        else
            return usage();
    }
    if (files.size() != 2 || soundFont.empty() || block == 0)
        return usage();
    try {
        if (stops > 0) {
            Synthesizer synth(soundFont, format.sampleRate);
            const MidiFile song = MidiFile::read(files[0]);
            const auto make = [&] {
                return std::make_pair(
                    std::make_unique<ParallelSongRenderer>(song, synth, format.sampleRate),
                    std::make_unique<WavWriter>(quillory::output::OutputFile(files[1]), format,
                                                SongRenderer::maxFrames(song, format.sampleRate)));
            };
            timeStops(stops, make, 2500, 97, "mid-song");
            timeStops(stops, make, 0, 13, "in its first 130 ms");
            return 0;
        }
        const auto start = Clock::now();
        MidiFile song = MidiFile::read(files[0]);
        Synthesizer synth(soundFont, format.sampleRate);
        const double loaded = std::chrono::duration<double>(Clock::now() - start).count();
        WavWriter writer(quillory::output::OutputFile(files[1]), format,
                         SongRenderer::maxFrames(song, format.sampleRate));
        ThreadBudget budget(threads);
        Timing timing;
        std::string groups = "1 instance";
        if (single) {
            SongRenderer source(std::move(song), synth, format.sampleRate);
            timing = run(source, writer, block);
        } else {
            ParallelSongRenderer source(std::move(song), synth, format.sampleRate, budget);
            timing = run(source, writer, std::min(block, ParallelSongRenderer::kMaxBlockFrames));
            const ChannelGroups split = source.plan().split(source.instances());
            const double total = std::accumulate(split.loads.begin(), split.loads.end(), 0.0);
            const double most = *std::max_element(split.loads.begin(), split.loads.end());
            char text[256];
            std::snprintf(text, sizeof text, "%d instances, estimated balance %.2f (ideal %.2f)",
                          source.instances(), total / most, double(source.instances()));
            groups = text;
        }
        std::string threadText;
        for (const double seconds : timing.threads)
            threadText += (threadText.empty() ? "" : " + ") + std::to_string(seconds).substr(0, 5);
        std::printf("%s: %s; SoundFont %.2f s, synthesis %.2f s, writing %.2f s, %llu frames; "
                    "thread CPU %s s\n",
                    files[0].c_str(), groups.c_str(), loaded, timing.synth, timing.write,
                    static_cast<unsigned long long>(writer.framesWritten()), threadText.c_str());
        std::printf("busiest thread %.3f s\n", timing.threads.empty() ? 0.0 : timing.threads[0]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "parallel_render: %s\n", e.what());
        return 1;
    }
    return 0;
}
