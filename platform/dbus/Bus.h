// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Small helpers for talking to the desktop's services over D-Bus.
#pragma once

#include <QDBusConnection>
#include <QString>

namespace platform::dbus {

// A service that does not answer within this time is taken as absent; nothing waits longer.
inline constexpr int CallTimeoutMs = 2000;

// True when the bus is there and the service runs on it, or the bus starts it when called.
bool ServiceAvailable(const QDBusConnection& bus, const QString& service);

} // namespace platform::dbus
