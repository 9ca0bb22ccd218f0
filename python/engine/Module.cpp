// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// quillory._quillory: the engine's side of the Python module, through pybind11. It turns what
// ArrayRenderer and RenderPool give into numpy arrays and plain Python values, and their errors
// into the module's exceptions; the classes users meet are written in Python (quillory/__init__.py)
// on top of it. The GIL is released while anything is synthesised or read back. Ctrl+C reaches a
// render through its progress hook: the hook takes the GIL now and then and lets Python run its
// signal handlers, and a KeyboardInterrupt they raise stops the render between two blocks.
#include "python/engine/ArrayRender.h"
#include "python/engine/RenderPool.h"
#include "python/engine/SingleConversion.h"

#include "components/output/SoundWriter.h"
#include "components/synthesis/FluidInstance.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <thread>

namespace py = pybind11;
using namespace quillory;
using quillory::python::ArrayRenderer;
using quillory::python::MidiInput;
using quillory::python::Rendered;
using quillory::python::RenderPool;
using quillory::python::Settings;

namespace {

// How often a render on the main thread looks for a signal: often enough that Ctrl+C feels
// immediate, rarely enough that a render never queues for the GIL behind a busy Python thread
// after every block.
constexpr auto kSignalCheck = std::chrono::milliseconds(20);

PyObject* gError = nullptr;
PyObject* gMidiError = nullptr;
PyObject* gSoundFontError = nullptr;

Settings settingsOf(const std::vector<std::string>& soundFonts, int rate, int channels,
                    std::optional<double> loudness, int maxSeconds) {
    Settings settings;
    for (const std::string& file : soundFonts)
        settings.soundFonts.emplace_back(file);
    settings.rate = rate;
    settings.channels = channels;
    settings.loudness = loudness;
    settings.maxSeconds = maxSeconds;
    py::gil_scoped_release unlocked;
    return python::checked(std::move(settings));
}

MidiInput inputOf(const std::optional<std::string>& file, const std::optional<py::bytes>& data,
                  const std::string& name) {
    MidiInput input;
    if (data) {
        const std::string_view bytes = *data;
        input.bytes.assign(bytes.begin(), bytes.end());
        input.name = name;
        input.inMemory = true;
    } else if (file) {
        input.file = *file;
        input.name = *file;
    } else {
        throw std::invalid_argument("a song is a path, bytes or a file object");
    }
    return input;
}

py::array_t<float> arrayOf(const python::SoundData& sound) {
    py::array_t<float> audio({py::ssize_t(sound.frames()), py::ssize_t(sound.channels())});
    float* into = audio.mutable_data();
    py::gil_scoped_release unlocked;
    sound.read(into);
    return audio;
}

// The labels column by column, which the Python side makes one structured array of.
py::dict labelColumns(const std::vector<renderer::NoteLabel>& notes, int rate) {
    const auto n = py::ssize_t(notes.size());
    py::array_t<std::uint64_t> onset(n), offset(n), keyOffset(n), soundEnd(n);
    py::array_t<double> onsetSeconds(n), offsetSeconds(n), frequency(n);
    py::array_t<std::int32_t> key(n), velocity(n), channel(n), bank(n), program(n);
    py::list silent;
    for (py::ssize_t i = 0; i < n; ++i) {
        const renderer::NoteLabel& note = notes[std::size_t(i)];
        onset.mutable_at(i) = note.onset;
        offset.mutable_at(i) = note.offset;
        onsetSeconds.mutable_at(i) = double(note.onset) / rate;
        offsetSeconds.mutable_at(i) = double(note.offset) / rate;
        key.mutable_at(i) = note.key;
        frequency.mutable_at(i) = note.frequencyHz;
        velocity.mutable_at(i) = note.velocity;
        channel.mutable_at(i) = note.channel + 1;
        bank.mutable_at(i) = note.bank;
        program.mutable_at(i) = note.program;
        keyOffset.mutable_at(i) = note.keyOffset;
        soundEnd.mutable_at(i) = note.soundEnd;
        silent.append(note.silent);
    }
    py::dict columns;
    columns["onset_sample"] = onset;
    columns["offset_sample"] = offset;
    columns["onset_seconds"] = onsetSeconds;
    columns["offset_seconds"] = offsetSeconds;
    columns["key"] = key;
    columns["frequency_hz"] = frequency;
    columns["velocity"] = velocity;
    columns["channel"] = channel;
    columns["bank"] = bank;
    columns["program"] = program;
    columns["key_offset_sample"] = keyOffset;
    columns["sound_end_sample"] = soundEnd;
    columns["silent"] = silent;
    return columns;
}

py::dict resultOf(const Rendered& song) {
    py::dict result;
    result["audio"] = arrayOf(song.audio);
    result["rate"] = song.rate;
    result["seconds"] = song.seconds;
    result["labels"] = labelColumns(song.labels, song.rate);
    if (song.loudness && song.gainDb)
        result["loudness"] = py::make_tuple(song.loudness->integratedLufs,
                                            song.loudness->truePeakDbtp, *song.gainDb);
    else
        result["loudness"] = py::none();
    py::dict tags;
    tags["title"] = song.tags.title;
    tags["copyright"] = song.tags.copyright;
    tags["software"] = song.tags.software;
    result["tags"] = tags;
    result["notice"] = song.notice;
    py::list stems;
    for (const python::Stem& stem : song.stems)
        stems.append(py::make_tuple(stem.channel, stem.name, stem.drums, stem.programs,
                                    arrayOf(stem.audio)));
    result["stems"] = stems;
    return result;
}

// The progress hook of work done on this thread with the GIL released: now and then it takes
// the GIL, lets Python run its signal handlers and calls the user's progress function; an
// exception from either stops the work, and is raised again once it has stopped.
class SignalHook {
public:
    explicit SignalHook(const std::optional<py::function>& progress)
        : progress_(progress)
        , last_(std::chrono::steady_clock::now()) {}

    python::Progress hook() {
        return [this](int percent) { return check(percent); };
    }
    // After the work ended with Stopped: the exception that stopped it, if Python raised one.
    [[noreturn]] void rethrow() {
        if (raised_)
            throw *raised_;
        throw python::Stopped();
    }

private:
    bool check(int percent) {
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < kSignalCheck && percent < 100)
            return true;
        last_ = now;
        py::gil_scoped_acquire locked;
        // Python runs its signal handlers on its main thread only; elsewhere this does nothing.
        if (PyErr_CheckSignals() != 0) {
            raised_.emplace();
            return false;
        }
        if (progress_) {
            try {
                (*progress_)(percent);
            } catch (py::error_already_set& error) {
                raised_.emplace(std::move(error));
                return false;
            }
        }
        return true;
    }

    const std::optional<py::function>& progress_;
    std::chrono::steady_clock::time_point last_;
    std::optional<py::error_already_set> raised_;
};

class RendererHandle {
public:
    explicit RendererHandle(Settings settings)
        : renderer_(std::move(settings)) {
        py::gil_scoped_release unlocked;
        renderer_.load();
    }

    py::dict render(const std::optional<std::string>& file, const std::optional<py::bytes>& data,
                    const std::string& name, bool stems, bool labels,
                    const std::optional<py::function>& progress) {
        const MidiInput input = inputOf(file, data, name);
        SignalHook signals(progress);
        std::optional<Rendered> song;
        try {
            py::gil_scoped_release unlocked;
            // One song at a time on the renderer's synthesisers, whichever thread asks.
            const std::lock_guard one(busy_);
            song.emplace(renderer_.render(input, stems, labels, signals.hook()));
        } catch (const python::Stopped&) {
            signals.rethrow();
        }
        return resultOf(*song);
    }

    const Settings& settings() const { return renderer_.settings(); }

private:
    ArrayRenderer renderer_;
    std::mutex busy_;
};

std::string convertFile(const std::string& input, const std::string& output,
                        const std::vector<std::string>& options,
                        const std::optional<py::function>& progress) {
    SignalHook signals(progress);
    try {
        py::gil_scoped_release unlocked;
        return python::convertOne(input, output, options, signals.hook());
    } catch (const python::Stopped&) {
        signals.rethrow();
    }
}

class PoolHandle {
public:
    PoolHandle(const RendererHandle& renderer, const py::list& songs, unsigned jobs, bool stems,
               bool labels) {
        std::vector<MidiInput> inputs;
        for (const py::handle song : songs) {
            const auto item = song.cast<py::tuple>();
            inputs.push_back(inputOf(item[0].cast<std::optional<std::string>>(),
                                     item[1].cast<std::optional<py::bytes>>(),
                                     item[2].cast<std::string>()));
        }
        pool_.emplace(renderer.settings(), std::move(inputs), jobs, stems, labels);
    }
    ~PoolHandle() {
        py::gil_scoped_release unlocked;
        pool_.reset();
    }

    // Song `index`, or None when it is not ready within `waitMs`; Python's signal handlers run
    // between two waits, so Ctrl+C is never held up by a long song.
    py::object take(std::size_t index, int waitMs) {
        std::optional<Rendered> song;
        {
            py::gil_scoped_release unlocked;
            song = pool_->take(index, std::chrono::milliseconds(waitMs));
        }
        if (!song)
            return py::none();
        return resultOf(*song);
    }
    void stop() { pool_->stop(); }
    unsigned workers() const { return pool_->workers(); }

private:
    std::optional<RenderPool> pool_;
};

void raise(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
}

void translate(std::exception_ptr error) {
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const python::FileError& e) {
        py::object os = py::module_::import("builtins").attr("OSError");
        PyErr_SetObject(os.ptr(), py::make_tuple(e.error(), e.what(), e.file().string()).ptr());
    } catch (const renderer::MidiError& e) {
        raise(gMidiError, e.what());
    } catch (const renderer::SynthError& e) {
        raise(gSoundFontError, e.what());
    } catch (const python::Stopped& e) {
        raise(PyExc_KeyboardInterrupt, e.what());
    } catch (const python::RenderFailure& e) {
        raise(gError, e.what());
    }
}

PyObject* newError(py::module_& m, const char* name, PyObject* base, const char* doc) {
    const std::string qualified = std::string("quillory.") + name;
    PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, base, nullptr);
    m.add_object(name, py::handle(type));
    return type;
}

} // namespace

PYBIND11_MODULE(_quillory, m) {
    m.doc() = "The engine of the quillory module; use the names quillory itself exports.";
    gError = newError(m, "Error", PyExc_Exception,
                      "A song could not be rendered; the message says why.");
    gMidiError = newError(m, "MidiError", gError,
                          "The song is not a MIDI file that can be played; the message names "
                          "the file and, where it can, the track and byte.");
    gSoundFontError = newError(m, "SoundFontError", gError,
                               "A SoundFont cannot be used: FluidSynth refused it, or none was "
                               "found.");
    py::register_exception_translator(translate);

    py::class_<RendererHandle>(m, "_Renderer")
        .def(py::init([](const std::vector<std::string>& soundFonts, int rate, int channels,
                         std::optional<double> loudness, int maxSeconds) {
                 return new RendererHandle(
                     settingsOf(soundFonts, rate, channels, loudness, maxSeconds));
             }),
             py::arg("soundfonts"), py::arg("rate"), py::arg("channels"), py::arg("loudness"),
             py::arg("max_seconds"))
        .def("render", &RendererHandle::render, py::arg("file"), py::arg("data"), py::arg("name"),
             py::arg("stems"), py::arg("labels"), py::arg("progress"))
        .def_property_readonly("soundfonts", [](const RendererHandle& r) {
            std::vector<std::string> files;
            for (const auto& file : r.settings().soundFonts)
                files.push_back(file.string());
            return files;
        });

    py::class_<PoolHandle>(m, "_Pool")
        .def(py::init<const RendererHandle&, const py::list&, unsigned, bool, bool>(),
             py::arg("renderer"), py::arg("songs"), py::arg("jobs"), py::arg("stems"),
             py::arg("labels"))
        .def("take", &PoolHandle::take, py::arg("index"), py::arg("wait_ms"))
        .def("stop", &PoolHandle::stop)
        .def_property_readonly("workers", &PoolHandle::workers);

    m.def("_convert", &convertFile, py::arg("input"), py::arg("output"), py::arg("options"),
          py::arg("progress"));

    m.def("versions", [] {
        py::dict versions;
        versions["quillory"] = QUILLORY_VERSION;
        versions["fluidsynth"] = renderer::fluidSynthVersion();
        versions["libsndfile"] = renderer::soundFileVersion();
        return versions;
    });
}
