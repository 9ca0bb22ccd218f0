// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The gauge's window: shows what the gauge draws, tells it when its size changes, and tells a
// screen reader the shown value as often as ValueAnnouncer allows.
#pragma once

#include "gauge/ValueAnnouncer.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

namespace gauge {

class OmbrelGauge;

class GaugeWidget final : public QWidget {
    Q_OBJECT
public:
    GaugeWidget(OmbrelGauge& gauge, QWidget* parent);

    const OmbrelGauge& gauge() const { return gauge_; }
    // Repaints after a property call, and tells a changed value to screen readers.
    void refresh();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void tellValue();

    OmbrelGauge& gauge_;
    ValueAnnouncer announcer_;
    QElapsedTimer clock_;
    QTimer pendingTell_;
};

} // namespace gauge
