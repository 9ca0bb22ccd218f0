// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/decoration/OptionAccessible.h"

#include "components/button/QueuedPressAccessible.h"

#include <QRadioButton>

namespace {

class OptionAccessible final : public QueuedPressAccessible {
public:
    explicit OptionAccessible(QRadioButton* option)
        : QueuedPressAccessible(option, QAccessible::RadioButton, [](QWidget* pressed) {
            if (pressed->isEnabled())
                static_cast<QRadioButton*>(pressed)->click();
        }) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return option()->text();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = option()->isChecked();
        return s;
    }

private:
    QRadioButton* option() const { return static_cast<QRadioButton*>(widget()); }
};

QAccessibleInterface* optionButtonAccessible(const QString& className, QObject* object) {
    if (className != QLatin1String("QRadioButton"))
        return nullptr;
    auto* option = qobject_cast<QRadioButton*>(object);
    return option ? new OptionAccessible(option) : nullptr;
}

} // namespace

void UseOptionButtonAccessibility() {
    static const bool installed = (QAccessible::installFactory(optionButtonAccessible), true);
    Q_UNUSED(installed);
}
