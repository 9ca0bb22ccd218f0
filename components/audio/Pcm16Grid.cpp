// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/audio/Pcm16Grid.h"

namespace quillory::renderer {

std::span<const float> Pcm16Grid::add(const float* samples, std::size_t count) {
    in_.insert(in_.end(), samples, samples + count);
    return quantize(in_.size() & ~std::size_t(7));
}

std::span<const float> Pcm16Grid::flush() {
    return quantize(in_.size());
}

// The first `count` samples held, quantised; the rest wait.
std::span<const float> Pcm16Grid::quantize(std::size_t count) {
    shorts_.resize(count);
    out_.resize(count);
    quantizer_.quantize(in_.data(), count, 1.0f, shorts_.data());
    for (std::size_t i = 0; i < count; ++i)
        out_[i] = float(shorts_[i]) * (1.0f / 32768.0f);
    in_.erase(in_.begin(), in_.begin() + std::ptrdiff_t(count));
    return {out_.data(), count};
}

} // namespace quillory::renderer
