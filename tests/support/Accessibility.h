// Switches Qt's accessibility on without a screen reader, as its own tests do, and records the
// events a reader would be sent.
#pragma once

#include <QAccessible>
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#include <vector>

class AccessibilityEvents {
public:
    AccessibilityEvents() {
        if (QPlatformAccessibility* platform =
                QGuiApplicationPrivate::platformIntegration()->accessibility())
            platform->setActive(true);
        recorded().clear();
        previous_ = QAccessible::installUpdateHandler([](QAccessibleEvent* event) {
            const int value =
                event->type() == QAccessible::ValueChanged
                    ? static_cast<QAccessibleValueChangeEvent*>(event)->value().toInt()
                    : 0;
            recorded().push_back({event->object(), event->type(), value});
        });
    }
    ~AccessibilityEvents() { QAccessible::installUpdateHandler(previous_); }

    struct Event {
        QObject* object;
        QAccessible::Event type;
        int value;
    };
    // The values told of object, in order.
    std::vector<int> valuesOf(const QObject* object) const {
        std::vector<int> values;
        for (const Event& e : recorded())
            if (e.object == object && e.type == QAccessible::ValueChanged)
                values.push_back(e.value);
        return values;
    }
    bool named(const QObject* object) const {
        for (const Event& e : recorded())
            if (e.object == object && e.type == QAccessible::NameChanged)
                return true;
        return false;
    }
    void clear() { recorded().clear(); }

private:
    static std::vector<Event>& recorded() {
        static std::vector<Event> events;
        return events;
    }
    QAccessible::UpdateHandler previous_ = nullptr;
};
