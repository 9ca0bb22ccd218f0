// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The five MP3 settings an encoding window puts into its encoder when it loads, in the order
// the encoder expects them, whatever the bit-rate mode.
#pragma once

#include "app/settings/Settings.h"
#include "components/encoder/Mp3Encoder.h"
#include "components/encoder/Mp3Plan.h"

inline void PutEncoderProperties(Mp3Encoder& encoder, const SettingsRecord& s) {
    encoder.setVbrMode(s.VBR ? 1 : 0);
    encoder.setBitRateKbps(s.Bitrate);
    encoder.setChannelMode(s.Mp3Channels);
    encoder.setMaxBitRateKbps(s.MaxBitrate);
    encoder.setMinBitRateKbps(s.MinBitrate);
}

// The same five settings as the encoder engine takes them, for the renderer of an MP3's source.
inline encoder::Mp3Settings Mp3SettingsOf(const SettingsRecord& s) {
    return {s.VBR ? 1 : 0, s.Bitrate, s.Mp3Channels, s.MinBitrate, s.MaxBitrate};
}
