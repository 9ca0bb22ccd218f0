// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/renderer/Mp3Levelling.h"

#include "components/encoder/Mp3Stream.h"

#include <algorithm>

namespace quillory::renderer {

Mp3Levelling levellingForMp3(const LoudnessTarget& target, const encoder::Mp3Stream& stream) {
    Mp3Levelling levelling{target, stream.plan().outputChannels()};
    levelling.target.ceilingDbtp = std::min(target.ceilingDbtp, kMp3CeilingDbtp);
    levelling.target.encoderGainDb = stream.levelChangeDb();
    return levelling;
}

Mp3Levelling levellingForMp3(const LoudnessTarget& target, const encoder::Mp3Settings& settings,
                             int sourceRate, int sourceChannels) {
    encoder::Mp3Stream stream;
    if (!stream.open(settings, sourceRate, sourceChannels))
        return {target, sourceChannels};
    return levellingForMp3(target, stream);
}

} // namespace quillory::renderer
