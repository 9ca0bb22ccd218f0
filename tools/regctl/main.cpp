// regctl: registers a control library in the per-user control registry by calling its
// DllRegisterServer, or unregisters it with -u by calling its DllUnregisterServer.
//   regctl [-u] [-s] <library>
#include "platform/control/Com.h"
#include "platform/control/Registry.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>
#include <cstdio>

namespace ctl = platform::control;

namespace {

int fail(const QString& message) {
    std::fprintf(stderr, "regctl: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("regctl"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Registers a control library in the per-user control registry (%1).")
            .arg(ctl::ControlRegistryPath()));
    parser.addHelpOption();
    const QCommandLineOption unregister(
        QStringList{QStringLiteral("u"), QStringLiteral("unregister")},
        QStringLiteral("Remove the library's entries instead."));
    const QCommandLineOption silent(QStringList{QStringLiteral("s"), QStringLiteral("silent")},
                                    QStringLiteral("Print nothing on success."));
    parser.addOption(unregister);
    parser.addOption(silent);
    parser.addPositionalArgument(QStringLiteral("library"),
                                 QStringLiteral("The control library, e.g. libombrel.so."));
    parser.process(app);
    if (parser.positionalArguments().size() != 1) {
        std::fprintf(stderr, "%s", qPrintable(parser.helpText()));
        return 2;
    }

    const QString path = QFileInfo(parser.positionalArguments().first()).absoluteFilePath();
    if (!QFileInfo(path).isFile())
        return fail(QStringLiteral("%1: no such file").arg(path));
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
        return fail(QStringLiteral("%1 in %2 failed: %3")
                        .arg(QLatin1String(entry), path, ctl::ErrorText(result)));
    if (!parser.isSet(silent))
        std::printf("%s %s in %s\n", removing ? "Unregistered" : "Registered", qPrintable(path),
                    qPrintable(ctl::ControlRegistryPath()));
    return 0;
}
