// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Helpers shared by the gauge tests: a gauge laid out at a pixel size, pixel reading, and a
// site that records notifications and hands out an ambient font.
#pragma once

#include "gauge/OmbrelGauge.h"
#include "platform/control/StdObjects.h"

#include <QImage>
#include <memory>
#include <optional>
#include <vector>

namespace gaugetest {

using namespace platform::control;
using gauge::OmbrelGauge;

// A new control as a host places it: initialised, then sized; the text is hidden so that
// pixel checks see only the bar, unless showText.
inline std::unique_ptr<OmbrelGauge> NewGauge(QSize pixels, bool showText = false) {
    auto gauge = std::make_unique<OmbrelGauge>();
    gauge->InitNew();
    gauge->Resize(pixels);
    if (!showText)
        gauge->SetPercentVisible(false);
    return gauge;
}

inline QColor Pixel(const QImage& image, int x, int y) {
    return QColor(image.pixel(x, y));
}

inline QColor Colour(platform::OleColor c) {
    return platform::ToQColor(c);
}

// Pixels of the text colour (pure red in these tests), antialiased edges included.
inline int RedPixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = Pixel(image, x, y);
            n += c.red() > 150 && c.green() < 110 && c.blue() < 110;
        }
    return n;
}

class RecordingSite final : public ComObject<RecordingSite, IControlSite> {
public:
    static ComPtr<RecordingSite> Create(std::optional<FontDescription> ambient) {
        auto site = ComPtr<RecordingSite>::Adopt(new RecordingSite);
        site->ambient = std::move(ambient);
        return site;
    }
    HResult GetAmbientFont(IFontObject** out) override {
        if (!ambient)
            return hr::Fail;
        *out = CreateFontObject(*ambient).Detach();
        return hr::Ok;
    }
    void OnChanged(DispId property) override { changes.push_back(property); }

    std::optional<FontDescription> ambient;
    std::vector<DispId> changes;
};

inline FontDescription Font(const char* name, float size, bool bold = false,
                            bool underline = false) {
    FontDescription f;
    f.name = QLatin1String(name);
    f.size = size;
    f.bold = bold;
    f.underline = underline;
    return f;
}

} // namespace gaugetest
