// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/renderer/LossyLevelling.h"

#include "components/encoder/Mp3Stream.h"

#include <algorithm>
#include <cmath>

namespace quillory::renderer {

LossyLevelling::LossyLevelling(const LoudnessTarget& promise, double encoderGainDb)
    : promise_(promise)
    , encoderGainDb_(encoderGainDb) {
    promise_.encoderGainDb = 0;
}

LoudnessTarget LossyLevelling::firstTake() const {
    LoudnessTarget first = promise_;
    first.ceilingDbtp -= kFirstTakeHeadroomDb;
    first.encoderGainDb = encoderGainDb_;
    return first;
}

bool LossyLevelling::keeps(double gainDb, const Loudness& decoded) const {
    // Digital silence, which no gain changes.
    if (!std::isfinite(decoded.truePeakDbtp))
        return true;
    if (decoded.truePeakDbtp > promise_.ceilingDbtp - kPeakMarginDb)
        return false;
    const double lufs = decoded.integratedLufs;
    if (std::isfinite(lufs) && std::fabs(lufs - promise_.lufs) <= kLoudnessToleranceLu)
        return true;
    if (std::isfinite(lufs) && lufs > promise_.lufs)
        return false;
    // Too quiet: only the peak, or the most a song is raised, may hold it there.
    const bool held = decoded.truePeakDbtp >= promise_.ceilingDbtp - kHeldWindowDb + kPeakMarginDb;
    return held || gainDb >= mostGainDb() - 0.01;
}

std::optional<double> LossyLevelling::retake(double gainDb, const Loudness& decoded) {
    ++takes_;
    if (takes_ >= kMaxTakes || keeps(gainDb, decoded))
        return std::nullopt;
    // Codecs are close to linear: the decoded file follows the gain.
    double change = promise_.ceilingDbtp - kPeakAimDb - decoded.truePeakDbtp;
    if (std::isfinite(decoded.integratedLufs))
        change = std::min(change, promise_.lufs - decoded.integratedLufs);
    return std::min(gainDb + change, mostGainDb());
}

Mp3Levelling levellingForMp3(const LoudnessTarget& promise, const encoder::Mp3Stream& stream) {
    return {LossyLevelling(promise, stream.levelChangeDb()), stream.plan().outputChannels()};
}

Mp3Levelling levellingForMp3(const LoudnessTarget& promise, const encoder::Mp3Settings& settings,
                             int sourceRate, int sourceChannels) {
    encoder::Mp3Stream stream;
    if (!stream.open(settings, sourceRate, sourceChannels))
        return {LossyLevelling(promise), sourceChannels};
    return levellingForMp3(promise, stream);
}

} // namespace quillory::renderer
