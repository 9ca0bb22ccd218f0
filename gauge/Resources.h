// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// What a design tool learns about the library without running it. A shared library on this
// system has no version block or resources, so the library carries them in two ELF sections of
// its own: ".ombrel.meta" holds key=value texts, one per NUL-terminated string (readelf -p
// .ombrel.meta libombrel.so lists them), and ".ombrel.res.30000" holds the toolbox bitmap,
// resource 30000, as a complete BMP file (objcopy -O binary --only-section extracts it).
#pragma once

#include <QByteArray>
#include <QString>

namespace gauge {

inline constexpr int ToolboxBitmapId = 30000;

// The value of key in the metadata, or an empty string.
QString MetadataValue(const QString& key);
// The 16 x 15, 24-bit toolbox bitmap as a BMP file.
QByteArray ToolboxBitmap();

} // namespace gauge
