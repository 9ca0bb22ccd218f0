// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Reverb and chorus paid once for a split song (see effectshare/EffectSharePlugin.cpp): the
// further synthesisers hand their effect sends to the first through FluidSynth's LADSPA host and
// our plugin, which lies beside the program. Without it, or with a FluidSynth built without
// LADSPA, every synthesiser runs its own reverb and chorus, as before; the sum is the same.
#pragma once

#include <string>

struct _fluid_synth_t;

namespace quillory::renderer {

class EffectShare {
public:
    // The plugin, loaded on first use and kept; nullptr when it cannot be used.
    static EffectShare* available();

    // A pool for one split song with `taps` further synthesisers, and its end: closing it
    // releases every synthesiser that waits on it (a stop), and it must be closed before its
    // synthesisers are used again.
    int open(int taps);
    void close(int pool);

    // Sets up a synthesiser made with its LADSPA host on (FluidInstance's shareable) for one
    // split song: the first (tap < 0) gathers the sends of the others and runs its reverb and
    // chorus on them all; a further one (tap 0, 1, ...) hands its sends on, and its owner then
    // turns its own effects off. False when FluidSynth refused: the synthesiser keeps its own.
    bool join(_fluid_synth_t* synth, int pool, int tap);
    // Back to a synthesiser with its own effects: before it renders anything else.
    static void clear(_fluid_synth_t* synth);

private:
    explicit EffectShare(std::string path, void* library);

    std::string path_;
    int (*open_)(int) = nullptr;
    void (*close_)(int) = nullptr;
};

} // namespace quillory::renderer
