// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Where a song ends after its last event: a plucked harp or a piano let go rings on through its
// release, and reverb and chorus ring on after every voice has stopped, so the tail is judged on
// what is heard, the whole output, and not on whether a voice still sounds. It ends once the
// output has stayed below a floor (-90 dBFS unless the caller raises it later by a gain) for
// 100 ms, and at 15 s at the most, where a note that is never let go is faded out over the last
// 50 ms instead of being cut. The tail is judged in FluidSynth's own blocks of 64 frames, so one
// synthesiser and several summed end on the same frame.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillory::renderer {

class SongTail {
public:
    static constexpr int kLongestSeconds = 15;
    static constexpr double kFloorDb = -90.0;
    static constexpr double kQuietSeconds = 0.1;
    static constexpr double kFadeSeconds = 0.05;
    static constexpr std::size_t kStep = 64;

    explicit SongTail(int sampleRate, double floorDb = kFloorDb);

    // The longest tail at the rate, in frames.
    static std::uint64_t longest(int sampleRate) {
        return std::uint64_t(kLongestSeconds) * std::uint64_t(sampleRate);
    }
    // A lower floor for a song whose level is raised afterwards by up to `boostDb`: judged on
    // the synthesiser's output, it still ends below -90 dBFS once raised.
    void lowerFloorBy(double boostDb);

    // How many frames the next piece of the tail may have: at most `room` and one step, never
    // past the longest tail.
    std::size_t nextStep(std::size_t room) const;
    // Takes the next `frames` of the tail (any number, stepped through in kStep pieces), fades
    // those that fall into the last 50 ms, and returns how many belong to the song: all of them,
    // or fewer where the tail ended on the way.
    std::size_t take(float* left, float* right, std::size_t frames);
    bool over() const { return over_; }
    std::uint64_t frames() const { return frames_; }
    // Fades `count` frames that begin `from` frames into the tail as take() fades the tail's
    // own: for parts of the sound (stems) that must add up to what take() was given.
    void fade(std::uint64_t from, float* left, float* right, std::size_t count) const;

private:
    float floor_;
    std::uint64_t longest_;
    std::uint64_t quietNeeded_;
    std::uint64_t fadeFrames_;
    std::uint64_t frames_ = 0;
    std::uint64_t quiet_ = 0;
    bool over_ = false;
};

} // namespace quillory::renderer
