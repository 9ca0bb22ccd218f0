// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/dbus/DbusNotifier.h"

#include "platform/dbus/Bus.h"

#include <QDBusAbstractInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace platform::dbus {

namespace {

const QString NotificationsService = QStringLiteral("org.freedesktop.Notifications");
const QString NotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
const QString FileManagerService = QStringLiteral("org.freedesktop.FileManager1");
const QString OpenFolderAction = QStringLiteral("open-folder");

bool openWithXdg(const QString& folder) {
    return QProcess::startDetached(QStringLiteral("xdg-open"), {folder});
}

} // namespace

// The service's signals, connected with type-checked connects through a proxy object.
class NotificationsProxy final : public QDBusAbstractInterface {
    Q_OBJECT
public:
    explicit NotificationsProxy(const QDBusConnection& bus)
        : QDBusAbstractInterface(NotificationsService, NotificationsPath,
                                 "org.freedesktop.Notifications", bus, nullptr) {}

signals:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);
};

DbusNotifier::DbusNotifier(const QDBusConnection& bus, FolderOpener openFolder, QObject* parent)
    : QObject(parent)
    , bus_(bus)
    , openFolder_(openFolder ? std::move(openFolder) : FolderOpener(openWithXdg))
    , proxy_(std::make_unique<NotificationsProxy>(bus)) {
    connect(proxy_.get(), &NotificationsProxy::ActionInvoked, this, &DbusNotifier::actionInvoked);
    connect(proxy_.get(), &NotificationsProxy::NotificationClosed, this,
            [this](uint id, uint) { files_.erase(id); });
}

DbusNotifier::~DbusNotifier() = default;

// Asked without waiting: a service that is slow to answer never holds up the window.
bool DbusNotifier::notify(const Notice& notice) {
    if (!ServiceAvailable(bus_, NotificationsService))
        return false;
    const QDBusMessage ask =
        QDBusMessage::createMethodCall(NotificationsService, NotificationsPath,
                                       NotificationsService, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(ask, CallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, notice](QDBusPendingCallWatcher* call) {
                const QDBusPendingReply<QStringList> capabilities = *call;
                call->deleteLater();
                send(notice, capabilities.isValid() ? capabilities.value() : QStringList());
            });
    return true;
}

void DbusNotifier::send(const Notice& notice, const QStringList& capabilities) {
    const bool withAction =
        !notice.file.isEmpty() && capabilities.contains(QStringLiteral("actions"));
    // A service that reads markup would take an ampersand in a file name for the start of one.
    const bool markup = capabilities.contains(QStringLiteral("body-markup"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("quillory"));
    QDBusMessage message = QDBusMessage::createMethodCall(
        NotificationsService, NotificationsPath, NotificationsService, QStringLiteral("Notify"));
    message << QStringLiteral("Quillory") << uint(0) << QStringLiteral("quillory") << notice.summary
            << (markup ? notice.body.toHtmlEscaped() : notice.body)
            << (withAction ? QStringList{OpenFolderAction, QStringLiteral("Open folder")}
                           : QStringList())
            << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, CallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, file = withAction ? notice.file : QString()](QDBusPendingCallWatcher* call) {
                const QDBusPendingReply<uint> id = *call;
                call->deleteLater();
                if (id.isValid() && !file.isEmpty())
                    files_[id.value()] = file;
            });
}

void DbusNotifier::actionInvoked(uint id, const QString& action) {
    const auto found = files_.find(id);
    if (found == files_.end() || action != OpenFolderAction)
        return;
    showFile(found->second);
}

// The file manager shows the file selected in its folder; a file that is not there (a failed
// run) leaves just the folder to show.
void DbusNotifier::showFile(const QString& file) {
    const QFileInfo info(file);
    const QString folder = info.absolutePath();
    if (!ServiceAvailable(bus_, FileManagerService)) {
        openFolder_(folder);
        return;
    }
    const bool there = info.exists();
    QDBusMessage show = QDBusMessage::createMethodCall(
        FileManagerService, QStringLiteral("/org/freedesktop/FileManager1"), FileManagerService,
        there ? QStringLiteral("ShowItems") : QStringLiteral("ShowFolders"));
    show << QStringList{QUrl::fromLocalFile(there ? info.absoluteFilePath() : folder).toString()}
         << QString();
    bus_.send(show);
}

} // namespace platform::dbus

#include "DbusNotifier.moc"
