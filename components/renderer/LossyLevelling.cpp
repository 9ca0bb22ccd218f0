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

// Under the ceiling with our margin, and not louder than the target allows.
bool LossyLevelling::safe(const Loudness& decoded) const {
    if (!std::isfinite(decoded.truePeakDbtp))
        return true;
    return decoded.truePeakDbtp <= promise_.ceilingDbtp - kPeakMarginDb &&
           !(decoded.integratedLufs > promise_.lufs + kLoudnessToleranceLu);
}

// One that keeps the promise; else one that is safe, the closer to the target the better; else
// the one that passes the ceiling least.
bool LossyLevelling::better(const Take& a, const Take& b) const {
    const bool keepsA = keeps(a.gainDb, a.decoded);
    if (keepsA != keeps(b.gainDb, b.decoded))
        return keepsA;
    if (safe(a.decoded) != safe(b.decoded))
        return safe(a.decoded);
    if (!safe(a.decoded))
        return a.decoded.truePeakDbtp < b.decoded.truePeakDbtp;
    const auto distance = [&](const Loudness& decoded) {
        return std::isfinite(decoded.integratedLufs)
                   ? std::fabs(decoded.integratedLufs - promise_.lufs)
                   : promise_.ceilingDbtp - kPeakAimDb - decoded.truePeakDbtp;
    };
    return distance(a.decoded) < distance(b.decoded);
}

double LossyLevelling::nextGainDb(const Take& take) const {
    const Loudness& decoded = take.decoded;
    double change = promise_.ceilingDbtp - kPeakAimDb - decoded.truePeakDbtp;
    const bool peakBinds =
        !std::isfinite(decoded.integratedLufs) || change < promise_.lufs - decoded.integratedLufs;
    if (!peakBinds)
        change = promise_.lufs - decoded.integratedLufs;
    // Where the peak did not follow the gain, the last two takes tell how it does.
    if (peakBinds && previous_) {
        const double rise = decoded.truePeakDbtp - previous_->decoded.truePeakDbtp;
        const double step = take.gainDb - previous_->gainDb;
        if (std::isfinite(rise) && rise * step > 0)
            change *= step / rise;
    }
    double gain = std::min(take.gainDb + change, mostGainDb());
    // Between a take that was safe and one that was not, never on or past either.
    if (safeGainDb_ && overGainDb_ && *safeGainDb_ < *overGainDb_ &&
        !(gain > *safeGainDb_ && gain < *overGainDb_))
        gain = (*safeGainDb_ + *overGainDb_) / 2;
    return gain;
}

std::optional<double> LossyLevelling::retake(double gainDb, const Loudness& decoded) {
    ++takes_;
    const Take take{gainDb, decoded};
    bestIsLast_ = takes_ == 1 || better(take, best_);
    if (bestIsLast_)
        best_ = take;
    if (safe(decoded))
        safeGainDb_ = std::max(gainDb, safeGainDb_.value_or(gainDb));
    else
        overGainDb_ = std::min(gainDb, overGainDb_.value_or(gainDb));
    if (takes_ >= kMaxTakes || keeps(gainDb, decoded))
        return std::nullopt;
    const double next = nextGainDb(take);
    previous_ = take;
    return next;
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
