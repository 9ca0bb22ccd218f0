// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Notifications through the desktop's notification service (org.freedesktop.Notifications).
// When the service offers actions, a notice about a file carries "Open folder", which shows the
// file in the desktop's file manager (org.freedesktop.FileManager1) or, without one, opens its
// folder with xdg-open.
#pragma once

#include "platform/DesktopSession.h"

#include <QDBusConnection>
#include <QObject>
#include <functional>
#include <map>
#include <memory>

namespace platform::dbus {

class NotificationsProxy;

class DbusNotifier final : public QObject, public Notifier {
    Q_OBJECT
public:
    // Opens a folder when no file manager answers on the bus; true when something started.
    using FolderOpener = std::function<bool(const QString& folder)>;

    explicit DbusNotifier(const QDBusConnection& bus = QDBusConnection::sessionBus(),
                          FolderOpener openFolder = {}, QObject* parent = nullptr);
    ~DbusNotifier() override;

    // Sends the notice and returns at once; false when no notification service is there.
    bool notify(const Notice& notice) override;

private:
    void send(const Notice& notice, const QStringList& capabilities);
    void actionInvoked(uint id, const QString& action);
    void showFile(const QString& file);

    QDBusConnection bus_;
    FolderOpener openFolder_;
    std::unique_ptr<NotificationsProxy> proxy_;
    // The file of each notification still showing whose "Open folder" may be chosen.
    std::map<uint, QString> files_;
};

} // namespace platform::dbus
