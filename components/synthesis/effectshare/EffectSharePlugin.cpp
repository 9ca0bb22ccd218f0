// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Reverb and chorus run once for a split song. Every synthesiser of the split but the first plays
// with its own reverb and chorus off and hands what its voices send to them to the first, which
// adds it to its own sends before its reverb and chorus run. Both effects are linear, so the first
// gives what one synthesiser playing every note would give, and the effects are paid once instead
// of once a synthesiser: on a thin real song they are a quarter of the synthesis.
//
// FluidSynth hands its effect sends ("Reverb:Send", "Chorus:Send") only to LADSPA plugins, and
// runs those before its own effects, so this is a LADSPA plugin, loaded by FluidSynth from the
// file our process names. Our process opens the same file too (one copy in memory), and through
// the functions below makes a pool of rings for each split song that the plugins' instances find
// by its number, given to them as a control value.
//   "tap": the sends of a further synthesiser, written to its ring of the pool;
//   "gather": added to the first synthesiser's sends, waiting until every tap has written them.
// A tap waits only for room, which the pool's size keeps ahead of what the renderer's queue lets
// the lanes drift apart; closing the pool releases every waiter.
#include <ladspa.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr std::uint64_t kRingFrames = std::uint64_t(1) << 17; // 3 s at 44.1 kHz
constexpr std::uint64_t kClosed = std::uint64_t(1) << 62;

struct Ring {
    std::vector<float> reverb = std::vector<float>(kRingFrames);
    std::vector<float> chorus = std::vector<float>(kRingFrames);
    std::atomic<std::uint64_t> written{0};
    std::atomic<std::uint64_t> read{0};
};

struct Pool {
    explicit Pool(int taps) {
        for (int i = 0; i < taps; ++i)
            rings.push_back(std::make_unique<Ring>());
    }
    std::vector<std::unique_ptr<Ring>> rings;
    std::atomic<bool> closed{false};
};

std::mutex poolsLock;
std::map<int, std::shared_ptr<Pool>> pools;
int lastPool = 0;

std::shared_ptr<Pool> findPool(float number) {
    std::lock_guard lock(poolsLock);
    const auto found = pools.find(int(number));
    return found == pools.end() ? nullptr : found->second;
}

// Waits until `ready` holds or the pool is closed; whether it holds.
template <typename Ready>
bool await(std::atomic<std::uint64_t>& counter, const Pool& pool, Ready ready) {
    for (std::uint64_t seen = counter.load(std::memory_order_acquire); !ready(seen);
         seen = counter.load(std::memory_order_acquire)) {
        if (pool.closed.load(std::memory_order_acquire))
            return false;
        counter.wait(seen, std::memory_order_acquire);
    }
    return true;
}

// A tap's "Out" is there because FluidSynth runs only effects that give something back to it: it
// is mixed into the sends (which its own effects, turned off, do not hear), and adds nothing.
enum Port : unsigned long { kReverb, kChorus, kPool, kTap, kOut, kPorts };

struct Instance {
    bool gathers = false;
    LADSPA_Data* ports[kPorts] = {};
    float poolNumber = 0;
    std::shared_ptr<Pool> pool;
    std::uint64_t frames = 0; // rendered by this synthesiser since the pool opened
    LADSPA_Data gain = 1;

    Pool* attached() {
        if (!pool || poolNumber != *ports[kPool]) {
            poolNumber = *ports[kPool];
            pool = findPool(poolNumber);
            frames = 0;
        }
        return pool.get();
    }
};

void tap(Instance& self, unsigned long count) {
    Pool* pool = self.attached();
    const auto index = std::size_t(*self.ports[kTap]);
    if (!pool || index >= pool->rings.size())
        return;
    Ring& ring = *pool->rings[index];
    for (unsigned long done = 0; done < count;) {
        const std::uint64_t at = self.frames + done;
        if (!await(ring.read, *pool, [&](std::uint64_t read) { return at - read < kRingFrames; }))
            return;
        const std::uint64_t room = kRingFrames - (at - ring.read.load(std::memory_order_acquire));
        const auto n = std::size_t(
            std::min<std::uint64_t>({count - done, room, kRingFrames - at % kRingFrames}));
        std::copy_n(self.ports[kReverb] + done, n, ring.reverb.begin() + long(at % kRingFrames));
        std::copy_n(self.ports[kChorus] + done, n, ring.chorus.begin() + long(at % kRingFrames));
        ring.written.store(at + n, std::memory_order_release);
        ring.written.notify_all();
        done += n;
    }
    self.frames += count;
}

// Adds every tap's sends for the same frames; `replace` first clears the outputs (run) instead of
// adding to them (run_adding).
void gather(Instance& self, unsigned long count, bool replace) {
    if (replace) {
        std::fill_n(self.ports[kReverb], count, 0.0f);
        std::fill_n(self.ports[kChorus], count, 0.0f);
    }
    Pool* pool = self.attached();
    if (!pool)
        return;
    for (auto& ringPtr : pool->rings) {
        Ring& ring = *ringPtr;
        for (unsigned long done = 0; done < count;) {
            const std::uint64_t at = self.frames + done;
            if (!await(ring.written, *pool, [&](std::uint64_t written) { return written > at; }))
                break;
            const auto n = std::size_t(std::min<std::uint64_t>(
                {count - done, ring.written.load(std::memory_order_acquire) - at,
                 kRingFrames - at % kRingFrames}));
            const float* reverb = ring.reverb.data() + at % kRingFrames;
            const float* chorus = ring.chorus.data() + at % kRingFrames;
            for (std::size_t i = 0; i < n; ++i) {
                self.ports[kReverb][done + i] += self.gain * reverb[i];
                self.ports[kChorus][done + i] += self.gain * chorus[i];
            }
            done += n;
        }
        ring.read.store(self.frames + count, std::memory_order_release);
        ring.read.notify_all();
    }
    self.frames += count;
}

LADSPA_Handle instantiate(const LADSPA_Descriptor* descriptor, unsigned long) {
    auto* instance = new (std::nothrow) Instance;
    if (instance)
        instance->gathers = descriptor->UniqueID % 2 == 0;
    return instance;
}

void connect(LADSPA_Handle handle, unsigned long port, LADSPA_Data* data) {
    if (port < kPorts)
        static_cast<Instance*>(handle)->ports[port] = data;
}

// run (Replace) and run_adding: FluidSynth mixes both plugins' outputs in, so calls the second.
template <bool Replace>
void run(LADSPA_Handle handle, unsigned long count) {
    auto& self = *static_cast<Instance*>(handle);
    if (self.gathers)
        gather(self, count, Replace);
    else
        tap(self, count);
}

void setGain(LADSPA_Handle handle, LADSPA_Data gain) {
    static_cast<Instance*>(handle)->gain = gain;
}

void cleanup(LADSPA_Handle handle) {
    delete static_cast<Instance*>(handle);
}

constexpr LADSPA_PortDescriptor kTapPorts[] = {
    LADSPA_PORT_INPUT | LADSPA_PORT_AUDIO, LADSPA_PORT_INPUT | LADSPA_PORT_AUDIO,
    LADSPA_PORT_INPUT | LADSPA_PORT_CONTROL, LADSPA_PORT_INPUT | LADSPA_PORT_CONTROL,
    LADSPA_PORT_OUTPUT | LADSPA_PORT_AUDIO};
constexpr LADSPA_PortDescriptor kGatherPorts[] = {LADSPA_PORT_OUTPUT | LADSPA_PORT_AUDIO,
                                                  LADSPA_PORT_OUTPUT | LADSPA_PORT_AUDIO,
                                                  LADSPA_PORT_INPUT | LADSPA_PORT_CONTROL};
const char* const kPortNames[] = {"Reverb", "Chorus", "Pool", "Tap", "Out"};
constexpr LADSPA_PortRangeHint kHints[] = {{0, 0, 0},
                                           {0, 0, 0},
                                           {LADSPA_HINT_INTEGER | LADSPA_HINT_DEFAULT_0, 0, 0},
                                           {LADSPA_HINT_INTEGER | LADSPA_HINT_DEFAULT_0, 0, 0},
                                           {0, 0, 0}};

LADSPA_Descriptor describe(unsigned long id, const char* label, const char* name,
                           const LADSPA_PortDescriptor* ports, unsigned long count) {
    return {id,         label,      LADSPA_PROPERTY_HARD_RT_CAPABLE,
            name,       "Quillory", "GPL-3.0-or-later",
            count,      ports,      kPortNames,
            kHints,     nullptr,    instantiate,
            connect,    nullptr,    run<true>,
            run<false>, setGain,    nullptr,
            cleanup};
}

const LADSPA_Descriptor kTapPlugin =
    describe(0x51e1, "tap", "Effect sends of a further synthesiser", kTapPorts, 5);
const LADSPA_Descriptor kGatherPlugin =
    describe(0x51e2, "gather", "Effect sends of the further synthesisers", kGatherPorts, 3);

} // namespace

extern "C" {

__attribute__((visibility("default"))) const LADSPA_Descriptor*
ladspa_descriptor(unsigned long index) {
    return index == 0 ? &kTapPlugin : index == 1 ? &kGatherPlugin : nullptr;
}

// A pool of rings for `taps` further synthesisers; its number, for the instances' "Pool".
__attribute__((visibility("default"))) int quillory_effect_share_open(int taps) {
    std::lock_guard lock(poolsLock);
    lastPool = lastPool % (1 << 23) + 1; // exact as a float control value
    pools[lastPool] = std::make_shared<Pool>(taps);
    return lastPool;
}

// Releases every instance waiting on the pool, now and later; the rings go with the last one.
__attribute__((visibility("default"))) void quillory_effect_share_close(int number) {
    std::shared_ptr<Pool> pool;
    {
        std::lock_guard lock(poolsLock);
        const auto found = pools.find(number);
        if (found == pools.end())
            return;
        pool = found->second;
        pools.erase(found);
    }
    // A waiter sleeps until its counter changes: every counter leaps ahead, and the waiters, on
    // waking, find the pool closed (what a gatherer then adds no longer matters).
    pool->closed.store(true, std::memory_order_release);
    for (auto& ring : pool->rings) {
        ring->read.store(kClosed, std::memory_order_release);
        ring->written.store(kClosed, std::memory_order_release);
        ring->read.notify_all();
        ring->written.notify_all();
    }
}
}
