// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The five MP3 settings an encoding window puts into its encoder when it loads, in the order
// the encoder expects them, whatever the bit-rate mode.
#pragma once

#include "app/settings/Settings.h"
#include "components/encoder/Mp3Encoder.h"

inline void PutEncoderProperties(Mp3Encoder& encoder, const SettingsRecord& s) {
    encoder.setVbrMode(s.VBR ? 1 : 0);
    encoder.setBitRateKbps(s.Bitrate);
    encoder.setChannelMode(s.Mp3Channels);
    encoder.setMaxBitRateKbps(s.MaxBitrate);
    encoder.setMinBitRateKbps(s.MinBitrate);
}
