// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "gauge/GaugeAccessible.h"

#include "gauge/GaugeWidget.h"
#include "gauge/OmbrelGauge.h"
#include "gauge/SteppingActions.h"

#include <QAccessibleWidget>

namespace gauge {

namespace {

class BarAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit BarAccessible(GaugeWidget* bar)
        : QAccessibleWidget(bar, QAccessible::ProgressBar) {
        HideSteppingActions();
    }

    // A reader learns which interfaces the bar has before it asks for its actions.
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ActionInterface)
            HideSteppingActions();
        if (type == QAccessible::ValueInterface && !AnsweringActionQuestion())
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    // The text over the bar, while it is shown; a name the host gave wins.
    QString text(QAccessible::Text t) const override {
        const QString given = QAccessibleWidget::text(t);
        if ((t != QAccessible::Name && t != QAccessible::Value) || !given.isEmpty())
            return given;
        const TextLabel& percent = gauge().PercentLabel();
        return percent.Visible() ? percent.Caption() : QString();
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }

    QVariant currentValue() const override { return int(gauge().Value()); }
    // The bar shows what its host puts; a reader only reads it.
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

private:
    const OmbrelGauge& gauge() const { return static_cast<GaugeWidget*>(widget())->gauge(); }
};

} // namespace

QAccessibleInterface* GaugeAccessible(const QString& className, QObject* object) {
    if (className != QLatin1String(GaugeWidget::staticMetaObject.className()))
        return nullptr;
    if (auto* bar = qobject_cast<GaugeWidget*>(object))
        return new BarAccessible(bar);
    return nullptr;
}

} // namespace gauge
