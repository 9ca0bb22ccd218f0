// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/button/ButtonAccessible.h"

#include "components/button/DappletButton.h"
#include "components/button/QueuedPressAccessible.h"

namespace {

class ButtonAccessible final : public QueuedPressAccessible {
public:
    explicit ButtonAccessible(DappletButton* button)
        : QueuedPressAccessible(button, QAccessible::Button, [](QWidget* pressed) {
            static_cast<DappletButton*>(pressed)->press();
        }) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return button()->caption();
        return QAccessibleWidget::text(t);
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
