// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Keeps the session from idling and the machine from sleeping while a run goes on, through the
// first of these the session offers: the desktop portal (org.freedesktop.portal.Inhibit),
// logind on the system bus (org.freedesktop.login1, "sleep:idle"), the screen saver
// (org.freedesktop.ScreenSaver). With none of them there, nothing is held.
#pragma once

#include "platform/DesktopSession.h"

#include <QDBusConnection>
#include <vector>

namespace platform::dbus {

enum class HoldVia { Portal, Login1, ScreenSaver };

class DbusInhibitor final : public SleepInhibitor {
public:
    // application: the name the services show beside the reason.
    DbusInhibitor(QString application, std::vector<HoldVia> order,
                  const QDBusConnection& session = QDBusConnection::sessionBus(),
                  const QDBusConnection& system = QDBusConnection::systemBus());

    std::unique_ptr<Inhibition> inhibit(const QString& reason) override;

private:
    std::unique_ptr<Inhibition> viaPortal(const QString& reason);
    std::unique_ptr<Inhibition> viaLogin1(const QString& reason);
    std::unique_ptr<Inhibition> viaScreenSaver(const QString& reason);

    QString application_;
    std::vector<HoldVia> order_;
    QDBusConnection session_;
    QDBusConnection system_;
};

} // namespace platform::dbus
