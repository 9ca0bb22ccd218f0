// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/dbus/Bus.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>

namespace platform::dbus {

bool ServiceAvailable(const QDBusConnection& bus, const QString& service) {
    if (!bus.isConnected() || !bus.interface())
        return false;
    if (bus.interface()->isServiceRegistered(service).value())
        return true;
    const QDBusReply<QStringList> startable = bus.interface()->activatableServiceNames();
    return startable.isValid() && startable.value().contains(service);
}

} // namespace platform::dbus
