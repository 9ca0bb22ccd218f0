// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/synthesis/Synthesizer.h"

#include "platform/ThreadName.h"

#include <fluidsynth.h>

#include <algorithm>
#include <string>
#include <system_error>

namespace quillory::renderer {

namespace {

FluidInstance loaded(const SoundFontStack& soundFonts, int sampleRate) {
    Synthesizer::checkRate(sampleRate);
    return FluidInstance(soundFonts, sampleRate, 256, FluidInstance::Samples::All, true);
}

} // namespace

Synthesizer::Synthesizer(SoundFontStack soundFonts, int sampleRate)
    : soundFonts_(std::move(soundFonts)) {
    if (soundFonts_.empty())
        throw SynthError("no SoundFont was given");
    std::error_code ec;
    for (const std::filesystem::path& soundFont : soundFonts_) {
        if (!std::filesystem::exists(soundFont, ec))
            throw SynthError("SoundFont " + soundFont.string() + " does not exist");
        if (!std::filesystem::is_regular_file(soundFont, ec))
            throw SynthError("SoundFont " + soundFont.string() + " is not a file");
    }
    instance_ = loaded(soundFonts_, sampleRate);
    sampleRate_ = sampleRate;
}

Synthesizer::~Synthesizer() {
    awaitSpares();
}

std::string Synthesizer::loadProblem(const std::filesystem::path& soundFont) {
    try {
        FluidInstance(soundFont, 44100);
    } catch (const SynthError& refused) {
        return refused.reason().empty() ? refused.what() : refused.reason();
    }
    return {};
}

void Synthesizer::checkRate(int sampleRate) {
    if (sampleRate < kMinRate || sampleRate > kMaxRate)
        throw SynthError("a sample rate of " + std::to_string(sampleRate) +
                         " Hz is not supported (" + std::to_string(kMinRate) + " to " +
                         std::to_string(kMaxRate) + " Hz)");
}

void Synthesizer::prepare(int sampleRate) {
    log_ = nullptr;
    if (sampleRate != sampleRate_) {
        // The new synth is built while the old one still holds the samples, so they are shared
        // from FluidSynth's sample cache instead of being read again.
        instance_ = loaded(soundFonts_, sampleRate);
        sampleRate_ = sampleRate;
        framesRendered_ = 0;
    }
    // A new synthesiser is reset too: FluidSynth's voice slots keep traces of their last voices
    // (which of a slot's two voice records is in use, the order the mixer sums them in) that
    // move a song's samples by float rounding. After a reset they are the same whatever played
    // before, so a song sounds the same first in a process or after any other.
    instance_.reset();
    // reset() leaves FluidSynth at the start of a 64-frame block, where a new one starts.
    framesRendered_ = 0;
}

// As many as can be made, up to count (memory short, the SoundFont gone).
void Synthesizer::makeSpares(unsigned count, int sampleRate) {
    try {
        while (spares_.size() < count)
            spares_.push_back(std::make_unique<Synthesizer>(soundFonts_, sampleRate));
    } catch (const std::exception&) {
    }
}

void Synthesizer::awaitSpares() {
    if (spareLoader_.joinable())
        spareLoader_.join();
}

void Synthesizer::loadSpares(unsigned count, int sampleRate) {
    awaitSpares();
    try {
        spareLoader_ = std::thread([this, count, sampleRate] {
            platform::NameThisThread("quillory-spares");
            makeSpares(count, sampleRate);
        });
    } catch (const std::system_error&) {
        // spares() makes them on the caller's thread instead
    }
}

std::vector<Synthesizer*> Synthesizer::spares(unsigned count, int sampleRate) {
    awaitSpares();
    makeSpares(count, sampleRate);
    std::vector<Synthesizer*> lent;
    for (std::size_t i = 0; i < std::min<std::size_t>(count, spares_.size()); ++i)
        lent.push_back(spares_[i].get());
    return lent;
}

void Synthesizer::play(const MidiEvent& event) {
    if (log_)
        log_->event(event, framesRendered_);
    instance_.play(event);
    if (log_ && (event.status & 0xF0) == 0x90 && event.data2 > 0)
        log_->noteOn(instance_.get(), event.status & 0x0F, event.data1, event.data2,
                     framesRendered_);
}

void Synthesizer::render(float* left, float* right, int frames) {
    if (!log_) {
        framesRendered_ += std::uint64_t(frames);
        instance_.write(left, right, frames);
        return;
    }
    // FluidSynth renders a block when its first frame is asked for: the voices are then as they
    // are after that block.
    for (int done = 0; done < frames;) {
        const bool blockStarts = framesRendered_ % kFluidBlock == 0;
        const int piece = int(std::min<std::uint64_t>(std::uint64_t(frames - done),
                                                      kFluidBlock - framesRendered_ % kFluidBlock));
        instance_.write(left + done, right + done, piece);
        if (blockStarts)
            log_->blockRendered(instance_.get(), framesRendered_);
        framesRendered_ += std::uint64_t(piece);
        done += piece;
    }
}

void Synthesizer::setEffects(bool on) {
    instance_.setEffects(on);
}

bool Synthesizer::shareEffects(EffectShare& share, int pool, int tap) {
    if (!share.join(instance_.get(), pool, tap))
        return false;
    if (tap >= 0)
        instance_.setEffects(false);
    return true;
}

bool Synthesizer::canShareEffects() const {
    return fluid_synth_get_ladspa_fx(instance_.get()) != nullptr;
}

int Synthesizer::activeVoices() const {
    return fluid_synth_get_active_voice_count(instance_.get());
}

void Synthesizer::startWeighing() {
    if (probe_)
        probe_->reset();
}

Synthesizer::NoteCost Synthesizer::weigh(const MidiEvent& event) {
    if (!probe_)
        probe_ = std::make_unique<NoteProbe>(soundFonts_);
    return probe_->weigh(event);
}

} // namespace quillory::renderer
