// The gauge's window: shows what the gauge draws, and tells it when its size changes.
#pragma once

#include <QWidget>

namespace gauge {

class OmbrelGauge;

class GaugeWidget final : public QWidget {
public:
    GaugeWidget(OmbrelGauge& gauge, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    OmbrelGauge& gauge_;
};

} // namespace gauge
