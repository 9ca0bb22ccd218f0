// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// regctl: registers a control library in a control registry by calling its DllRegisterServer,
// or unregisters it with -u by calling its DllUnregisterServer. The registry is the user's own,
// or with --system the one every user of the machine reads (an installed package's).
//   regctl [-u] [-s] [--system] <library>
// Exit status: 0 done, 1 failed, 2 usage error.
#include "platform/control/Com.h"
#include "platform/control/Registry.h"
#include "platform/control/TrustedPath.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <cstdio>

namespace ctl = platform::control;

namespace {

constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

int fail(const QString& message) {
    std::fprintf(stderr, "regctl: %s\n", qPrintable(message));
    return ExitFailed;
}

int usageError(const QString& message) {
    std::fprintf(stderr, "regctl: %s\nTry 'regctl --help'.\n", qPrintable(message));
    return ExitUsage;
}

// A system registry left without entries goes, with its folder when that is empty too, so that
// removing the last package that registered a control leaves nothing behind.
void removeIfEmpty(const QString& registry) {
    QFile file(registry);
    if (!file.open(QIODevice::ReadOnly) || file.size() > 1024 * 1024 ||
        !file.readAll().trimmed().isEmpty())
        return;
    file.close();
    if (QFile::remove(registry))
        QDir().rmdir(QFileInfo(registry).absolutePath());
}

// Every user reads the system registry, whatever root's umask made of it.
void letEveryoneRead(const QString& registry) {
    using P = QFileDevice;
    if (!QFileInfo::exists(registry))
        return;
    const auto read =
        P::ReadOwner | P::WriteOwner | P::ReadUser | P::WriteUser | P::ReadGroup | P::ReadOther;
    QFile::setPermissions(registry, read);
    QFile::setPermissions(QFileInfo(registry).absolutePath(),
                          read | P::ExeOwner | P::ExeUser | P::ExeGroup | P::ExeOther);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("regctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLORY_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Registers a control library such as libombrel.so, so that programs can "
                       "create its controls.\nYour own registry: %1\nThe system registry, read by "
                       "every user after their own: %2")
            .arg(ctl::ControlRegistryPath(), ctl::InstalledSystemRegistryPath()));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption unregister(
        QStringList{QStringLiteral("u"), QStringLiteral("unregister")},
        QStringLiteral("Remove the library's entries instead."));
    const QCommandLineOption silent(QStringList{QStringLiteral("s"), QStringLiteral("silent")},
                                    QStringLiteral("Print nothing on success."));
    const QCommandLineOption system(
        QStringLiteral("system"),
        QStringLiteral("Write the system registry instead of your own (needs root's rights)."));
    parser.addOption(unregister);
    parser.addOption(silent);
    parser.addOption(system);
    parser.addPositionalArgument(QStringLiteral("library"),
                                 QStringLiteral("The control library, e.g. libombrel.so."));
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("regctl %s\n", QUILLORY_VERSION);
        return 0;
    }
    if (parser.positionalArguments().size() != 1)
        return usageError(QStringLiteral("name one control library"));

    if (parser.isSet(system))
        qputenv(ctl::RegistrationTargetVariable,
                QFile::encodeName(ctl::InstalledSystemRegistryPath()));
    const QString registry = ctl::RegistrationTargetPath();

    const QString path = QFileInfo(parser.positionalArguments().first()).absoluteFilePath();
    if (!QFileInfo(path).isFile())
        return fail(QStringLiteral("%1: no such file").arg(path));
    // Loading the library runs its code here, as root when registering for the system.
    if (const QString why = ctl::WhyNotTrusted(path); !why.isEmpty())
        return fail(QStringLiteral("refusing to load %1: %2; a control library runs inside every "
                                   "program that creates its controls, so it must lie where no "
                                   "other user can change it")
                        .arg(path, why));
    QLibrary library(path);
    if (!library.load())
        return fail(QStringLiteral("cannot load %1: %2").arg(path, library.errorString()));

    const bool removing = parser.isSet(unregister);
    const char* entry = removing ? "DllUnregisterServer" : "DllRegisterServer";
    const auto function = reinterpret_cast<ctl::DllRegisterServerFn>(library.resolve(entry));
    if (!function)
        return fail(QStringLiteral("%1 is not a control library: it has no %2")
                        .arg(path, QLatin1String(entry)));
    const ctl::HResult result = function();
    if (ctl::Failed(result))
        return fail(QStringLiteral("%1 in %2 failed: %3 (%4)")
                        .arg(QLatin1String(entry), path, ctl::ErrorText(result), registry));
    if (parser.isSet(system) && removing) {
        removeIfEmpty(registry);
    } else if (parser.isSet(system)) {
        letEveryoneRead(registry);
        if (!ctl::SystemRegistryPaths().contains(registry))
            std::fprintf(stderr,
                         "regctl: note: programs read the system registries in $XDG_DATA_DIRS "
                         "(%s), which do not include %s\n",
                         qPrintable(ctl::SystemRegistryPaths().join(QStringLiteral(", "))),
                         qPrintable(registry));
    }
    if (!parser.isSet(silent))
        std::printf("%s %s in %s\n", removing ? "Unregistered" : "Registered", qPrintable(path),
                    qPrintable(registry));
    return 0;
}
