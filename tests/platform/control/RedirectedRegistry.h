// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A fixture whose control registries live in a fresh temporary folder: the per-user one in a
// data home of its own, the system one in the only system data folder.
#pragma once

#include "platform/control/Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

class RedirectedRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        Redirect("XDG_DATA_HOME", home.path());
        Redirect("XDG_DATA_DIRS", home.filePath(QStringLiteral("system")));
        Redirect(platform::control::RegistrationTargetVariable, QString());
        ASSERT_TRUE(platform::control::ControlRegistryPath().startsWith(home.path()));
        ASSERT_EQ(platform::control::SystemRegistryPaths(), QStringList{SystemRegistry()});
    }
    void TearDown() override {
        for (const auto& [name, value] : saved) {
            if (value.isNull())
                qunsetenv(name);
            else
                qputenv(name, value);
        }
    }
    QString SystemRegistry() const {
        return home.filePath(QStringLiteral("system/controls/registry.ini"));
    }
    QString RegistryText(const QString& path = platform::control::ControlRegistryPath()) const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    void WriteRegistry(const QByteArray& bytes,
                       const QString& path = platform::control::ControlRegistryPath()) const {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QTemporaryDir home;

private:
    void Redirect(const char* name, const QString& value) {
        saved.emplace_back(name, qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray());
        if (value.isEmpty())
            qunsetenv(name);
        else
            qputenv(name, QFile::encodeName(value));
    }

    std::vector<std::pair<const char*, QByteArray>> saved;
};
