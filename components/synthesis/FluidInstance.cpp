#include "components/synthesis/FluidInstance.h"

#include <fluidsynth.h>

#include <mutex>
#include <string>
#include <utility>

namespace quillory::renderer {

namespace {

// FluidSynth reports through a process-wide log; we keep the first complaint of each thread
// since it was cleared, so that a refused SoundFont can say why, and keep the library quiet on
// stderr. The first is the reason: after it come its other loaders' complaints (Debian's
// FluidSynth also tries the file as DLS) and a bare "Failed to load".
thread_local std::string firstFluidMessage;

void keepFluidMessage(int, const char* message, void*) {
    if (firstFluidMessage.empty() && message)
        firstFluidMessage = message;
}

void installFluidLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_PANIC, keepFluidMessage, nullptr);
        fluid_set_log_function(FLUID_ERR, keepFluidMessage, nullptr);
        fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
        fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
        fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
    });
}

} // namespace

std::string fluidSynthVersion() {
    return fluid_version_str();
}

FluidInstance::FluidInstance(const std::filesystem::path& soundFont, int sampleRate, int polyphony,
                             Samples samples) {
    installFluidLog();
    settings_ = new_fluid_settings();
    if (!settings_)
        throw SynthError("the synthesizer cannot be created");
    fluid_settings_setnum(settings_, "synth.sample-rate", sampleRate);
    fluid_settings_setnum(settings_, "synth.gain", kGain);
    fluid_settings_setint(settings_, "synth.polyphony", polyphony);
    fluid_settings_setint(settings_, "synth.dynamic-sample-loading", samples == Samples::OnDemand);
    // One render drives a synth from one thread, so FluidSynth's own locking is only overhead.
    fluid_settings_setint(settings_, "synth.threadsafe-api", 0);
    synth_ = new_fluid_synth(settings_);
    if (!synth_) {
        release();
        throw SynthError("the synthesizer cannot be created");
    }
    firstFluidMessage.clear();
    if (fluid_synth_sfload(synth_, soundFont.string().c_str(), 1) == FLUID_FAILED) {
        release();
        const std::string why =
            firstFluidMessage.empty() ? "FluidSynth gives no reason" : firstFluidMessage;
        throw SynthError("SoundFont " + soundFont.string() + " cannot be loaded (" + why + ")",
                         why);
    }
}

void FluidInstance::play(const MidiEvent& event) const {
    fluid_synth_t* synth = synth_;
    const int channel = event.status & 0x0F;
    switch (event.status & 0xF0) {
    case 0x80:
        fluid_synth_noteoff(synth, channel, event.data1);
        break;
    case 0x90:
        fluid_synth_noteon(synth, channel, event.data1, event.data2);
        break;
    case 0xA0:
        fluid_synth_key_pressure(synth, channel, event.data1, event.data2);
        break;
    case 0xB0:
        fluid_synth_cc(synth, channel, event.data1, event.data2);
        break;
    case 0xC0:
        fluid_synth_program_change(synth, channel, event.data1);
        break;
    case 0xD0:
        fluid_synth_channel_pressure(synth, channel, event.data1);
        break;
    case 0xE0:
        fluid_synth_pitch_bend(synth, channel, event.data1 | (event.data2 << 7));
        break;
    case 0xF0:
        if (event.status == 0xF0 && !event.payload.empty()) {
            // FluidSynth wants the message without its framing F0 ... F7 bytes.
            std::size_t length = event.payload.size();
            if (event.payload[length - 1] == 0xF7)
                --length;
            fluid_synth_sysex(synth, reinterpret_cast<const char*>(event.payload.data()),
                              static_cast<int>(length), nullptr, nullptr, nullptr, 0);
        }
        break;
    default:
        break;
    }
}

FluidInstance::~FluidInstance() {
    release();
}

FluidInstance::FluidInstance(FluidInstance&& other) noexcept
    : settings_(std::exchange(other.settings_, nullptr))
    , synth_(std::exchange(other.synth_, nullptr)) {
}

FluidInstance& FluidInstance::operator=(FluidInstance&& other) noexcept {
    if (this != &other) {
        release();
        settings_ = std::exchange(other.settings_, nullptr);
        synth_ = std::exchange(other.synth_, nullptr);
    }
    return *this;
}

void FluidInstance::release() {
    if (synth_)
        delete_fluid_synth(synth_);
    if (settings_)
        delete_fluid_settings(settings_);
    synth_ = nullptr;
    settings_ = nullptr;
}

} // namespace quillory::renderer
