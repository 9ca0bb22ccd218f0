// A private D-Bus of the test's own, with no services but those the test starts on it:
// python3-dbusmock stand-ins for the desktop's notification daemon, logind, portal, screen saver
// and file manager. Nothing reaches the real session of whoever runs the tests.
#pragma once

#include "tests/support/EventWait.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>
#include <vector>

#ifndef SYSTEM_PYTHON
#error "SYSTEM_PYTHON must name the Python that has dbusmock"
#endif

class PrivateBus {
public:
    PrivateBus() {
        QFile config(dir_.filePath("bus.conf"));
        config.open(QIODevice::WriteOnly);
        config.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                     "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">"
                     "<busconfig><type>session</type><listen>unix:dir=" +
                     dir_.path().toUtf8() +
                     "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                     "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                     "<allow own=\"*\"/>"
                     "</policy></busconfig>");
        config.close();
        daemon_.start("dbus-daemon",
                      {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
        if (daemon_.waitForReadyRead(10000))
            address = QString::fromUtf8(daemon_.readLine()).trimmed();
        bus = QDBusConnection::connectToBus(address, QStringLiteral("private"));
    }
    ~PrivateBus() {
        QDBusConnection::disconnectFromBus(QStringLiteral("private"));
        daemon_.kill();
        daemon_.waitForFinished();
    }

    QString address;
    QDBusConnection bus{QString()};

private:
    QTemporaryDir dir_;
    QProcess daemon_;
};

// A method call a mock received, with its arguments as D-Bus gave them.
struct MockCall {
    QString method;
    QVariantList args;
};

class MockService {
public:
    // arguments: what follows "python3 -m dbusmock --session"; name: the bus name it claims.
    MockService(PrivateBus& bus, const QStringList& arguments, QString name, QString path)
        : bus_(bus)
        , name_(std::move(name))
        , path_(std::move(path)) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address);
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(SYSTEM_PYTHON, QStringList{"-m", "dbusmock", "--session"} + arguments);
        const bool up = WaitUntil(
            [this] { return bus_.bus.interface()->isServiceRegistered(name_).value(); }, 20000);
        EXPECT_TRUE(up) << "dbusmock did not claim " << name_.toStdString();
    }
    ~MockService() {
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished();
    }

    QDBusMessage mock(const QString& method, const QVariantList& args = {},
                      const QString& path = QString()) {
        QDBusMessage call = QDBusMessage::createMethodCall(name_, path.isEmpty() ? path_ : path,
                                                           "org.freedesktop.DBus.Mock", method);
        call.setArguments(args);
        return bus_.bus.call(call, QDBus::Block, 10000);
    }
    void addMethod(const QString& interface, const QString& method, const QString& in,
                   const QString& out, const QString& code, const QString& path = QString()) {
        const QDBusMessage reply = mock("AddMethod", {interface, method, in, out, code}, path);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    }
    std::vector<MockCall> calls(const QString& path = QString()) {
        std::vector<MockCall> found;
        const QDBusMessage reply = mock("GetCalls", {}, path);
        if (reply.arguments().isEmpty())
            return found;
        const auto list = reply.arguments().constFirst().value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            MockCall call;
            qulonglong time = 0;
            list.beginStructure();
            list >> time >> call.method >> call.args;
            list.endStructure();
            found.push_back(call);
        }
        list.endArray();
        return found;
    }
    // Waits for a call of method and returns the first; nothing when the time is up first.
    std::optional<MockCall> waitForCall(const QString& method, const QString& path = QString()) {
        std::optional<MockCall> seen;
        WaitUntil(
            [&] {
                for (const MockCall& call : calls(path)) {
                    if (call.method == method && !seen)
                        seen = call;
                }
                return seen.has_value();
            },
            10000);
        return seen;
    }

private:
    PrivateBus& bus_;
    QString name_;
    QString path_;
    QProcess process_;
};
