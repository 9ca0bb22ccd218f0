#include "gauge/GaugeWidget.h"

#include "gauge/OmbrelGauge.h"

#include <QPainter>
#include <QResizeEvent>

namespace gauge {

GaugeWidget::GaugeWidget(OmbrelGauge& gauge, QWidget* parent)
    : QWidget(parent)
    , gauge_(gauge) {
    setAttribute(Qt::WA_OpaquePaintEvent);
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
