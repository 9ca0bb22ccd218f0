// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The progress bar on a window: an OmbrelGauge control created through the control registry
// from the window's stored properties, inside a container that puts Value by dispatch id and
// BackColor by name, as the windows do at run time. When the control cannot be had, the user
// is told why and how to register it, and the window goes on without a bar.
#pragma once

#include "platform/Colour.h"

#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>

namespace platform::control {
class HostedControl;
}

// The stored properties a window keeps for its bar.
struct GaugeLayout {
    std::int16_t value = 0;
    platform::OleColor backColor = 0xFFFFFF;
    platform::OleColor percentColor = 0x0000FF;
    platform::OleColor progressColor = 0x00FF00;
    platform::OleColor borderColor = 0x008000;
    QString fontName = QStringLiteral("Arial");
    float fontSize = 9.75f;
    bool fadeEnabled = true;
};

class ProgressBar : public QWidget {
    Q_OBJECT
    Q_PROPERTY(quint32 BackColor READ backColor WRITE setBackColor)
public:
    // A bar named name at geometry (pixels) on window; it shows no control when creation failed.
    static ProgressBar* Place(QWidget* window, const QString& name, QRect geometry,
                              const GaugeLayout& layout);
    ~ProgressBar() override;

    bool hasControl() const { return control_ != nullptr; }
    // Puts Value by its dispatch id, with the percentage passed by reference.
    void putValue(std::int16_t percent);
    std::int16_t value() const;
    quint32 backColor() const;
    void setBackColor(quint32 colour);

private:
    explicit ProgressBar(QWidget* window);
    std::unique_ptr<platform::control::HostedControl> control_;
};
