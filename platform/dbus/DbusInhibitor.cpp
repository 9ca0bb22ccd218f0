// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/dbus/DbusInhibitor.h"

#include "platform/dbus/Bus.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>

namespace platform::dbus {

namespace {

const QString PortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString Login1Service = QStringLiteral("org.freedesktop.login1");
const QString ScreenSaverService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString ScreenSaverPath = QStringLiteral("/org/freedesktop/ScreenSaver");

// What the portal's Inhibit takes: suspending (4) and the session going idle (8).
constexpr uint PortalSuspendAndIdle = 4 | 8;

// The portal hands out a request object; closing it ends the hold.
class PortalHold final : public Inhibition {
public:
    PortalHold(const QDBusConnection& bus, QString handle)
        : bus_(bus)
        , handle_(std::move(handle)) {}
    ~PortalHold() override {
        bus_.call(QDBusMessage::createMethodCall(PortalService, handle_,
                                                 QStringLiteral("org.freedesktop.portal.Request"),
                                                 QStringLiteral("Close")),
                  QDBus::Block, CallTimeoutMs);
    }

private:
    QDBusConnection bus_;
    QString handle_;
};

// logind holds the lock for as long as the descriptor it handed out stays open.
class Login1Hold final : public Inhibition {
public:
    explicit Login1Hold(QDBusUnixFileDescriptor descriptor)
        : descriptor_(std::move(descriptor)) {}

private:
    QDBusUnixFileDescriptor descriptor_;
};

class ScreenSaverHold final : public Inhibition {
public:
    ScreenSaverHold(const QDBusConnection& bus, uint cookie)
        : bus_(bus)
        , cookie_(cookie) {}
    ~ScreenSaverHold() override {
        QDBusMessage release = QDBusMessage::createMethodCall(
            ScreenSaverService, ScreenSaverPath, ScreenSaverService, QStringLiteral("UnInhibit"));
        release << cookie_;
        // Waited for: a program that ends right after must not leave the hold behind.
        bus_.call(release, QDBus::Block, CallTimeoutMs);
    }

private:
    QDBusConnection bus_;
    uint cookie_;
};

} // namespace

DbusInhibitor::DbusInhibitor(QString application, std::vector<HoldVia> order,
                             const QDBusConnection& session, const QDBusConnection& system)
    : application_(std::move(application))
    , order_(std::move(order))
    , session_(session)
    , system_(system) {
}

std::unique_ptr<Inhibition> DbusInhibitor::inhibit(const QString& reason) {
    for (const HoldVia via : order_) {
        std::unique_ptr<Inhibition> hold;
        switch (via) {
        case HoldVia::Portal:
            hold = viaPortal(reason);
            break;
        case HoldVia::Login1:
            hold = viaLogin1(reason);
            break;
        case HoldVia::ScreenSaver:
            hold = viaScreenSaver(reason);
            break;
        }
        if (hold)
            return hold;
    }
    return nullptr;
}

std::unique_ptr<Inhibition> DbusInhibitor::viaPortal(const QString& reason) {
    if (!ServiceAvailable(session_, PortalService))
        return nullptr;
    QDBusMessage call = QDBusMessage::createMethodCall(
        PortalService, QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Inhibit"), QStringLiteral("Inhibit"));
    call << QString() << PortalSuspendAndIdle << QVariantMap{{QStringLiteral("reason"), reason}};
    const QDBusReply<QDBusObjectPath> handle = session_.call(call, QDBus::Block, CallTimeoutMs);
    if (!handle.isValid())
        return nullptr;
    return std::make_unique<PortalHold>(session_, handle.value().path());
}

std::unique_ptr<Inhibition> DbusInhibitor::viaLogin1(const QString& reason) {
    if (!ServiceAvailable(system_, Login1Service))
        return nullptr;
    QDBusMessage call = QDBusMessage::createMethodCall(
        Login1Service, QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << application_ << reason << QStringLiteral("block");
    const QDBusReply<QDBusUnixFileDescriptor> descriptor =
        system_.call(call, QDBus::Block, CallTimeoutMs);
    if (!descriptor.isValid() || !descriptor.value().isValid())
        return nullptr;
    return std::make_unique<Login1Hold>(descriptor.value());
}

std::unique_ptr<Inhibition> DbusInhibitor::viaScreenSaver(const QString& reason) {
    if (!ServiceAvailable(session_, ScreenSaverService))
        return nullptr;
    QDBusMessage call = QDBusMessage::createMethodCall(
        ScreenSaverService, ScreenSaverPath, ScreenSaverService, QStringLiteral("Inhibit"));
    call << application_ << reason;
    const QDBusReply<uint> cookie = session_.call(call, QDBus::Block, CallTimeoutMs);
    if (!cookie.isValid())
        return nullptr;
    return std::make_unique<ScreenSaverHold>(session_, cookie.value());
}

} // namespace platform::dbus
