// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A private D-Bus of the test's own, with no service but the python3-dbusmock stand-ins the test
// starts on it, each logging the calls it gets; nothing reaches the session of whoever runs the
// tests.
#pragma once

#include "tests/support/EventWait.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

class PrivateBus {
public:
    PrivateBus() {
        QFile config(dir.filePath("bus.conf"));
        config.open(QIODevice::WriteOnly);
        config.write("<busconfig><type>session</type><listen>unix:dir=" + dir.path().toUtf8() +
                     "</listen><policy context=\"default\"><allow send_destination=\"*\" "
                     "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
                     "</busconfig>");
        config.close();
        daemon_.start("dbus-daemon",
                      {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
        daemon_.waitForReadyRead(10000);
        address = QString::fromUtf8(daemon_.readLine()).trimmed();
        bus = QDBusConnection::connectToBus(address, "private");
    }
    ~PrivateBus() {
        QDBusConnection::disconnectFromBus("private");
        daemon_.kill();
        daemon_.waitForFinished();
    }

    QTemporaryDir dir;
    QString address;
    QDBusConnection bus{QString()};

private:
    QProcess daemon_;
};

// python3 -m dbusmock with arguments (a template, or the bare object name, path and interface),
// claiming name with its main object at path, and methods added to that object, each as name,
// in and out signatures, and the Python that answers.
class MockService {
public:
    MockService(PrivateBus& bus, QString name, QString path, const QStringList& arguments,
                std::initializer_list<QStringList> methods = {})
        : bus_(bus.bus)
        , name_(std::move(name))
        , path_(std::move(path))
        , log_(bus.dir.filePath(name_ + ".log")) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address);
        process_.setProcessEnvironment(env);
        process_.start(SYSTEM_PYTHON,
                       QStringList{"-m", "dbusmock", "--session", "-l", log_} + arguments);
        EXPECT_TRUE(WaitUntil([this] { return bus_.interface()->isServiceRegistered(name_); }))
            << "no " << name_.toStdString();
        for (const QStringList& method : methods)
            mock("AddMethod", {"", method[0], method[1], method[2], method[3]});
    }
    ~MockService() {
        process_.terminate();
        process_.waitForFinished();
    }

    QDBusMessage mock(const QString& method, const QVariantList& args) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(name_, path_, "org.freedesktop.DBus.Mock", method);
        call.setArguments(args);
        return bus_.call(call);
    }
    // The calls so far, a line each: time, method, arguments as Python writes them.
    QString log() const {
        QFile file(log_);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    bool saw(const QString& call) const {
        return WaitUntil([&] { return log().contains(call); }, 10000);
    }

private:
    QDBusConnection bus_;
    QString name_;
    QString path_;
    QString log_;
    QProcess process_;
};
