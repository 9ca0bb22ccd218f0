// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/synthesis/EffectShare.h"

#include "platform/CodeFile.h"

#include <fluidsynth.h>

#include <dlfcn.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace quillory::renderer {

namespace {

constexpr const char* kPluginFile = "quillory-effect-share.so";

// Beside the file that holds this code, as installed and as built: the program, or the Python
// module (which python3 runs, far from the program folder), beside which lies the plugin or a link
// to the program's copy.
std::filesystem::path pluginPath() {
    const std::filesystem::path code =
        platform::CodeFileOf(reinterpret_cast<const void*>(&pluginPath));
    return code.empty() ? std::filesystem::path() : code.parent_path() / kPluginFile;
}

} // namespace

EffectShare::EffectShare(std::string path, void* library)
    : path_(std::move(path))
    , open_(reinterpret_cast<int (*)(int)>(dlsym(library, "quillory_effect_share_open")))
    , close_(reinterpret_cast<void (*)(int)>(dlsym(library, "quillory_effect_share_close"))) {
}

EffectShare* EffectShare::available() {
    static EffectShare* const share = []() -> EffectShare* {
        const std::filesystem::path path = pluginPath();
        std::error_code error;
        if (path.empty() || !std::filesystem::is_regular_file(path, error))
            return nullptr;
        // Kept open for the process, so that FluidSynth's own opening finds this copy.
        void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return nullptr;
        auto* found = new EffectShare(path.string(), library);
        if (!found->open_ || !found->close_) {
            delete found;
            return nullptr;
        }
        return found;
    }();
    return share;
}

int EffectShare::open(int taps) {
    return open_(taps);
}

void EffectShare::close(int pool) {
    close_(pool);
}

bool EffectShare::join(fluid_synth_t* synth, int pool, int tap) {
    fluid_ladspa_fx_t* fx = fluid_synth_get_ladspa_fx(synth);
    if (!fx)
        return false;
    clear(synth);
    const bool gathers = tap < 0;
    const char* name = gathers ? "gather" : "tap"; // the plugin's labels
    bool ok = fluid_ladspa_add_effect(fx, name, path_.c_str(), name) == FLUID_OK &&
              fluid_ladspa_effect_link(fx, name, "Reverb", "Reverb:Send") == FLUID_OK &&
              fluid_ladspa_effect_link(fx, name, "Chorus", "Chorus:Send") == FLUID_OK &&
              fluid_ladspa_effect_set_control(fx, name, "Pool", float(pool)) == FLUID_OK;
    if (ok && !gathers)
        ok = fluid_ladspa_effect_set_control(fx, name, "Tap", float(tap)) == FLUID_OK &&
             fluid_ladspa_effect_link(fx, name, "Out", "Reverb:Send") == FLUID_OK;
    ok = ok && fluid_ladspa_effect_set_mix(fx, name, 1, 1.0f) == FLUID_OK;
    ok = ok && fluid_ladspa_activate(fx) == FLUID_OK;
    if (!ok)
        clear(synth);
    return ok;
}

void EffectShare::clear(fluid_synth_t* synth) {
    fluid_ladspa_fx_t* fx = fluid_synth_get_ladspa_fx(synth);
    if (!fx)
        return;
    if (fluid_ladspa_is_active(fx))
        fluid_ladspa_deactivate(fx);
    fluid_ladspa_reset(fx);
}

} // namespace quillory::renderer
