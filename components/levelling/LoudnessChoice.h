// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What the user chose about loudness, as options.ini ("[Renderer] Loudness=") and the batch
// converter's --loudness option spell it: "Off" for the synthesiser's fixed gain, or a target in
// LUFS from -30 to -5 that every MIDI render is brought to. Only text; the levelling itself is in
// Loudness.h. Header-only, so the settings code and the renderer's contract can use it without
// linking the renderer.
#pragma once

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

namespace quillory::renderer {

struct LoudnessChoice {
    static constexpr double kDefaultLufs = -16.0;
    static constexpr double kLowestLufs = -30.0;
    static constexpr double kHighestLufs = -5.0;

    bool even = true; // false: the synthesiser's fixed gain, as before levelling existed
    double lufs = kDefaultLufs;

    static LoudnessChoice off() { return {false, kDefaultLufs}; }

    // "off" in any case, or a plain decimal number (such as -16 or -14.5) within the range;
    // nothing for anything else.
    static std::optional<LoudnessChoice> parse(std::string_view text) {
        if (text.size() == 3 && (text[0] | 0x20) == 'o' && (text[1] | 0x20) == 'f' &&
            (text[2] | 0x20) == 'f')
            return off();
        double value = 0;
        const char* end = text.data() + text.size();
        const auto [ptr, ec] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
        if (text.empty() || ec != std::errc() || ptr != end || !(value >= kLowestLufs) ||
            !(value <= kHighestLufs))
            return std::nullopt;
        return LoudnessChoice{true, value};
    }

    // "Off", or the target in its shortest decimal form ("-16", "-14.5").
    std::string text() const {
        if (!even)
            return "Off";
        char buffer[32];
        const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, lufs);
        return ec == std::errc() ? std::string(buffer, ptr) : std::string("-16");
    }

    // Two choices that are off are the same whatever target they remember.
    bool operator==(const LoudnessChoice& other) const {
        return even == other.even && (!even || lufs == other.lufs);
    }
};

} // namespace quillory::renderer
