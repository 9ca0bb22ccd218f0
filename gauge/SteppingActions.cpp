// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "gauge/SteppingActions.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QScopedValueRollback>

namespace gauge {

namespace {

// The connection Qt's bridge opens to the accessibility bus, and where it serves its objects.
const QString BridgeConnection = QStringLiteral("a11y");
const QString AccessiblePath = QStringLiteral("/org/a11y/atspi/accessible");
const QString ActionInterface = QStringLiteral("org.a11y.atspi.Action");
const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// Only the bridge's own thread handles its messages and asks the bar.
bool answeringActions = false;

bool asksForActions(const QDBusMessage& message) {
    if (message.interface() == ActionInterface)
        return true;
    // NActions is a property, asked for through the properties interface.
    const QList<QVariant> arguments = message.arguments();
    return message.interface() == PropertiesInterface && !arguments.isEmpty() &&
           arguments.constFirst().toString() == ActionInterface;
}

class ActionFilter final : public QDBusVirtualObject {
public:
    // A child of the bridge: it goes when the bridge goes, and QtDBus unregisters it then.
    explicit ActionFilter(QDBusVirtualObject* bridge)
        : QDBusVirtualObject(bridge)
        , bridge_(bridge) {}

    QString introspect(const QString& path) const override { return bridge_->introspect(path); }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QScopedValueRollback marked(answeringActions, asksForActions(message));
        return bridge_->handleMessage(message, connection);
    }

private:
    QDBusVirtualObject* bridge_;
};

} // namespace

bool AnsweringActionQuestion() {
    return answeringActions;
}

void HideSteppingActions() {
    QDBusConnection bus(BridgeConnection);
    if (!bus.isConnected())
        return;
    auto* served = qobject_cast<QDBusVirtualObject*>(bus.objectRegisteredAt(AccessiblePath));
    if (!served || dynamic_cast<ActionFilter*>(served))
        return;
    auto* filter = new ActionFilter(served);
    bus.unregisterObject(AccessiblePath);
    if (bus.registerVirtualObject(AccessiblePath, filter, QDBusConnection::SubPath))
        return;
    delete filter;
    bus.registerVirtualObject(AccessiblePath, served, QDBusConnection::SubPath);
}

} // namespace gauge
