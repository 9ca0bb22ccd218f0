// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/decoration/OptionAccessible.h"

#include <QAccessibleWidget>
#include <QPointer>
#include <QRadioButton>

namespace {

class OptionAccessible final : public QAccessibleWidget {
public:
    explicit OptionAccessible(QRadioButton* option)
        : QAccessibleWidget(option, QAccessible::RadioButton) {}

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

    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }

    // Clicked from the event loop, as a mouse click would be.
    void doAction(const QString& name) override {
        if (name != pressAction()) {
            QAccessibleWidget::doAction(name);
            return;
        }
        QMetaObject::invokeMethod(
            option(),
            [pressed = QPointer<QRadioButton>(option())] {
                if (pressed && pressed->isEnabled())
                    pressed->click();
            },
            Qt::QueuedConnection);
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
