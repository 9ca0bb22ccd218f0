// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Colours as the stored layouts hold them: 0x00BBGGRR, or 0x80000000 + n for system colour n.
#pragma once

#include <QColor>
#include <cstdint>

namespace platform {

using OleColor = std::uint32_t;

constexpr OleColor SystemColourFlag = 0x80000000u;
constexpr OleColor ColourWindowText = 0x80000008u;
constexpr OleColor ColourButtonFace = 0x8000000Fu;
constexpr OleColor ColourGreyText = 0x80000011u;
constexpr OleColor ColourButtonText = 0x80000012u;

constexpr OleColor Rgb(int red, int green, int blue) {
    return OleColor(red & 0xFF) | OleColor(green & 0xFF) << 8 | OleColor(blue & 0xFF) << 16;
}
constexpr int RedOf(OleColor c) {
    return int(c % 256);
}
constexpr int GreenOf(OleColor c) {
    return int(c / 256 % 256);
}
constexpr int BlueOf(OleColor c) {
    return int(c / 65536 % 256);
}

// A plain colour converts directly; a system colour takes the application palette's colour.
QColor ToQColor(OleColor colour);

} // namespace platform
