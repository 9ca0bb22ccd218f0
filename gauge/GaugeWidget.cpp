// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "gauge/GaugeWidget.h"

#include "gauge/GaugeAccessible.h"
#include "gauge/OmbrelGauge.h"

#include <QAccessible>
#include <QPainter>
#include <QResizeEvent>

namespace gauge {

GaugeWidget::GaugeWidget(OmbrelGauge& gauge, QWidget* parent)
    : QWidget(parent)
    , gauge_(gauge)
    , announcer_(gauge.Value()) {
    static const bool accessible = (QAccessible::installFactory(GaugeAccessible), true);
    Q_UNUSED(accessible);
    setAttribute(Qt::WA_OpaquePaintEvent);
    clock_.start();
    pendingTell_.setSingleShot(true);
    connect(&pendingTell_, &QTimer::timeout, this, &GaugeWidget::tellValue);
}

void GaugeWidget::refresh() {
    update();
    const std::optional<std::int64_t> wait = announcer_.shown(gauge_.Value(), clock_.elapsed());
    if (!wait)
        pendingTell_.stop();
    else if (*wait == 0)
        tellValue();
    else if (!pendingTell_.isActive())
        pendingTell_.start(int(*wait));
}

void GaugeWidget::tellValue() {
    pendingTell_.stop();
    QAccessibleValueChangeEvent changed(this, announcer_.tell(clock_.elapsed()));
    QAccessible::updateAccessibility(&changed);
}

void GaugeWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    gauge_.Paint(painter);
}

void GaugeWidget::resizeEvent(QResizeEvent* event) {
    // A failing layout leaves the parts where they were; there is nobody to report it to.
    gauge_.Resize(event->size());
    update();
}

} // namespace gauge
