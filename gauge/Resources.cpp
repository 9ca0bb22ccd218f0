// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "gauge/Resources.h"

#include <QList>
#include <array>

namespace gauge {

namespace {

// Interface and library ids are spelled out here as text; a test holds them to OmbrelIds.h.
__attribute__((section(".ombrel.meta"), used)) const char Metadata[] =
    "FileVersion=1.00\0"
    "ProductVersion=1.00\0"
    "Comments=Progress Bar\0"
    "OLESelfRegister=\0"
    "ProductName=Ombrel\0"
    "TypeLib.Name=Ombrel\0"
    "TypeLib.HelpString=Ombrel\0"
    "TypeLib.Version=1.0\0"
    "TypeLib.Locale=0x0409\0"
    "TypeLib.Id={CBE39D83-FEC3-44B9-8865-C001B2AC0EFD}\0"
    "Class.Name=OmbrelGauge\0"
    "Class.ProgID=Ombrel.OmbrelGauge\0"
    "Class.Id={F98BA2BD-1CE7-4099-9299-42CC169430F4}\0"
    "Class.Control=1\0"
    "Interface._OmbrelGauge={AF545E4D-6719-46FA-9795-F6240DAD9781}\0"
    "Interface.__OmbrelGauge={9505C7AA-CDA5-43A9-9C21-6AAE705A9C21}\0"
    "ToolboxBitmap=30000\0"
    "PropertyPage.1=StandardFont\0"
    "PropertyPage.2=StandardColor\0"
    "PropertyPage.3=StandardPicture\0"
    "PropertyPage.4=StandardDataFormat";

constexpr int IconWidth = 16;
constexpr int IconHeight = 15;
constexpr int RowBytes = IconWidth * 3; // already a multiple of four
constexpr int HeaderBytes = 14 + 40;
constexpr std::size_t BitmapBytes = HeaderBytes + RowBytes * IconHeight;

struct Rgb {
    int r, g, b;
};

// A small bar: a dark green frame, a fade from light orange to green over its left half,
// white to the right, on the button face.
constexpr Rgb iconPixel(int x, int y) {
    constexpr int top = 4, bottom = 10, left = 1, right = 14, filled = 8;
    if (x < left || x > right || y < top || y > bottom)
        return {192, 192, 192};
    if (x == left || x == right || y == top || y == bottom)
        return {0, 128, 0};
    if (x > filled)
        return {255, 255, 255};
    const int step = y - (top + 1);
    return {255 - 60 * step, 192, 128 - 32 * step};
}

constexpr std::array<unsigned char, BitmapBytes> makeToolboxBitmap() {
    std::array<unsigned char, BitmapBytes> b{};
    const auto put = [&b](int at, unsigned value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            b[std::size_t(at + i)] = (value >> (8 * i)) & 0xFF;
    };
    b[0] = 'B';
    b[1] = 'M';
    put(2, BitmapBytes, 4);
    put(10, HeaderBytes, 4);
    put(14, 40, 4);
    put(18, IconWidth, 4);
    put(22, IconHeight, 4); // positive: rows stored bottom-up
    put(26, 1, 2);
    put(28, 24, 2);
    put(34, RowBytes * IconHeight, 4);
    put(38, 2835, 4); // 72 dots per inch
    put(42, 2835, 4);
    for (int y = 0; y < IconHeight; ++y) {
        for (int x = 0; x < IconWidth; ++x) {
            const Rgb c = iconPixel(x, y);
            const int at = HeaderBytes + (IconHeight - 1 - y) * RowBytes + 3 * x;
            put(at, unsigned(c.b), 1);
            put(at + 1, unsigned(c.g), 1);
            put(at + 2, unsigned(c.r), 1);
        }
    }
    return b;
}

__attribute__((section(".ombrel.res.30000"), used)) const std::array<unsigned char, BitmapBytes>
    Bitmap30000 = makeToolboxBitmap();

} // namespace

QString MetadataValue(const QString& key) {
    const QByteArray text(Metadata, sizeof Metadata);
    const QString prefix = key + QLatin1Char('=');
    for (const QByteArray& entry : text.split('\0')) {
        const QString line = QString::fromUtf8(entry);
        if (line.startsWith(prefix))
            return line.mid(prefix.size());
    }
    return QString();
}

QByteArray ToolboxBitmap() {
    return QByteArray(reinterpret_cast<const char*>(Bitmap30000.data()), int(Bitmap30000.size()));
}

} // namespace gauge
