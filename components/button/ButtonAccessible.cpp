// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/button/ButtonAccessible.h"

#include "components/button/DappletButton.h"

#include <QAccessibleWidget>
#include <QPointer>

namespace {

class ButtonAccessible final : public QAccessibleWidget {
public:
    explicit ButtonAccessible(DappletButton* button)
        : QAccessibleWidget(button, QAccessible::Button) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return button()->caption();
        return QAccessibleWidget::text(t);
    }

    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }

    // The click comes from the event loop, as a mouse click would: a reader that presses a
    // button whose handler opens a modal window must not wait for that window to close.
    void doAction(const QString& name) override {
        if (name != pressAction()) {
            QAccessibleWidget::doAction(name);
            return;
        }
        QMetaObject::invokeMethod(
            button(),
            [pressed = QPointer<DappletButton>(button())] {
                if (pressed)
                    pressed->press();
            },
            Qt::QueuedConnection);
    }

private:
    DappletButton* button() const { return static_cast<DappletButton*>(widget()); }
};

} // namespace

QAccessibleInterface* DappletButtonAccessible(const QString& className, QObject* object) {
    if (className != QLatin1String(DappletButton::staticMetaObject.className()))
        return nullptr;
    if (auto* button = qobject_cast<DappletButton*>(object))
        return new ButtonAccessible(button);
    return nullptr;
}
