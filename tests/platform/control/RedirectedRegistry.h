// A fixture whose control registry lives in a fresh temporary data home.
#pragma once

#include "platform/control/Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

class RedirectedRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        saved = qgetenv("XDG_DATA_HOME");
        hadHome = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
        ASSERT_TRUE(platform::control::ControlRegistryPath().startsWith(home.path()));
    }
    void TearDown() override {
        if (hadHome)
            qputenv("XDG_DATA_HOME", saved);
        else
            qunsetenv("XDG_DATA_HOME");
    }
    QString RegistryText() const {
        QFile file(platform::control::ControlRegistryPath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    void WriteRegistry(const QByteArray& bytes) const {
        const QString path = platform::control::ControlRegistryPath();
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QTemporaryDir home;
    QByteArray saved;
    bool hadHome = false;
};
