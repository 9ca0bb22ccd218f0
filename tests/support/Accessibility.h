// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Switches Qt's accessibility on without a screen reader, as Qt's own tests do, and records the
// events a reader would be sent: (object, event, value told).
#pragma once

#include <QAccessible>
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#include <tuple>
#include <vector>

using AccessibilityEvent = std::tuple<QObject*, QAccessible::Event, int>;

inline std::vector<AccessibilityEvent>& RecordAccessibilityEvents() {
    static std::vector<AccessibilityEvent> events;
    QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
    QAccessible::installUpdateHandler([](QAccessibleEvent* e) {
        const bool value = e->type() == QAccessible::ValueChanged;
        events.emplace_back(e->object(), e->type(),
                            value ? static_cast<QAccessibleValueChangeEvent*>(e)->value().toInt()
                                  : 0);
    });
    events.clear();
    return events;
}
