// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The press action a screen reader finds on our clickable controls (the skinned buttons, the
// option buttons). The press comes from the event loop, as a mouse click would: a reader that
// presses a control whose handler opens a modal window must not wait for that window to close.
#pragma once

#include <QAccessibleWidget>
#include <QPointer>
#include <QWidget>

class QueuedPressAccessible : public QAccessibleWidget {
public:
    // What pressing does to the widget, should it still exist when the event loop gets there.
    using Press = void (*)(QWidget*);

    QueuedPressAccessible(QWidget* widget, QAccessible::Role role, Press press)
        : QAccessibleWidget(widget, role)
        , press_(press) {}

    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& name) override {
        if (name != pressAction()) {
            QAccessibleWidget::doAction(name);
            return;
        }
        QMetaObject::invokeMethod(
            widget(),
            [pressed = QPointer<QWidget>(widget()), press = press_] {
                if (pressed)
                    press(pressed);
            },
            Qt::QueuedConnection);
    }

private:
    Press press_;
};
