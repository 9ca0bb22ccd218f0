#include "components/synthesis/Synthesizer.h"

#include <fluidsynth.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>

namespace quillory::renderer {

namespace {

// FluidSynth reports through a process-wide log; we keep the last complaint of each thread so
// that a refused SoundFont can say why, and keep the library quiet on stderr.
thread_local std::string lastFluidMessage;

void keepFluidMessage(int, const char* message, void*) {
    lastFluidMessage = message ? message : "";
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

Synthesizer::Synthesizer(const std::filesystem::path& soundFont, int sampleRate)
    : soundFont_(soundFont) {
    installFluidLog();
    std::error_code ec;
    if (!std::filesystem::exists(soundFont, ec))
        throw SynthError("SoundFont " + soundFont.string() + " does not exist");
    if (!std::filesystem::is_regular_file(soundFont, ec))
        throw SynthError("SoundFont " + soundFont.string() + " is not a file");
    instance_ = create(sampleRate);
    sampleRate_ = sampleRate;
}

Synthesizer::~Synthesizer() {
    destroy(instance_);
}

void Synthesizer::checkRate(int sampleRate) {
    if (sampleRate < kMinRate || sampleRate > kMaxRate)
        throw SynthError("a sample rate of " + std::to_string(sampleRate) +
                         " Hz is not supported (" + std::to_string(kMinRate) + " to " +
                         std::to_string(kMaxRate) + " Hz)");
}

Synthesizer::Instance Synthesizer::create(int sampleRate) const {
    checkRate(sampleRate);
    Instance instance;
    instance.settings = new_fluid_settings();
    if (!instance.settings)
        throw SynthError("the synthesizer cannot be created");
    fluid_settings_setnum(instance.settings, "synth.sample-rate", sampleRate);
    fluid_settings_setnum(instance.settings, "synth.gain", kGain);
    // One render drives a synth from one thread, so FluidSynth's own locking is only overhead.
    fluid_settings_setint(instance.settings, "synth.threadsafe-api", 0);
    instance.synth = new_fluid_synth(instance.settings);
    if (!instance.synth) {
        destroy(instance);
        throw SynthError("the synthesizer cannot be created");
    }
    lastFluidMessage.clear();
    if (fluid_synth_sfload(instance.synth, soundFont_.string().c_str(), 1) == FLUID_FAILED) {
        destroy(instance);
        std::string why = lastFluidMessage.empty() ? "" : " (" + lastFluidMessage + ")";
        throw SynthError("SoundFont " + soundFont_.string() + " cannot be loaded" + why);
    }
    return instance;
}

void Synthesizer::destroy(Instance& instance) {
    if (instance.synth)
        delete_fluid_synth(instance.synth);
    if (instance.settings)
        delete_fluid_settings(instance.settings);
    instance = {};
}

void Synthesizer::prepare(int sampleRate) {
    if (sampleRate != sampleRate_ || played_) {
        // The new synth is built while the old one still holds the samples, so they are shared
        // from FluidSynth's sample cache instead of being read again.
        Instance fresh;
        try {
            fresh = create(sampleRate);
        } catch (const SynthError&) {
            // The SoundFont may have gone since it was loaded; the synth in hand still works at
            // its own rate, silenced as well as FluidSynth allows.
            if (sampleRate != sampleRate_)
                throw;
            fluid_synth_all_sounds_off(instance_.synth, -1);
            fluid_synth_system_reset(instance_.synth);
            return;
        }
        destroy(instance_);
        instance_ = fresh;
        sampleRate_ = sampleRate;
        played_ = false;
        return;
    }
    fluid_synth_system_reset(instance_.synth);
}

void Synthesizer::play(const MidiEvent& event) {
    played_ = true;
    fluid_synth_t* synth = instance_.synth;
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

void Synthesizer::render(float* left, float* right, int frames) {
    played_ = true;
    fluid_synth_write_float(instance_.synth, frames, left, 0, 1, right, 0, 1);
}

Synthesizer::NoteCost Synthesizer::weigh(const MidiEvent& event) {
    const bool noteOn = (event.status & 0xF0) == 0x90 && event.data2 > 0;
    if (!noteOn) {
        if ((event.status & 0xF0) != 0x80 && (event.status & 0xF0) != 0x90)
            play(event);
        return {};
    }
    played_ = true;
    fluid_synth_t* synth = instance_.synth;
    const int channel = event.status & 0x0F;
    int font = 0, bank = 0, program = 0;
    fluid_synth_get_program(synth, channel, &font, &bank, &program);
    const NoteKey key{font, bank, program, channel, event.data1, event.data2};
    if (const auto known = costPerNote_.find(key); known != costPerNote_.end())
        return known->second;
    const int before = fluid_synth_get_active_voice_count(synth);
    fluid_synth_noteon(synth, channel, event.data1, event.data2);
    NoteCost cost;
    cost.voices = std::max(0, fluid_synth_get_active_voice_count(synth) - before);
    // The last note's voices are silenced below, so the playing ones are this note's.
    constexpr int kMostVoices = 64;
    fluid_voice_t* voices[kMostVoices] = {};
    fluid_synth_get_voicelist(synth, voices, kMostVoices, -1);
    for (int i = 0; i < kMostVoices && voices[i] != nullptr; ++i)
        if (fluid_voice_get_channel(voices[i]) == channel)
            cost.exclusiveClass = std::max(cost.exclusiveClass,
                                           int(fluid_voice_gen_get(voices[i], GEN_EXCLUSIVECLASS)));
    // FluidSynth counts the voices again only as it renders: one block, so counts stay apart.
    fluid_synth_all_sounds_off(synth, channel);
    float left[64], right[64];
    fluid_synth_write_float(synth, 64, left, 0, 1, right, 0, 1);
    costPerNote_.emplace(key, cost);
    return cost;
}

std::size_t Synthesizer::NoteKeyHash::operator()(const NoteKey& k) const {
    std::size_t hash = 0;
    for (const int field : {k.font, k.bank, k.program, k.channel, k.key, k.velocity})
        hash = hash * 1000003u ^ std::hash<int>{}(field);
    return hash;
}

bool Synthesizer::voicesSounding() const {
    return fluid_synth_get_active_voice_count(instance_.synth) > 0;
}

} // namespace quillory::renderer
